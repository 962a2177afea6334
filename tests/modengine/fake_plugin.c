/* A tracker plug-in for the engine's tests: every entry point logs its call and answers what
   the test set. Built once whole and once per entry point without that one (FAKE_OMIT is its
   1-based place in the lookup order), so that a test can offer a library lacking one name. */
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>

#include "FakePluginControl.h"

#ifndef FAKE_OMIT
#define FAKE_OMIT 0
#endif

#define EXPORT __attribute__((visibility("default")))

static FakePluginControl* control;
static int instanceObject;

EXPORT void FakePlugin_attach(FakePluginControl* c) {
  control = c;
}

static FakePluginControl answers(void) {
  return control ? *control : fakePluginDefaults();
}

static const char* tag(void* instance) {
  return instance == &instanceObject ? "inst" : "other";
}

static void note(const char* format, ...) __attribute__((format(printf, 1, 2)));

static void note(const char* format, ...) {
  if (!control || !control->log) return;
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  control->log(control->user, line);
}

/* The seven that the engine never calls: present only to be looked up. */
#if FAKE_OMIT != 1
EXPORT int32_t ModPlug_Initialize(void) {
  note("ModPlug_Initialize");
  return 1;
}
#endif
#if FAKE_OMIT != 2
EXPORT int32_t ModPlug_Shutdown(void) {
  note("ModPlug_Shutdown");
  return 1;
}
#endif
#if FAKE_OMIT != 3
EXPORT void* ModPlug_Create(void) {
  note("ModPlug_Create");
  return 0;
}
#endif
#if FAKE_OMIT != 4
EXPORT void* ModPlug_CreateEx(const char* parameters) {
  note("ModPlug_CreateEx %s", parameters ? parameters : "(null)");
  return answers().createFails ? 0 : &instanceObject;
}
#endif
#if FAKE_OMIT != 5
EXPORT int32_t ModPlug_Destroy(void* instance) {
  note("ModPlug_Destroy %s", tag(instance));
  return answers().destroyResult;
}
#endif
#if FAKE_OMIT != 6
EXPORT int32_t ModPlug_Load(void* instance, const char* path) {
  note("ModPlug_Load %s %s", tag(instance), path ? path : "(null)");
  return answers().loadResult;
}
#endif
#if FAKE_OMIT != 7
EXPORT int32_t ModPlug_SetWindow(void* instance, void* window) {
  note("ModPlug_SetWindow %s 0x%" PRIxPTR, tag(instance), (uintptr_t)window);
  return answers().setWindowResult;
}
#endif
#if FAKE_OMIT != 8
EXPORT int32_t ModPlug_Play(void* instance) {
  note("ModPlug_Play %s", tag(instance));
  return answers().playResult;
}
#endif
#if FAKE_OMIT != 9
EXPORT int32_t ModPlug_Stop(void* instance) {
  note("ModPlug_Stop %s", tag(instance));
  return answers().stopResult;
}
#endif
#if FAKE_OMIT != 10
EXPORT int32_t ModPlug_GetVersion(void) {
  note("ModPlug_GetVersion");
  return 1;
}
#endif
#if FAKE_OMIT != 11
EXPORT int32_t ModPlug_IsReady(void* instance) {
  note("ModPlug_IsReady %s", tag(instance));
  return 1;
}
#endif
#if FAKE_OMIT != 12
EXPORT int32_t ModPlug_IsPlaying(void* instance) {
  note("ModPlug_IsPlaying %s", tag(instance));
  return answers().isPlaying;
}
#endif
#if FAKE_OMIT != 13
EXPORT int32_t ModPlug_GetMaxPosition(void* instance) {
  note("ModPlug_GetMaxPosition %s", tag(instance));
  return answers().maxPosition;
}
#endif
#if FAKE_OMIT != 14
EXPORT int32_t ModPlug_GetCurrentPosition(void* instance) {
  note("ModPlug_GetCurrentPosition %s", tag(instance));
  return answers().currentPosition;
}
#endif
#if FAKE_OMIT != 15
EXPORT int32_t ModPlug_SetCurrentPosition(void* instance, int32_t position) {
  note("ModPlug_SetCurrentPosition %s %" PRId32, tag(instance), position);
  return answers().setPositionResult;
}
#endif
#if FAKE_OMIT != 16
EXPORT int32_t ModPlug_RegisterCallback(void* instance, void* callback) {
  note("ModPlug_RegisterCallback %s %p", tag(instance), callback);
  return 1;
}
#endif
#if FAKE_OMIT != 17
EXPORT int32_t ModPlug_GetSongLength(void* instance) {
  note("ModPlug_GetSongLength %s", tag(instance));
  return answers().maxPosition;
}
#endif
