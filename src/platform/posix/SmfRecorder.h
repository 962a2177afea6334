// A MIDI output that records every message with its real send time and writes them as a
// format 0 Standard MIDI File (1 tick = 1 ms) when it is closed.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Platform.h"

namespace platform {

class SmfRecorder : public MidiOutput {
 public:
  // Division and tempo that make one tick one millisecond.
  static constexpr int kDivision = 1000;
  static constexpr std::uint32_t kTempo = 1000000;

  static std::unique_ptr<MidiOutput> open(const std::string& path, std::string& why);
  ~SmfRecorder() override;

  void shortMessage(std::uint32_t message) override;
  void longMessage(const std::uint8_t* bytes, std::size_t count) override;
  void reset() override;

 private:
  explicit SmfRecorder(std::FILE* file);
  // Appends the delta time since the previous event; call with mutex_ held.
  void stamp();

  std::mutex mutex_;
  std::FILE* file_;
  std::chrono::steady_clock::time_point opened_;
  std::uint32_t lastTick_ = 0;
  std::vector<std::uint8_t> track_;
};

}  // namespace platform
