// The one engine state of QMOD and the plain functions behind the exports: binding and
// release of the plug-in, the settings it is given, and the play-mode machine.
#pragma once

#include <cstdint>

#include "TrackerPlugin.h"
#include "qmod.h"

namespace qmod {

struct ModuleEngine {
  std::int32_t mode;        // an MCI mode number
  PluginInstance instance;  // exists exactly while a module is bound
  std::int32_t length;      // the plug-in's maximum position at Open, times 100
};

ModuleEngine& theEngine();

// Binding (TrackerPlugin.cpp). bindAndCreate loads the plug-in, looks up its entry points,
// writes the settings (when given) and makes an instance that accepted the window: 1,
// QMOD_ERR_PLUGIN or QMOD_ERR_INSTANCE, with everything released again on failure.
std::int32_t bindAndCreate(ModuleEngine& engine, void* window, const ModuleSettings* settings);
// Destroys the instance, then frees the library; skips what is already gone.
void release(ModuleEngine& engine) noexcept;

// Settings (SettingsWriter.cpp).
extern const char kSettingsKey[];
// The "Quality" value: one bit per set flag, 0..0x3B.
std::uint32_t qualityValue(const ModuleSettings& settings);
// "Mixing_Rate", "Packing", "Quality", each through its own key; failures are silent.
void writeSettings(const ModuleSettings& settings) noexcept;

// The mode machine (ModuleEngine.cpp), one function per export; the mode guards are here.
std::int32_t open(void* window, const char* path, const ModuleSettings* settings);
void closeRoutine() noexcept;
std::int32_t close() noexcept;
std::int32_t play() noexcept;
std::int32_t pause() noexcept;
std::int32_t resume() noexcept;
std::int32_t stop() noexcept;
std::int32_t seek(std::uint32_t position) noexcept;
std::int32_t getMode() noexcept;
std::int32_t getPosition() noexcept;
std::int32_t getLength() noexcept;
std::int32_t isOpen() noexcept;
std::int32_t getFileInfo(char* buffer, std::int32_t size) noexcept;

// Plug-in units to the player's: times 100, wrapping in 32 bits.
constexpr std::int32_t toPlayerUnits(std::int32_t pluginUnits) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(pluginUnits) * 100u);
}

}  // namespace qmod
