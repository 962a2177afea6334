/* The public headers from C: the interface values, the record layouts a player reads, and one
   karaoke song played through libqmid.so with its cues arriving on a qwin window. */
#define _POSIX_C_SOURCE 200809L

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "qmid.h"
#include "qwin.h"

static int passed;
static int failed;

static void check(int ok, const char* text, int line) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "headers_test.c:%d: failed: %s\n", line, text);
  }
}

#define CHECK(condition) check((condition) ? 1 : 0, #condition, __LINE__)

static void checkValues(void) {
  CHECK(MCI_MODE_NOT_READY == 524);
  CHECK(MCI_MODE_STOP == 525);
  CHECK(MCI_MODE_PLAY == 526);
  CHECK(MCI_MODE_PAUSE == 529);
  CHECK(MCI_MODE_OPEN == 530);
  CHECK(QMID_LOADING == 9450);
  CHECK(QMID_ERR_NETWORK == -9450);
  CHECK(QMID_ERR_DEVICE == -9451);
  CHECK(QMID_ERR_TIMER == -9452);
  CHECK(QMID_ERR_MEMORY == -9453);
  CHECK(QMID_ERR_OPEN == -9454);
  CHECK(MSG_KARAOKE == 0x8384);
  CHECK(MSG_URL_LOADED == 0x8398);
  CHECK(QMID_CUE_SEEK_LINE == 100000);
  /* -1 and -2 as window message parameters: all ones, and all ones but the lowest bit. */
  CHECK(QMID_CUE_SYLLABLE == UINTPTR_MAX);
  CHECK(QMID_CUE_SEEK_SYLLABLE == UINTPTR_MAX - 1);
  CHECK((QMID_CUE_SEEK_SYLLABLE & 1u) == 0);
  CHECK((QMID_CUE_SEEK_SYLLABLE | 1u) == UINTPTR_MAX);
  CHECK(sizeof(QWinHandle) == sizeof(void*));
}

static void checkLayouts(void) {
  CHECK(sizeof(LyricLine) == 264);
  CHECK(offsetof(LyricLine, startTime) == 0);
  CHECK(offsetof(LyricLine, leadIn) == 4);
  CHECK(offsetof(LyricLine, text) == 8);
  CHECK(sizeof(((LyricLine*)0)->text) == 256);
  CHECK(sizeof(LyricSyllable) == 16);
  CHECK(offsetof(LyricSyllable, time) == 0);
  CHECK(offsetof(LyricSyllable, line) == 4);
  CHECK(offsetof(LyricSyllable, offset) == 8);
  CHECK(offsetof(LyricSyllable, length) == 12);
}

/* A title tag, one lyric line with one syllable and one note; division 500, so one tick is
   one millisecond at the default tempo. */
static const unsigned char kTrack[] = {
    0x00, 0xFF, 0x01, 0x06, '@', 'T', 'S', 'o', 'n', 'g',
    0x00, 0xFF, 0x05, 0x06, '/', 'H', 'e', 'l', 'l', 'o',
    0x00, 0x90, 0x3C, 0x64,
    0x83, 0x74, 0x80, 0x3C, 0x40,
    0x00, 0xFF, 0x2F, 0x00};

static int writeSong(char* path, size_t size) {
  const char* dir = getenv("TMPDIR");
  snprintf(path, size, "%s/qmid_c_interface_XXXXXX", dir && *dir ? dir : "/tmp");
  int fd = mkstemp(path);
  if (fd < 0) return 0;
  FILE* file = fdopen(fd, "wb");
  if (!file) {
    close(fd);
    return 0;
  }
  static const unsigned char header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xF4,
                                         'M', 'T', 'r', 'k', 0, 0, 0, sizeof kTrack};
  int ok = fwrite(header, 1, sizeof header, file) == sizeof header &&
           fwrite(kTrack, 1, sizeof kTrack, file) == sizeof kTrack;
  return fclose(file) == 0 && ok;
}

/* The next message of the window within two seconds; 0 if none came. */
static int nextCue(QWinHandle window, QWinMessage* message) {
  return QWin_Get(window, message, 2000) == 1 && message->message == MSG_KARAOKE;
}

static void checkPlayback(void) {
  QWinHandle window = QWin_Create();
  CHECK(window != NULL);
  if (!window) return;
  QWinMessage message;

  CHECK(QMIDEngine_IsOpen() == 0);
  CHECK(QMIDEngine_GetMode() == MCI_MODE_NOT_READY);

  CHECK(setenv("QMID_MIDI_OUT", "null", 1) == 0);
  CHECK(QMIDEngine_Play(window, "/nonexistent/qmid/song.mid", 1) == -9454);
  CHECK(QMIDEngine_IsOpen() == 0);
  while (QWin_Peek(window, &message) == 1) {
  }

  char path[512];
  int written = writeSong(path, sizeof path);
  CHECK(written);
  if (!written) {
    QWin_Destroy(window);
    return;
  }
  CHECK(QMIDEngine_Play(window, path, 2) == 1);
  CHECK(QMIDEngine_IsOpen() == 1);
  CHECK(QMIDEngine_IsKaraoke() == 1);
  CHECK(QMIDEngine_GetLength() == 500);

  /* The start cue hands over the song texts, title first. */
  CHECK(nextCue(window, &message) && message.wParam == 0 && message.lParam != 0 &&
        strcmp((const char*)message.lParam, "Song") == 0);
  /* Line 1 and its syllable, both due at 0. */
  CHECK(nextCue(window, &message) && message.wParam == 1 && message.lParam != 0);
  if (message.wParam == 1 && message.lParam != 0) {
    const LyricLine* line = (const LyricLine*)message.lParam;
    CHECK(line->startTime == 0);
    CHECK(line->leadIn == 1);
    CHECK(strcmp(line->text, "Hello") == 0);
  }
  CHECK(nextCue(window, &message) && message.wParam == QMID_CUE_SYLLABLE && message.lParam != 0);
  if (message.wParam == QMID_CUE_SYLLABLE && message.lParam != 0) {
    const LyricSyllable* syllable = (const LyricSyllable*)message.lParam;
    CHECK(syllable->time == 0);
    CHECK(syllable->line == 1);
    CHECK(syllable->offset == 0);
    CHECK(syllable->length == 5);
  }

  CHECK(QMIDEngine_Stop() == 1);
  CHECK(QMIDEngine_IsOpen() == 0);
  /* Stop's own stop and the unload's: two pairs. */
  static const uintptr_t stopCues[] = {0, 1, 0, 1};
  for (int i = 0; i < 4; ++i)
    CHECK(QWin_Peek(window, &message) == 1 && message.message == MSG_KARAOKE &&
          message.wParam == stopCues[i] && message.lParam == 0);
  CHECK(QWin_Peek(window, &message) == 0);

  QWin_Destroy(window);
  unlink(path);
}

int main(void) {
  checkValues();
  checkLayouts();
  checkPlayback();
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
