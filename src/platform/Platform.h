// The operating-system services that the engines use, one abstract interface each, and the
// registry through which the engines reach them. No OS header belongs here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// An open MIDI output port; destroying it closes the port.
class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  // A packed channel or system message: status in bits 0-7, data bytes in bits 8-15, 16-23.
  virtual void shortMessage(std::uint32_t message) = 0;
  // A complete exclusive message as it goes on the wire (F0 ... F7). The bytes are only
  // borrowed for the call.
  virtual void longMessage(const std::uint8_t* bytes, std::size_t count) = 0;
  // Silences the port: every sounding note stops.
  virtual void reset() = 0;
};

class MidiOutputService {
 public:
  virtual ~MidiOutputService() = default;
  // Opens the default output device; none when it cannot be opened, with the reason in why.
  virtual std::unique_ptr<MidiOutput> openDefault(std::string& why) = 0;
};

using TimerCallback = void (*)(void* user);

class TimerService {
 public:
  virtual ~TimerService() = default;
  // Calls callback(user) every periodMs on a thread of the service; returns a nonzero id, or
  // 0 when no timer could be started.
  virtual std::uint32_t start(std::uint32_t periodMs, TimerCallback callback, void* user) = 0;
  // Stops the timer. Once it returns no callback of it runs, unless called from that very
  // callback, which then finishes on its own.
  virtual void kill(std::uint32_t id) = 0;
};

using WindowHandle = void*;

class WindowService {
 public:
  virtual ~WindowService() = default;
  virtual bool isWindow(WindowHandle window) = 0;
  // Never waits for the receiver.
  virtual bool post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) = 0;
};

class StringService {
 public:
  virtual ~StringService() = default;
  // The string with the given id in the user's language, or an empty text when there is none.
  virtual std::string load(std::uint32_t id) = 0;
};

class SleepService {
 public:
  virtual ~SleepService() = default;
  virtual void sleepMs(std::uint32_t ms) = 0;
};

// What an engine uses; every pointer is set (the defaults are the real backends).
struct Services {
  MidiOutputService* midiOut;
  TimerService* timer;
  WindowService* windows;
  StringService* strings;
  SleepService* sleep;
};

// The services in force.
Services& services();
// Replaces the services (tests install fakes); returns the previous set.
Services install(const Services& replacement);
// The real backends of this build.
Services defaultServices();

}  // namespace platform
