// The test doubles of the platform services.
#include "FakePlatform.h"

#include <cstdio>

#include "posix/SystemServices.h"

namespace fakes {

namespace {

std::string hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

class RecordingMidiOutput : public platform::MidiOutput {
 public:
  explicit RecordingMidiOutput(MidiLog& log) : log_(log) {}
  ~RecordingMidiOutput() override { log_.add("close"); }

  void shortMessage(std::uint32_t m) override {
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8),
                                   static_cast<std::uint8_t>(m >> 16)};
    log_.add("short " + hex(bytes, 3));
  }
  void longMessage(const std::uint8_t* bytes, std::size_t count) override {
    log_.add("long " + hex(bytes, count));
  }
  void reset() override { log_.add("reset"); }

 private:
  MidiLog& log_;
};

}  // namespace

void MidiLog::add(std::string entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<std::string> MidiLog::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

void MidiLog::clearEntries() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::vector<std::string> MidiLog::messages() const {
  std::vector<std::string> out;
  for (const std::string& e : entries()) {
    const bool allNotesOff = e.size() == 12 && e.compare(0, 7, "short b") == 0 &&
                             e.compare(8, 4, "7b00") == 0;
    if (!allNotesOff && e != "reset" && e != "close") out.push_back(e);
  }
  return out;
}

std::unique_ptr<platform::MidiOutput> RecordingMidiOutputService::openDefault(std::string& why) {
  if (!available) {
    why = "no device in this test";
    return nullptr;
  }
  ++opened;
  return std::make_unique<RecordingMidiOutput>(log_);
}

std::uint32_t ManualTimer::start(std::uint32_t periodMs, platform::TimerCallback callback,
                                 void* user) {
  ++starts;
  lastPeriod = periodMs;
  if (failStart) return 0;
  id_ = nextId_++;
  callback_ = callback;
  user_ = user;
  return id_;
}

void ManualTimer::kill(std::uint32_t id) {
  ++kills;
  if (id == id_) id_ = 0;
}

bool ManualTimer::fire(int n) {
  for (int i = 0; i < n; ++i) {
    if (id_ == 0) return false;
    callback_(user_);
  }
  return true;
}

bool RecordingWindows::isWindow(platform::WindowHandle window) {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.count(window) != 0;
}

bool RecordingWindows::post(platform::WindowHandle window, std::uint32_t message,
                            std::uintptr_t wParam, std::intptr_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!live_.count(window)) return false;
  posted_.push_back(Posted{window, message, wParam, lParam});
  return true;
}

platform::WindowHandle RecordingWindows::create() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto handle = reinterpret_cast<platform::WindowHandle>(next_ += 0x10);
  live_.insert(handle);
  return handle;
}

void RecordingWindows::destroy(platform::WindowHandle window) {
  std::lock_guard<std::mutex> lock(mutex_);
  live_.erase(window);
}

std::vector<Posted> RecordingWindows::posted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return posted_;
}

void RecordingWindows::clearPosted() {
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.clear();
}

std::string EnglishStrings::load(std::uint32_t id) {
  return missing ? std::string() : platform::labelText(id, platform::Language::English);
}

void CountingSleep::sleepMs(std::uint32_t ms) {
  ++sleeps;
  total += ms;
}

FakePlatform::FakePlatform()
    : previous_(platform::install(platform::Services{&midiOut, &timer, &windows, &strings, &sleep,
                                                     platform::services().internet,
                                                     platform::services().libraries,
                                                     platform::services().settings,
                                                     platform::services().memory})) {}

FakePlatform::~FakePlatform() { platform::install(previous_); }

}  // namespace fakes
