// The synthesizer's two MIDI outputs: one plays to the audio device, the other renders into a
// WAV file in real time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "Synthesizer.h"
#include "WavWriter.h"

namespace synth {

// Opens one of the two: audio when wavPath is null.
std::unique_ptr<platform::MidiOutput> openPort(const char* wavPath, std::string& why);

// Holds the shared synthesizer while open; it goes back reset after the derived port has
// stopped rendering.
class SynthPort : public platform::MidiOutput {
 protected:
  explicit SynthPort(Lease lease) : lease_(std::move(lease)), synth_(lease_.synth()) {}

 private:
  Lease lease_;

 protected:
  fluid_synth_t* const synth_;
};

class AudioPort final : public SynthPort {
 public:
  // Tries QMID_AUDIO_DRIVER, then pulseaudio, then alsa.
  static std::unique_ptr<platform::MidiOutput> open(Lease lease, std::string& why);
  ~AudioPort() override;

  void shortMessage(std::uint32_t message) override;
  void longMessage(const std::uint8_t* bytes, std::size_t count) override;
  void reset() override;

 private:
  AudioPort(Lease lease, fluid_audio_driver_t* driver)
      : SynthPort(std::move(lease)), driver_(driver) {}
  fluid_audio_driver_t* driver_;
};

// Messages are stamped when sent and applied at that point of the file's timeline by a thread
// that renders what the steady clock says is due.
class WavPort final : public SynthPort {
 public:
  static std::unique_ptr<platform::MidiOutput> open(Lease lease, const std::string& path,
                                                    std::string& why);
  ~WavPort() override;

  void shortMessage(std::uint32_t message) override;
  void longMessage(const std::uint8_t* bytes, std::size_t count) override;
  void reset() override;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Kind { kShort, kLong, kReset };
  struct Pending {
    Clock::time_point at;
    Kind kind;
    std::uint32_t message;
    std::vector<std::uint8_t> bytes;
  };

  WavPort(Lease lease, std::unique_ptr<WavWriter> writer);
  void queue(Kind kind, std::uint32_t message, const std::uint8_t* bytes, std::size_t count);
  void run();
  // Applies, in order, every message stamped at or before the given time.
  void applyUntil(Clock::time_point time);

  std::unique_ptr<WavWriter> writer_;
  const Clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  Clock::time_point stopAt_;
  std::deque<Pending> pending_;
  std::vector<Pending> due_;  // render thread only
  std::thread thread_;
};

}  // namespace synth
