// Every POSIX backend: the services of the MIDI engine, the tools and the tests.
#include "DlLibraries.h"
#include "IniSettings.h"
#include "MidiDevices.h"
#include "Platform.h"
#include "QwinWindows.h"
#include "SteadyTimer.h"
#include "SystemServices.h"
#include "Unavailable.h"

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

}  // namespace platform
