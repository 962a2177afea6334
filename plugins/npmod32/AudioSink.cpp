// The three sinks. The file and null sinks pace themselves on a steady clock, so that a
// module takes as long to play as it does on a device and positions mean the same.
#include "AudioSink.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace npmod32 {
namespace {

using Clock = std::chrono::steady_clock;

// Frames "heard" by a virtual device that consumes at the sample rate while started.
class PacedClock {
 public:
  explicit PacedClock(int rate) : rate_(rate) {}

  std::int64_t pending() { return written_ - consumed(); }
  void wrote(std::size_t count) {
    consumed();  // an underrun restarts the clock here rather than crediting the gap
    written_ += static_cast<std::int64_t>(count);
  }
  void start() {
    if (running_) return;
    since_ = Clock::now();
    running_ = true;
  }
  void pause() {
    if (!running_) return;
    base_ = consumed();
    running_ = false;
  }
  void clear() {
    base_ = written_;
    since_ = Clock::now();
  }

 private:
  std::int64_t consumed() {
    if (!running_) return base_;
    const auto now = Clock::now();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(now - since_).count();
    const std::int64_t c = base_ + elapsed * rate_ / 1000000;
    if (c < written_) return c;
    base_ = written_;
    since_ = now;
    return written_;
  }

  std::int64_t rate_;
  std::int64_t written_ = 0;
  std::int64_t base_ = 0;  // consumed frames at since_
  bool running_ = false;
  Clock::time_point since_{};
};

class NullSink : public AudioSink {
 public:
  explicit NullSink(int rate) : clock_(rate) {}
  void write(const std::int16_t*, std::size_t count) override { clock_.wrote(count); }
  std::int64_t pendingFrames() override { return clock_.pending(); }
  void start() override { clock_.start(); }
  void pause() override { clock_.pause(); }
  void clear() override { clock_.clear(); }

 private:
  PacedClock clock_;
};

void putLe(unsigned char* p, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// 16-bit stereo PCM. The header is rewritten at every pause and at the end, so that a file
// being played is complete whenever playback is halted.
class WavSink : public AudioSink {
 public:
  WavSink(std::FILE* file, int rate) : file_(file), rate_(rate), clock_(rate) { writeHeader(); }
  ~WavSink() override {
    writeHeader();
    std::fclose(file_);
  }
  void write(const std::int16_t* frames, std::size_t count) override {
    // Sample bytes are written as the host holds them: little-endian on every target we build.
    if (std::fwrite(frames, 4, count, file_) == count)
      dataBytes_ += 4 * static_cast<std::uint64_t>(count);
    clock_.wrote(count);
  }
  std::int64_t pendingFrames() override { return clock_.pending(); }
  void start() override { clock_.start(); }
  void pause() override {
    clock_.pause();
    writeHeader();
  }
  void clear() override { clock_.clear(); }

 private:
  void writeHeader() {
    const std::uint32_t data =
        dataBytes_ > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : static_cast<std::uint32_t>(dataBytes_);
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4);
    putLe(h + 4, 36 + data, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putLe(h + 16, 16, 4);
    putLe(h + 20, 1, 2);  // PCM
    putLe(h + 22, 2, 2);
    putLe(h + 24, static_cast<std::uint32_t>(rate_), 4);
    putLe(h + 28, static_cast<std::uint32_t>(rate_) * 4, 4);
    putLe(h + 32, 4, 2);
    putLe(h + 34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    putLe(h + 40, data, 4);
    const long end = std::ftell(file_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, file_);
    if (end > 0) std::fseek(file_, end, SEEK_SET);
    std::fflush(file_);
  }

  std::FILE* file_;
  int rate_;
  std::uint64_t dataBytes_ = 0;
  PacedClock clock_;
};

class DeviceSink : public AudioSink {
 public:
  explicit DeviceSink(SDL_AudioDeviceID device) : device_(device) {}
  ~DeviceSink() override {
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  void write(const std::int16_t* frames, std::size_t count) override {
    SDL_QueueAudio(device_, frames, static_cast<Uint32>(count * 4));
  }
  std::int64_t pendingFrames() override { return SDL_GetQueuedAudioSize(device_) / 4; }
  void start() override { SDL_PauseAudioDevice(device_, 0); }
  void pause() override { SDL_PauseAudioDevice(device_, 1); }
  void clear() override { SDL_ClearQueuedAudio(device_); }

 private:
  SDL_AudioDeviceID device_;
};

// SDL keeps per-thread data (its error text) that no call frees; if the library went away
// with the plug-in, that data would be lost at every Close. Once used, it stays loaded.
void keepSdlLoaded() {
  static const bool pinned = [] {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&SDL_InitSubSystem), &info) || !info.dli_fname)
      return false;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
  }();
  (void)pinned;
}

std::unique_ptr<AudioSink> openDevice(const std::string&, int rate, std::string& error) {
  keepSdlLoaded();
  // Reference-counted: a host that uses SDL itself keeps its audio subsystem.
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    error = std::string("cannot start SDL audio: ") + SDL_GetError();
    return nullptr;
  }
  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  Uint16 samples = 256;
  while (samples < 4096 && samples * 40 < rate) samples = static_cast<Uint16>(samples * 2);
  want.samples = samples;  // about 25 ms
  // No allowed changes: SDL converts to whatever the device really takes.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (device == 0) {
    error = std::string("cannot open the audio device: ") + SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  return std::make_unique<DeviceSink>(device);
}

std::unique_ptr<AudioSink> openWav(const std::string& path, int rate, std::string& error) {
  if (path.empty()) {
    error = "wav needs a file name (wav:PATH)";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<WavSink>(file, rate);
}

std::unique_ptr<AudioSink> openNull(const std::string&, int rate, std::string&) {
  return std::make_unique<NullSink>(rate);
}

struct SinkEntry {
  const char* name;
  bool takesArgument;
  std::unique_ptr<AudioSink> (*open)(const std::string& argument, int rate, std::string& error);
};

const SinkEntry kSinks[] = {
    {"device", false, openDevice},
    {"wav", true, openWav},
    {"null", false, openNull},
};

}  // namespace

std::unique_ptr<AudioSink> openAudioSink(const char* choice, int rate, std::string& error) {
  const std::string text = choice && *choice ? choice : "device";
  const auto colon = text.find(':');
  const std::string name = text.substr(0, colon);
  for (const SinkEntry& e : kSinks) {
    if (name != e.name || (colon != std::string::npos) != e.takesArgument) continue;
    return e.open(colon == std::string::npos ? std::string() : text.substr(colon + 1), rate, error);
  }
  error = "unknown QMOD_AUDIO \"" + text + "\"; this build has: device, wav:PATH, null";
  return nullptr;
}

}  // namespace npmod32
