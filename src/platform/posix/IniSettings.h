// The user's settings as INI files: a key path "Software\A\B" is the file
// ${XDG_CONFIG_HOME:-$HOME/.config}/A/B.ini with one section named after the whole key path
// and one line per value, "Name=dword:0000003b". Each write holds a lock file (.B.ini.lock)
// while it reads the file and replaces it with a synced temporary file, so concurrent writers
// lose nothing and a crash leaves the old file or the new one, never half of either.
#pragma once

#include <cstdint>
#include <string>

#include "Platform.h"

namespace platform {

class IniSettings : public SettingsService {
 public:
  // Creates the folders of the key's file; none when the path maps to no file (no HOME, an
  // empty, "." or ".." component, a '/') or a folder cannot be made.
  SettingsKey createKey(const char* path) override;
  // False, and the file as it was, when the value cannot be written.
  bool setValue(SettingsKey key, const char* name, std::uint32_t value) override;
  void closeKey(SettingsKey key) override;
};

// The file that holds a key path ("Software" first is optional), or an empty text when the
// path maps to none.
std::string iniSettingsFile(const char* keyPath);

// Reads a value written by IniSettings (names and the section match regardless of case);
// false when the file, the section or the value is missing or is not a dword.
bool readIniSetting(const char* keyPath, const char* name, std::uint32_t& value);

}  // namespace platform
