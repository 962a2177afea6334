// The plug-in's three settings, read from the INI file that the QMOD engine writes before it
// creates an instance. Read-only: the engine owns the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace npmod32 {

struct Settings {
  static constexpr std::uint32_t kDefaultMixingRate = 44100;
  static constexpr std::uint32_t kDefaultQuality = 0x33;

  std::uint32_t mixingRate = kDefaultMixingRate;  // always within 8000..192000
  std::uint32_t packing = 0;                      // kept, not used
  std::uint32_t quality = kDefaultQuality;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/Hexmoor/MOD Plugin.ini, or empty when neither is set.
std::string settingsFilePath();

// One "Name=dword:hhhhhhhh" value of the section [Software\Hexmoor\MOD Plugin] in text; names
// compare without regard to case, as registry names do.
std::optional<std::uint32_t> findSettingsValue(const std::string& text, const char* name);

// The settings in effect: each value missing from the file (or the file missing) is the default.
Settings readSettings();

}  // namespace npmod32
