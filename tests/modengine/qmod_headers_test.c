/* qmod.h from C, next to qmid.h (both define the mode numbers), and libqmod.so as a player
   links it: the interface values, the settings record, and what the calls answer with no
   module open. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "qmid.h"
#include "qmod.h"

static int failed;

static void check(int ok, const char* text, int line) {
  if (!ok) {
    ++failed;
    fprintf(stderr, "qmod_headers_test.c:%d: failed: %s\n", line, text);
  }
}

#define CHECK(condition) check((condition) ? 1 : 0, #condition, __LINE__)

int main(void) {
  CHECK(MCI_MODE_NOT_READY == 524);
  CHECK(MCI_MODE_STOP == 525);
  CHECK(MCI_MODE_PLAY == 526);
  CHECK(MCI_MODE_PAUSE == 529);
  CHECK(MCI_MODE_OPEN == 530);
  CHECK(QMOD_ERR_INSTANCE == -9500);
  CHECK(QMOD_ERR_PLUGIN == -9501);
  CHECK(QMOD_ERR_LOAD == -9502);
  CHECK(QMOD_ERR_PLAY == -9503);

  ModuleSettings settings = {44100, 1, 0, 1, 0, 1};
  CHECK(sizeof settings == 24);
  CHECK(((const uint32_t*)&settings)[3] == 1); /* qualityBit3: the fourth 32-bit field */

  char text[4] = "abc";
  CHECK(QMODEngine_IsOpen() == 0);
  CHECK(QMODEngine_GetMode() == MCI_MODE_NOT_READY);
  CHECK(QMODEngine_Close() == 1);
  CHECK(QMODEngine_Play() == 0);
  CHECK(QMODEngine_Pause() == 0);
  CHECK(QMODEngine_Resume() == 0);
  CHECK(QMODEngine_Stop() == 0);
  CHECK(QMODEngine_Seek(1000) == 0);
  CHECK(QMODEngine_GetPosition() == 0);
  CHECK(QMODEngine_GetLength() == 0);
  CHECK(QMODEngine_GetFileInfo(text, (int32_t)sizeof text) == 0);
  CHECK(text[0] == '\0');

  if (failed) return 1;
  puts("qmod.h and libqmod.so: as expected");
  return 0;
}
