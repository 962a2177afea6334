// The module engine's services: it loads the tracker plug-in and writes its settings, nothing
// more, so its library carries no MIDI output, timer or message windows (and needs no libqwin).
#include "DlLibraries.h"
#include "IniSettings.h"
#include "Platform.h"

namespace platform {

Services defaultServices() {
  static auto* libraries = new DlLibraries;
  static auto* settings = new IniSettings;
  Services services{};
  services.libraries = libraries;
  services.settings = settings;
  return services;
}

}  // namespace platform
