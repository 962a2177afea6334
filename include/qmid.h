/* QMID: plays Standard MIDI Files inside a media player's process. The player calls these
   exports from its own thread and receives karaoke cues and download outcomes as messages
   posted to the window that it passed to QMIDEngine_Play. */
#ifndef QMID_H
#define QMID_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QMID_CALL __stdcall
#define QMID_API
#else
#define QMID_CALL
#define QMID_API __attribute__((visibility("default")))
#endif

/* Play modes: the MCI mode numbers. */
#ifndef MCI_MODE_NOT_READY
#define MCI_MODE_NOT_READY 524 /* no song */
#define MCI_MODE_STOP 525      /* the song has played to its end */
#define MCI_MODE_PLAY 526
#define MCI_MODE_SEEK 527
#define MCI_MODE_RECORD 528
#define MCI_MODE_PAUSE 529
#define MCI_MODE_OPEN 530 /* a song is being prepared or downloaded */
#endif

/* Results besides 1 (success) and 0 (the call does not apply in the current mode). */
#define QMID_LOADING 9450          /* Play accepted a URL; MSG_URL_LOADED tells the outcome */
#define QMID_ERR_NETWORK (-9450)   /* no download thread or no internet session */
#define QMID_ERR_DEVICE (-9451)    /* the MIDI output device could not be opened */
#define QMID_ERR_TIMER (-9452)     /* the 20 ms timer could not be started */
#define QMID_ERR_MEMORY (-9453)    /* no memory for the song, or a download without data */
#define QMID_ERR_OPEN (-9454)      /* the file or URL cannot be opened, or holds no bytes */

/* Window messages posted to the player.
   MSG_KARAOKE (wParam, lParam):
     0, address of the song texts (title first)  playback starts at the beginning
     n >= 1, LyricLine*                          show line n
     (uintptr_t)-1, LyricSyllable*               sing this syllable of the shown line
     100000 + L, LyricLine*                      after a seek: line L is current
     (uintptr_t)-2, LyricSyllable*               after a seek: the last syllable passed
     0, 0 then 1, 0                              playback stopped
   MSG_URL_LOADED: wParam = caller id << 16 | 1 on success, lParam = 526 (MCI_MODE_PLAY);
     wParam = caller id << 16 | 2 on failure, lParam = the negative result code.
     Only the low 16 bits of the caller id are kept. */
#define MSG_KARAOKE 0x8384
#define MSG_URL_LOADED 0x8398
#define QMID_CUE_SYLLABLE ((uintptr_t)-1)
#define QMID_CUE_SEEK_SYLLABLE ((uintptr_t)-2)
#define QMID_CUE_SEEK_LINE 100000

/* One karaoke line (264 bytes). The records stay valid until the song is stopped. */
typedef struct LyricLine {
  uint32_t startTime; /* song time in ms at which the line is cued */
  int32_t leadIn;     /* 1: cued ahead of its first syllable; 0: cued while the previous line is sung */
  char text[256];     /* zero-terminated, in the song's own 8-bit encoding */
} LyricLine;

/* One lyric syllable (16 bytes): length bytes at offset in the text of line `line`. */
typedef struct LyricSyllable {
  uint32_t time;
  int32_t line;
  int32_t offset;
  int32_t length;
} LyricSyllable;

#ifdef __cplusplus
#define QMID_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QMID_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QMID_STATIC_ASSERT(sizeof(LyricLine) == 264, "LyricLine is 264 bytes");
QMID_STATIC_ASSERT(offsetof(LyricLine, startTime) == 0, "LyricLine.startTime at 0");
QMID_STATIC_ASSERT(offsetof(LyricLine, leadIn) == 4, "LyricLine.leadIn at 4");
QMID_STATIC_ASSERT(offsetof(LyricLine, text) == 8, "LyricLine.text at 8");
QMID_STATIC_ASSERT(sizeof(LyricSyllable) == 16, "LyricSyllable is 16 bytes");
QMID_STATIC_ASSERT(offsetof(LyricSyllable, time) == 0, "LyricSyllable.time at 0");
QMID_STATIC_ASSERT(offsetof(LyricSyllable, line) == 4, "LyricSyllable.line at 4");
QMID_STATIC_ASSERT(offsetof(LyricSyllable, offset) == 8, "LyricSyllable.offset at 8");
QMID_STATIC_ASSERT(offsetof(LyricSyllable, length) == 12, "LyricSyllable.length at 12");

/* 1 while a song is loaded (any mode but MCI_MODE_NOT_READY). */
QMID_API int32_t QMID_CALL QMIDEngine_IsOpen(void);
/* The play mode; turns MCI_MODE_PLAY into MCI_MODE_STOP once the last event was sent. */
QMID_API int32_t QMID_CALL QMIDEngine_GetMode(void);
/* Song clock in ms; keeps growing after the end until Pause, Seek or Stop. */
QMID_API int32_t QMID_CALL QMIDEngine_GetPosition(void);
QMID_API int32_t QMID_CALL QMIDEngine_GetLength(void);
/* Plays a file path or a URL (any source containing "://"); only with no song loaded. */
QMID_API int32_t QMID_CALL QMIDEngine_Play(void* window, const char* source, int32_t callerId);
QMID_API int32_t QMID_CALL QMIDEngine_Pause(void);
QMID_API int32_t QMID_CALL QMIDEngine_Stop(void);
QMID_API int32_t QMID_CALL QMIDEngine_Resume(void);
/* Moves to a song time in ms and plays from there (also from pause or after the end). */
QMID_API int32_t QMID_CALL QMIDEngine_Seek(uint32_t time);
/* Tempo in beats per minute; the song's own tempo after Play. */
QMID_API int32_t QMID_CALL QMIDEngine_GetTempo(void);
QMID_API void QMID_CALL QMIDEngine_SetTempo(int32_t beatsPerMinute);
/* Transposition in semitones of every note outside the drum channel. */
QMID_API int32_t QMID_CALL QMIDEngine_GetKey(void);
QMID_API void QMID_CALL QMIDEngine_SetKey(int32_t semitones);
/* Fills 20 meter bands with 0..25; returns 1 while playing, else 0 with every band 0. */
QMID_API int32_t QMID_CALL QMIDEngine_GetSpectrum(int32_t* bands);
/* 1 if the song has karaoke lines. */
QMID_API int32_t QMID_CALL QMIDEngine_IsKaraoke(void);
/* One line of text: title, copyright and track names with labels in the user's language. */
QMID_API int32_t QMID_CALL QMIDEngine_GetFileInfo(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QMID_H */
