// Settings store: not written yet; keys cannot be created, which callers treat as silent.
#include "IniSettings.h"

namespace platform {

SettingsKey IniSettings::createKey(const char*) { return nullptr; }
bool IniSettings::setValue(SettingsKey, const char*, std::uint32_t) { return false; }
void IniSettings::closeKey(SettingsKey) {}

}  // namespace platform
