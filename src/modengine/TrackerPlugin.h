// The binding to the tracker plug-in: its library handle, the 17 entry points looked up by
// name, and typed calls for the ten that the engine uses. A call that throws answers as the
// plug-in's refusal would, so no exception reaches the mode machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Platform.h"
#include "qmod.h"

#if defined(_WIN32)
#define QMOD_PLUGIN_CALL __stdcall
#else
#define QMOD_PLUGIN_CALL
#endif

namespace qmod {

using PluginInstance = void*;

// Indexes into the entry-point table, in lookup order.
enum EntryPoint : std::size_t {
  kInitialize,
  kShutdown,
  kCreate,
  kCreateEx,
  kDestroy,
  kLoad,
  kSetWindow,
  kPlay,
  kStop,
  kGetVersion,
  kIsReady,
  kIsPlaying,
  kGetMaxPosition,
  kGetCurrentPosition,
  kSetCurrentPosition,
  kRegisterCallback,
  kGetSongLength,
  kEntryPoints
};

// "ModPlug_Initialize" ... "ModPlug_GetSongLength", by EntryPoint.
extern const char* const kEntryNames[kEntryPoints];

// The library's bare name and the text that every instance is created with.
extern const char kPluginName[];
extern const char kParameterText[];

// The signatures of the entry points that are called.
using CreateExCall = PluginInstance(QMOD_PLUGIN_CALL*)(const char* parameters);
using InstanceCall = std::int32_t(QMOD_PLUGIN_CALL*)(PluginInstance instance);
using LoadCall = std::int32_t(QMOD_PLUGIN_CALL*)(PluginInstance instance, const char* path);
using SetWindowCall = std::int32_t(QMOD_PLUGIN_CALL*)(PluginInstance instance, void* window);
using SetPositionCall = std::int32_t(QMOD_PLUGIN_CALL*)(PluginInstance instance,
                                                        std::int32_t position);

struct TrackerPlugin {
  platform::LibraryHandle library;
  void* entries[kEntryPoints];  // all set while library is; none otherwise
};

TrackerPlugin& thePlugin();

// Typed calls, named after the entry points; each needs a bound plug-in.
namespace modplug {
PluginInstance createEx(const char* parameters) noexcept;  // none when it throws
std::int32_t destroy(PluginInstance instance) noexcept;
std::int32_t load(PluginInstance instance, const char* path) noexcept;   // 0 when it throws
std::int32_t setWindow(PluginInstance instance, void* window) noexcept;  // 0 when it throws
std::int32_t play(PluginInstance instance) noexcept;                     // 0 when it throws
std::int32_t stop(PluginInstance instance) noexcept;
std::int32_t isPlaying(PluginInstance instance) noexcept;           // 1 when it throws: no news
std::int32_t getMaxPosition(PluginInstance instance) noexcept;      // 0 when it throws
std::int32_t getCurrentPosition(PluginInstance instance) noexcept;  // 0 when it throws
std::int32_t setCurrentPosition(PluginInstance instance, std::int32_t position) noexcept;
}  // namespace modplug

}  // namespace qmod
