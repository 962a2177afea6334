// The audio and WAV outputs of the shared synthesizer, and the library's entry point.
#include "SynthPorts.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef QMID_HAVE_ALSA
// The header leaves snd_lib_error_set_local outside its C linkage block.
extern "C" {
#include <alsa/error.h>
}
#endif

#include "SynthLibrary.h"
#include "SynthLog.h"
#include "SynthMessages.h"

namespace synth {

namespace {

#ifdef QMID_HAVE_ALSA
// ALSA prints its own complaints to standard error; while a driver opens on this thread they
// become part of the reason instead.
__attribute__((format(printf, 5, 0))) void alsaToCapture(const char*, int, const char*, int,
                                                         const char* format, va_list arguments) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, arguments);
  captureError(text);
}

class AlsaQuiet {
 public:
  AlsaQuiet() : previous_(snd_lib_error_set_local(&alsaToCapture)) {}
  ~AlsaQuiet() { snd_lib_error_set_local(previous_); }

 private:
  snd_local_error_handler_t previous_;
};
#else
struct AlsaQuiet {};
#endif

std::vector<std::string> audioDrivers() {
  std::vector<std::string> drivers;
  const char* chosen = std::getenv("QMID_AUDIO_DRIVER");
  if (chosen && *chosen) drivers.push_back(chosen);
  // Desktop sound servers (PipeWire too) take pulseaudio; jack is never tried unasked, since it
  // tries to start a server and stalls for seconds.
  for (const char* fallback : {"pulseaudio", "alsa"})
    if (drivers.empty() || drivers.front() != fallback) drivers.push_back(fallback);
  return drivers;
}

// Render blocks match the synthesizer's own block, so a message lands within 1.5 ms of its
// stamp.
constexpr int kBlockFrames = 64;
constexpr std::chrono::milliseconds kRenderWake{10};

std::int16_t toSample(float value) {
  if (value >= 1.0f) return 32767;
  if (value <= -1.0f) return -32767;
  return static_cast<std::int16_t>(std::lrint(value * 32767.0f));
}

}  // namespace

// --- audio device ---

std::unique_ptr<platform::MidiOutput> AudioPort::open(Lease lease, std::string& why) {
  fluid_synth_t* synth = lease.synth();
  fluid_settings_t* settings = Synthesizer::instance().settings();
  std::string reasons;
  for (const std::string& name : audioDrivers()) {
    LogCapture log;
    [[maybe_unused]] AlsaQuiet quiet;
    std::string reason;
    if (fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK) {
      reason = "no such driver";
    } else if (fluid_audio_driver_t* driver = new_fluid_audio_driver(settings, synth)) {
      AudioPort* port = new (std::nothrow) AudioPort(std::move(lease), driver);
      if (!port) {
        delete_fluid_audio_driver(driver);
        throw std::bad_alloc();
      }
      return std::unique_ptr<platform::MidiOutput>(port);
    } else {
      reason = log.first().empty() ? "cannot be opened" : log.first();
    }
    reasons += (reasons.empty() ? "" : "; ") + name + ": " + reason;
  }
  why = "no audio output could be opened (" + reasons + ")";
  return nullptr;
}

AudioPort::~AudioPort() {
  silence(synth_);
  delete_fluid_audio_driver(driver_);
}

void AudioPort::shortMessage(std::uint32_t message) { playShort(synth_, message); }

void AudioPort::longMessage(const std::uint8_t* bytes, std::size_t count) {
  playExclusive(synth_, bytes, count);
}

void AudioPort::reset() { silence(synth_); }

// --- WAV file ---

std::unique_ptr<platform::MidiOutput> WavPort::open(Lease lease, const std::string& path,
                                                    std::string& why) {
  std::unique_ptr<WavWriter> writer =
      WavWriter::open(path, static_cast<std::uint32_t>(kSampleRate), why);
  if (!writer) return nullptr;
  return std::unique_ptr<platform::MidiOutput>(new WavPort(std::move(lease), std::move(writer)));
}

WavPort::WavPort(Lease lease, std::unique_ptr<WavWriter> writer)
    : SynthPort(std::move(lease)), writer_(std::move(writer)), start_(Clock::now()) {
  thread_ = std::thread(&WavPort::run, this);
}

WavPort::~WavPort() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    stopAt_ = Clock::now();
  }
  wake_.notify_one();
  thread_.join();
  writer_.reset();
}

void WavPort::queue(Kind kind, std::uint32_t message, const std::uint8_t* bytes, std::size_t count) {
  Pending pending{Clock::now(), kind, message, {}};
  if (bytes) pending.bytes.assign(bytes, bytes + count);
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(std::move(pending));
}

void WavPort::shortMessage(std::uint32_t message) { queue(Kind::kShort, message, nullptr, 0); }

void WavPort::longMessage(const std::uint8_t* bytes, std::size_t count) {
  queue(Kind::kLong, 0, bytes, count);
}

void WavPort::reset() { queue(Kind::kReset, 0, nullptr, 0); }

void WavPort::applyUntil(Clock::time_point time) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!pending_.empty() && pending_.front().at <= time) {
      due_.push_back(std::move(pending_.front()));
      pending_.pop_front();
    }
  }
  for (const Pending& p : due_) {
    switch (p.kind) {
      case Kind::kShort: playShort(synth_, p.message); break;
      case Kind::kLong: playExclusive(synth_, p.bytes.data(), p.bytes.size()); break;
      case Kind::kReset: silence(synth_); break;
    }
  }
  due_.clear();
}

void WavPort::run() {
  float left[kBlockFrames];
  float right[kBlockFrames];
  std::vector<std::int16_t> samples;
  std::uint64_t frames = 0;
  Clock::time_point wakeAt = start_ + kRenderWake;
  for (;;) {
    bool last;
    Clock::time_point until;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, wakeAt, [this] { return stopping_; });
      last = stopping_;
      until = last ? stopAt_ : Clock::now();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(until - start_);
    const auto due = static_cast<std::uint64_t>(static_cast<double>(elapsed.count()) * kSampleRate / 1e9);
    while (frames + kBlockFrames <= due) {
      const auto offset = std::chrono::nanoseconds(static_cast<std::int64_t>(
          static_cast<double>(frames) * 1e9 / kSampleRate));
      applyUntil(start_ + offset);
      fluid_synth_write_float(synth_, kBlockFrames, left, 0, 1, right, 0, 1);
      for (int i = 0; i < kBlockFrames; ++i) {
        samples.push_back(toSample(left[i]));
        samples.push_back(toSample(right[i]));
      }
      frames += kBlockFrames;
    }
    writer_->append(samples.data(), samples.size());
    samples.clear();
    if (last) return;
    wakeAt = Clock::now() + kRenderWake;
  }
}

std::unique_ptr<platform::MidiOutput> openPort(const char* wavPath, std::string& why) {
  Lease lease = Lease::take(why);
  if (!lease) return nullptr;
  return wavPath ? WavPort::open(std::move(lease), wavPath, why)
                 : AudioPort::open(std::move(lease), why);
}

}  // namespace synth

extern "C" __attribute__((visibility("default"))) platform::MidiOutput* qmidSynthOpen(
    const char* wavPath, char* why, std::size_t whySize) {
  std::string reason;
  try {
    if (std::unique_ptr<platform::MidiOutput> port = synth::openPort(wavPath, reason))
      return port.release();
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (why && whySize > 0) std::snprintf(why, whySize, "%s", reason.c_str());
  return nullptr;
}
