/* QMOD: plays tracker modules inside a media player's process by driving the tracker plug-in
   (npmod32), which it loads at every Open and frees at every Close. One module at a time; the
   library starts no threads and posts no messages, so the player learns that a module has
   ended by polling QMODEngine_GetMode. Calls into the library must not overlap. */
#ifndef QMOD_H
#define QMOD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QMOD_CALL __stdcall
#define QMOD_API
#else
#define QMOD_CALL
#define QMOD_API __attribute__((visibility("default")))
#endif

/* Play modes: the MCI mode numbers (the same as QMID's). */
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
#define QMOD_ERR_INSTANCE (-9500) /* the plug-in made no instance or refused the window */
#define QMOD_ERR_PLUGIN (-9501)   /* the plug-in cannot be loaded or lacks an entry point */
#define QMOD_ERR_LOAD (-9502)     /* the plug-in cannot load the module file */
#define QMOD_ERR_PLAY (-9503)     /* the plug-in did not start playing */

/* How the plug-in renders, written to its settings at every Open (24 bytes). The flags count
   as set when nonzero; each sets one bit of the plug-in's "Quality" value. */
typedef struct ModuleSettings {
  int32_t mixingRate;   /* samples per second, passed on unchanged */
  uint32_t qualityBit0; /* Quality 0x01 */
  uint32_t qualityBit1; /* Quality 0x02 */
  uint32_t qualityBit3; /* Quality 0x08 */
  uint32_t qualityBit4; /* Quality 0x10 */
  uint32_t qualityBit5; /* Quality 0x20 */
} ModuleSettings;

#ifdef __cplusplus
#define QMOD_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QMOD_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QMOD_STATIC_ASSERT(sizeof(ModuleSettings) == 24, "ModuleSettings is 24 bytes");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, mixingRate) == 0, "ModuleSettings.mixingRate at 0");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, qualityBit0) == 4, "ModuleSettings.qualityBit0 at 4");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, qualityBit1) == 8, "ModuleSettings.qualityBit1 at 8");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, qualityBit3) == 12, "ModuleSettings.qualityBit3 at 12");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, qualityBit4) == 16, "ModuleSettings.qualityBit4 at 16");
QMOD_STATIC_ASSERT(offsetof(ModuleSettings, qualityBit5) == 20, "ModuleSettings.qualityBit5 at 20");

/* Opens a module for playing (mode MCI_MODE_OPEN); only with no module open. The path goes to
   the plug-in as given. callerId is accepted for symmetry with QMID and has no effect. With
   no settings record the plug-in keeps the settings it had. */
QMOD_API int32_t QMOD_CALL QMODEngine_Open(void* window, const char* path, int32_t callerId,
                                           const ModuleSettings* settings);
/* Closes the module and frees the plug-in; always 1. */
QMOD_API int32_t QMOD_CALL QMODEngine_Close(void);
/* Plays from the current position: after Open, Stop or Pause. */
QMOD_API int32_t QMOD_CALL QMODEngine_Play(void);
QMOD_API int32_t QMOD_CALL QMODEngine_Pause(void);
QMOD_API int32_t QMOD_CALL QMODEngine_Resume(void);
/* Stops and rewinds to the start. */
QMOD_API int32_t QMOD_CALL QMODEngine_Stop(void);
/* Moves to a position while playing or paused; the mode stays. */
QMOD_API int32_t QMOD_CALL QMODEngine_Seek(uint32_t position);
/* The play mode; turns MCI_MODE_PLAY into MCI_MODE_STOP (rewound) once the module has ended. */
QMOD_API int32_t QMOD_CALL QMODEngine_GetMode(void);
/* Position and length: the plug-in's units times 100 (milliseconds with the stand-in). */
QMOD_API int32_t QMOD_CALL QMODEngine_GetPosition(void);
QMOD_API int32_t QMOD_CALL QMODEngine_GetLength(void);
/* 1 while a module is open (any mode but MCI_MODE_NOT_READY). */
QMOD_API int32_t QMOD_CALL QMODEngine_IsOpen(void);
/* Leaves an empty text (there is no information to give): a zero in the first byte, unless
   the buffer is null or size is below 1. 1 while a module is open. */
QMOD_API int32_t QMOD_CALL QMODEngine_GetFileInfo(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QMOD_H */
