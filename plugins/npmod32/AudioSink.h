// Where the rendered audio goes: the SDL2 device, a WAV file rendered in real time, or
// nowhere at the same pace. Interleaved 16-bit stereo frames at one fixed rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace npmod32 {

// Not thread-safe: the instance serialises every call with its own lock.
class AudioSink {
 public:
  virtual ~AudioSink() = default;
  // Queues frames behind what is still waiting to be heard.
  virtual void write(const std::int16_t* frames, std::size_t count) = 0;
  // Frames written but not yet heard; constant while paused.
  virtual std::int64_t pendingFrames() = 0;
  virtual void start() = 0;
  // Stops consuming; what is pending stays and is heard after start().
  virtual void pause() = 0;
  // Drops what is pending (after a seek).
  virtual void clear() = 0;
};

// Opens the sink named by choice (QMOD_AUDIO's value; null or empty means "device"). On failure
// returns null and says why in error.
std::unique_ptr<AudioSink> openAudioSink(const char* choice, int rate, std::string& error);

}  // namespace npmod32
