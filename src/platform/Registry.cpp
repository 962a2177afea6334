// The registry of services: the real backends unless a test installed others.
#include "Platform.h"
#include "posix/MidiDevices.h"
#include "posix/QwinWindows.h"
#include "posix/SteadyTimer.h"
#include "posix/SystemServices.h"

namespace platform {

Services defaultServices() {
  // Process-wide and never destroyed: timer threads and late posts may outlive main().
  static auto* midiOut = new DeviceTableMidiOutput;
  static auto* timer = new SteadyTimerService;
  static auto* windows = new QwinWindowService;
  static auto* strings = new LabelStringService;
  static auto* sleep = new SystemSleepService;
  return Services{midiOut, timer, windows, strings, sleep};
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
