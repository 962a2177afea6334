// The player's ModuleSettings as the three values that the plug-in reads from the user's
// settings store. Nothing here may stop an Open: every failure is silent.
#include "ModuleEngine.h"

namespace qmod {

const char kSettingsKey[] = "Software\\Hexmoor\\MOD Plugin";

std::uint32_t qualityValue(const ModuleSettings& settings) {
  // Bit 2 has no flag: the value never exceeds 0x3B.
  return (settings.qualityBit0 ? 0x01u : 0u) | (settings.qualityBit1 ? 0x02u : 0u) |
         (settings.qualityBit3 ? 0x08u : 0u) | (settings.qualityBit4 ? 0x10u : 0u) |
         (settings.qualityBit5 ? 0x20u : 0u);
}

namespace {

// One value through its own key, as each may fail on its own.
void writeValue(const char* name, std::uint32_t value) noexcept {
  try {
    platform::SettingsService& store = *platform::services().settings;
    const platform::SettingsKey key = store.createKey(kSettingsKey);
    if (!key) return;
    try {
      store.setValue(key, name, value);
    } catch (...) {
    }
    store.closeKey(key);
  } catch (...) {
  }
}

}  // namespace

void writeSettings(const ModuleSettings& settings) noexcept {
  writeValue("Mixing_Rate", static_cast<std::uint32_t>(settings.mixingRate));
  writeValue("Packing", 0);
  writeValue("Quality", qualityValue(settings));
}

}  // namespace qmod
