// Test doubles for every platform service, installed together for the life of one object:
// a recording MIDI output, a timer that the test fires by hand, a recording window, label
// strings in English and a sleep that only counts.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Platform.h"

namespace fakes {

// What the output received, one entry per call: "short 903c64" (the packed bytes from the
// lowest, status first), "long f07e7f0901f7", "reset", "close".
class MidiLog {
 public:
  void add(std::string entry);
  std::vector<std::string> entries() const;
  void clearEntries();
  // Entries without the all-notes-off burst and resets, for tests about the song's own data.
  std::vector<std::string> messages() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

class RecordingMidiOutputService : public platform::MidiOutputService {
 public:
  explicit RecordingMidiOutputService(MidiLog& log) : log_(log) {}
  std::unique_ptr<platform::MidiOutput> openDefault(std::string& why) override;

  bool available = true;
  int opened = 0;

 private:
  MidiLog& log_;
};

class ManualTimer : public platform::TimerService {
 public:
  std::uint32_t start(std::uint32_t periodMs, platform::TimerCallback callback,
                      void* user) override;
  void kill(std::uint32_t id) override;

  // Runs the callback of the running timer n times; false when no timer runs.
  bool fire(int n = 1);
  bool running() const { return id_ != 0; }

  bool failStart = false;
  std::uint32_t lastPeriod = 0;
  int starts = 0;
  int kills = 0;

 private:
  std::uint32_t id_ = 0;
  std::uint32_t nextId_ = 1;
  platform::TimerCallback callback_ = nullptr;
  void* user_ = nullptr;
};

struct Posted {
  platform::WindowHandle window;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

class RecordingWindows : public platform::WindowService {
 public:
  bool isWindow(platform::WindowHandle window) override;
  bool post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;

  // A fresh live window handle.
  platform::WindowHandle create();
  void destroy(platform::WindowHandle window);
  std::vector<Posted> posted() const;
  void clearPosted();

 private:
  mutable std::mutex mutex_;
  std::set<platform::WindowHandle> live_;
  std::vector<Posted> posted_;
  std::uintptr_t next_ = 0x1000;
};

class EnglishStrings : public platform::StringService {
 public:
  std::string load(std::uint32_t id) override;
  bool missing = false;  // every string absent
};

class CountingSleep : public platform::SleepService {
 public:
  void sleepMs(std::uint32_t ms) override;
  int sleeps = 0;
  std::uint32_t total = 0;
};

// Installs all fakes on construction and puts the previous services back on destruction.
class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  MidiLog midi;
  RecordingMidiOutputService midiOut{midi};
  ManualTimer timer;
  RecordingWindows windows;
  EnglishStrings strings;
  CountingSleep sleep;

 private:
  platform::Services previous_;
};

}  // namespace fakes
