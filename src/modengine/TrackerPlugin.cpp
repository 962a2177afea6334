// Binding the tracker plug-in: load by bare name, look up every entry point, write the
// settings, create the instance for the player's window; and the release in reverse.
#include "TrackerPlugin.h"

#include "ModuleEngine.h"

namespace qmod {

const char* const kEntryNames[kEntryPoints] = {"ModPlug_Initialize",
                                               "ModPlug_Shutdown",
                                               "ModPlug_Create",
                                               "ModPlug_CreateEx",
                                               "ModPlug_Destroy",
                                               "ModPlug_Load",
                                               "ModPlug_SetWindow",
                                               "ModPlug_Play",
                                               "ModPlug_Stop",
                                               "ModPlug_GetVersion",
                                               "ModPlug_IsReady",
                                               "ModPlug_IsPlaying",
                                               "ModPlug_GetMaxPosition",
                                               "ModPlug_GetCurrentPosition",
                                               "ModPlug_SetCurrentPosition",
                                               "ModPlug_RegisterCallback",
                                               "ModPlug_GetSongLength"};

const char kPluginName[] = "npmod32.dll";
// No looping: the plug-in stops by itself at the end, which is how GetMode sees the end.
const char kParameterText[] = "volume|100|loop|false|autostart|false|controls|none|hidden|true";

TrackerPlugin& thePlugin() {
  static TrackerPlugin plugin{};  // constant-initialized: no construction order to care about
  return plugin;
}

namespace {

template <class Call>
Call entry(EntryPoint which) {
  return reinterpret_cast<Call>(thePlugin().entries[which]);
}

// Runs one plug-in call; what it throws becomes the given answer.
template <class Run>
auto shielded(Run run, decltype(run()) onThrow) noexcept -> decltype(run()) {
  try {
    return run();
  } catch (...) {
    return onThrow;
  }
}

void clearEntries(TrackerPlugin& plugin) {
  for (void*& slot : plugin.entries) slot = nullptr;
}

}  // namespace

namespace modplug {

PluginInstance createEx(const char* parameters) noexcept {
  return shielded([&] { return entry<CreateExCall>(kCreateEx)(parameters); }, PluginInstance{});
}
std::int32_t destroy(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kDestroy)(instance); }, 0);
}
std::int32_t load(PluginInstance instance, const char* path) noexcept {
  return shielded([&] { return entry<LoadCall>(kLoad)(instance, path); }, 0);
}
std::int32_t setWindow(PluginInstance instance, void* window) noexcept {
  return shielded([&] { return entry<SetWindowCall>(kSetWindow)(instance, window); }, 0);
}
std::int32_t play(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kPlay)(instance); }, 0);
}
std::int32_t stop(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kStop)(instance); }, 0);
}
std::int32_t isPlaying(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kIsPlaying)(instance); }, 1);
}
std::int32_t getMaxPosition(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kGetMaxPosition)(instance); }, 0);
}
std::int32_t getCurrentPosition(PluginInstance instance) noexcept {
  return shielded([&] { return entry<InstanceCall>(kGetCurrentPosition)(instance); }, 0);
}
std::int32_t setCurrentPosition(PluginInstance instance, std::int32_t position) noexcept {
  return shielded([&] { return entry<SetPositionCall>(kSetCurrentPosition)(instance, position); },
                  0);
}

}  // namespace modplug

std::int32_t bindAndCreate(ModuleEngine& engine, void* window, const ModuleSettings* settings) {
  TrackerPlugin& plugin = thePlugin();
  platform::LibraryService& libraries = *platform::services().libraries;
  plugin.library = libraries.load(kPluginName);
  if (!plugin.library) return QMOD_ERR_PLUGIN;

  // Every name is looked up before any is tested, so a refused library costs the same lookups.
  bool complete = true;
  for (std::size_t i = 0; i < kEntryPoints; ++i) {
    plugin.entries[i] = libraries.symbol(plugin.library, kEntryNames[i]);
    if (!plugin.entries[i]) complete = false;
  }
  if (!complete) {
    release(engine);
    return QMOD_ERR_PLUGIN;
  }

  // The plug-in reads its settings when the instance is made, so they go first.
  if (settings) writeSettings(*settings);

  engine.instance = modplug::createEx(kParameterText);
  if (!engine.instance || modplug::setWindow(engine.instance, window) == 0) {
    release(engine);
    return QMOD_ERR_INSTANCE;
  }
  engine.length = 0;
  return 1;
}

void release(ModuleEngine& engine) noexcept {
  TrackerPlugin& plugin = thePlugin();
  // The instance's code lives in the library: it goes first.
  if (engine.instance) {
    modplug::destroy(engine.instance);
    engine.instance = nullptr;
  }
  if (plugin.library) {
    const platform::LibraryHandle library = plugin.library;
    plugin.library = nullptr;
    clearEntries(plugin);
    try {
      platform::services().libraries->free(library);
    } catch (...) {
    }
  }
}

}  // namespace qmod
