// One plug-in instance: a loaded module, its render thread and its audio sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "AudioSink.h"
#include "Params.h"
#include "Settings.h"
#include "npmod32.h"

namespace openmpt {
class module;
}

namespace npmod32 {

// Called from one host thread at a time. The render thread owns the decoder while playing;
// host calls take decoderMx_ only around each decoder call, and the render thread never
// sleeps holding it.
class Instance {
 public:
  Instance(const Params& params, const Settings& settings);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool load(const char* path);
  void setWindow(void* window) { window_ = window; }
  bool play();
  bool stop();
  bool isReady() const { return loaded_; }
  bool isPlaying() const { return playing_.load(); }
  double durationSeconds() const { return duration_; }
  double positionSeconds();
  bool seek(double seconds);
  void setCallback(ModPlugCallback callback, void* user);

 private:
  void render();
  void halt();  // joins the render thread; the sink keeps what it holds
  void sleepFor(std::int64_t frames);
  void applyRenderSettings(openmpt::module& module) const;

  const Params params_;
  const Settings settings_;
  const int rate_;
  const int chunkFrames_;
  const std::int64_t leadFrames_;
  void* window_ = nullptr;

  std::ostream quietLog_{nullptr};  // the decoder's messages go nowhere; outlives module_
  std::mutex decoderMx_;
  std::unique_ptr<openmpt::module> module_;
  bool loaded_ = false;
  double duration_ = 0;

  // Guarded by sinkMx_: what has been sent to the sink since the last seek, so that the
  // position is that of what is being heard, not of what was decoded ahead.
  std::mutex sinkMx_;
  std::unique_ptr<AudioSink> sink_;
  struct Mark {
    std::int64_t endFrame;  // counted from the last seek
    double seconds;         // the decoder's position after that frame
  };
  double anchorSeconds_ = 0;  // where the last seek landed
  std::int64_t framesSinceAnchor_ = 0;
  std::deque<Mark> marks_;
  std::uint64_t generation_ = 0;  // bumped by every seek, under both locks

  std::mutex wakeMx_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
  std::thread thread_;
  std::atomic<bool> playing_{false};

  std::mutex callbackMx_;
  ModPlugCallback callback_ = nullptr;
  void* callbackUser_ = nullptr;
};

}  // namespace npmod32
