/* What a test controls in the fake tracker plug-in: the answers of its entry points, and a
   log that receives one line per call, such as "ModPlug_Load inst /a.mod". Calls that pass
   the instance the fake made show it as "inst", any other handle as "other". */
#ifndef FAKE_PLUGIN_CONTROL_H
#define FAKE_PLUGIN_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FakePluginControl {
  void (*log)(void* user, const char* line);
  void* user;
  int32_t createFails; /* ModPlug_CreateEx makes no instance */
  int32_t setWindowResult;
  int32_t loadResult;
  int32_t playResult;
  int32_t stopResult;
  int32_t setPositionResult;
  int32_t destroyResult;
  int32_t isPlaying;
  int32_t maxPosition;
  int32_t currentPosition;
} FakePluginControl;

/* A control whose calls all succeed. */
static inline FakePluginControl fakePluginDefaults(void) {
  FakePluginControl c = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0};
  return c;
}

/* Exported by the fake; without a control the fake answers as fakePluginDefaults() says and
   logs nothing. The control must outlive the library's use. */
typedef void (*FakePluginAttach)(FakePluginControl* control);
#define FAKE_PLUGIN_ATTACH "FakePlugin_attach"

#ifdef __cplusplus
}
#endif

#endif
