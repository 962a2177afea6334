// The 17 C entry points. Each is a thin wrapper that turns a null handle and any exception
// into a 0 result, so that nothing unwinds into the host.
#include <cmath>
#include <cstdint>
#include <new>

#include "Instance.h"
#include "Params.h"
#include "Settings.h"
#include "npmod32.h"

namespace {

npmod32::Instance* from(void* handle) {
  return static_cast<npmod32::Instance*>(handle);
}

template <typename F>
std::int32_t guarded(void* handle, F&& f) {
  if (!handle) return 0;
  try {
    return f(*from(handle));
  } catch (...) {
    return 0;
  }
}

}  // namespace

extern "C" {

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Initialize(void) {
  return 1;
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Shutdown(void) {
  return 1;
}

NPMOD32_API void* NPMOD32_CALL ModPlug_CreateEx(const char* params) {
  try {
    return new npmod32::Instance(npmod32::parseParams(params), npmod32::readSettings());
  } catch (...) {
    return nullptr;
  }
}

NPMOD32_API void* NPMOD32_CALL ModPlug_Create(void) {
  return ModPlug_CreateEx(nullptr);
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Destroy(void* instance) {
  if (!instance) return 0;
  try {
    delete from(instance);
  } catch (...) {
  }
  return 1;
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Load(void* instance, const char* path) {
  if (!path) return 0;
  return guarded(instance, [&](npmod32::Instance& i) { return i.load(path) ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_SetWindow(void* instance, void* window) {
  return guarded(instance, [&](npmod32::Instance& i) {
    i.setWindow(window);
    return 1;
  });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Play(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) { return i.play() ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_Stop(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) { return i.stop() ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetVersion(void) {
  return 0x00010000;
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_IsReady(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) { return i.isReady() ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_IsPlaying(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) { return i.isPlaying() ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetMaxPosition(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) {
    return static_cast<std::int32_t>(std::ceil(i.durationSeconds() * 10 - 1e-6));
  });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetCurrentPosition(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) {
    return static_cast<std::int32_t>(std::floor(i.positionSeconds() * 10 + 1e-6));
  });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_SetCurrentPosition(void* instance, int32_t position) {
  return guarded(instance, [&](npmod32::Instance& i) { return i.seek(position / 10.0) ? 1 : 0; });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_RegisterCallback(void* instance, ModPlugCallback callback,
                                                          void* user) {
  return guarded(instance, [&](npmod32::Instance& i) {
    i.setCallback(callback, user);
    return 1;
  });
}

NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetSongLength(void* instance) {
  return guarded(instance, [](npmod32::Instance& i) {
    return static_cast<std::int32_t>(std::lround(i.durationSeconds() * 1000));
  });
}

}  // extern "C"
