// The registry of services: the real backends unless a test installed others.
#include "Platform.h"
#include "posix/DlLibraries.h"
#include "posix/IniSettings.h"
#include "posix/MidiDevices.h"
#include "posix/QwinWindows.h"
#include "posix/SteadyTimer.h"
#include "posix/SystemServices.h"
#include "posix/Unavailable.h"

namespace platform {

Services defaultServices() {
  // Process-wide and never destroyed: timer threads and late posts may outlive main().
  static auto* midiOut = new DeviceTableMidiOutput;
  static auto* timer = new SteadyTimerService;
  static auto* windows = new QwinWindowService;
  static auto* strings = new LabelStringService;
  static auto* sleep = new SystemSleepService;
  // Downloads need the web client library, which only the engine library links and installs.
  static auto* internet = new UnavailableInternet;
  static auto* libraries = new DlLibraries;
  static auto* settings = new IniSettings;
  static auto* memory = new SystemMemoryService;
  return Services{midiOut, timer, windows, strings, sleep, internet, libraries, settings, memory};
}

Services& services() {
  static Services current = defaultServices();
  return current;
}

Services install(const Services& replacement) {
  Services previous = services();
  services() = replacement;
  return previous;
}

}  // namespace platform
