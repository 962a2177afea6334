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

class MemoryService {
 public:
  virtual ~MemoryService() = default;
  // A hint that a block of many megabytes is about to be filled front to back: the system may
  // back it with large pages, which spares most of its page faults. Nothing else changes.
  virtual void adviseLargeBlock(void* block, std::size_t bytes) = 0;
};

// Downloads, in the shape of the original platform's web client: a session, a URL opened in
// it, and reads of the body.
using InternetHandle = void*;

class InternetService {
 public:
  virtual ~InternetService() = default;
  // A session that sends the agent text and uses the system's proxy settings; none on failure.
  virtual InternetHandle openSession(const char* agent) = 0;
  // The body of a URL opened in the session; none when it cannot be opened (an error status
  // counts as not opened).
  virtual InternetHandle openUrl(InternetHandle session, const char* url) = 0;
  // Waits until size bytes have arrived or the body has ended; fewer only at the end. False
  // when the read failed (also when the session was closed meanwhile).
  virtual bool read(InternetHandle url, std::uint8_t* block, std::size_t size,
                    std::size_t& count) = 0;
  // Closes the session and every URL opened in it. From another thread it makes a blocked
  // openUrl or read fail promptly.
  virtual void closeSession(InternetHandle session) = 0;
};

using LibraryHandle = void*;

class LibraryService {
 public:
  virtual ~LibraryService() = default;
  // Loads a library by the bare name it has on the original platform (for instance
  // "npmod32.dll"), mapped to this platform's naming; none when it cannot be loaded.
  virtual LibraryHandle load(const char* bareName) = 0;
  virtual void* symbol(LibraryHandle library, const char* name) = 0;
  virtual void free(LibraryHandle library) = 0;
};

using SettingsKey = void*;

class SettingsService {
 public:
  virtual ~SettingsService() = default;
  // Creates or opens a key path of the user's settings ("Software\\Maker\\Product").
  virtual SettingsKey createKey(const char* path) = 0;
  virtual bool setValue(SettingsKey key, const char* name, std::uint32_t value) = 0;
  virtual void closeKey(SettingsKey key) = 0;
};

// What an engine uses; every pointer is set (the defaults are the real backends).
struct Services {
  MidiOutputService* midiOut;
  TimerService* timer;
  WindowService* windows;
  StringService* strings;
  SleepService* sleep;
  InternetService* internet;
  LibraryService* libraries;
  SettingsService* settings;
  MemoryService* memory;  // may be absent: the hint is then not given
};

// The services in force.
Services& services();
// Replaces the services (tests install fakes); returns the previous set.
Services install(const Services& replacement);
// The real backends of this build.
Services defaultServices();

}  // namespace platform
