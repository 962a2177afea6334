// The user's settings as INI files: a key path "Software\A\B" is the file
// ${XDG_CONFIG_HOME:-$HOME/.config}/A/B.ini with one section named after the whole key path
// and one line per value, "Name=dword:0000003b".
#pragma once

#include <string>

#include "Platform.h"

namespace platform {

class IniSettings : public SettingsService {
 public:
  SettingsKey createKey(const char* path) override;
  bool setValue(SettingsKey key, const char* name, std::uint32_t value) override;
  void closeKey(SettingsKey key) override;
};

}  // namespace platform
