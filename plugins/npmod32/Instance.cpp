// Playback of one module: decoding on a render thread that keeps the sink about 100 ms ahead
// and sleeps in between, so that Stop, Seek and the position answer at once.
#include "Instance.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <libopenmpt/libopenmpt.hpp>
#include <map>
#include <vector>

namespace npmod32 {

Instance::Instance(const Params& params, const Settings& settings)
    : params_(params),
      settings_(settings),
      rate_(static_cast<int>(settings.mixingRate)),
      chunkFrames_(std::max(256, rate_ / 50)),
      leadFrames_(5 * static_cast<std::int64_t>(chunkFrames_)) {}

Instance::~Instance() {
  halt();
  std::lock_guard<std::mutex> lock(sinkMx_);
  sink_.reset();
}

void Instance::halt() {
  {
    std::lock_guard<std::mutex> lock(wakeMx_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(wakeMx_);
  stopRequested_ = false;
  playing_ = false;
}

void Instance::applyRenderSettings(openmpt::module& module) const {
  const std::uint32_t q = settings_.quality;
  module.set_render_param(openmpt::module::RENDER_VOLUMERAMPING_STRENGTH, q & 0x01 ? -1 : 0);
  module.set_render_param(openmpt::module::RENDER_INTERPOLATIONFILTER_LENGTH, q & 0x02 ? 8 : 2);
  module.ctl_set_boolean("render.resampler.emulate_amiga", (q & 0x08) != 0);
  module.set_render_param(openmpt::module::RENDER_STEREOSEPARATION_PERCENT, q & 0x10 ? 100 : 50);
  module.ctl_set_integer("dither", q & 0x20 ? 1 : 0);
  if (params_.volume > 0) {
    const double millibel = 2000.0 * std::log10(params_.volume / 100.0);
    module.set_render_param(openmpt::module::RENDER_MASTERGAIN_MILLIBEL,
                            static_cast<std::int32_t>(std::lround(millibel)));
  }
}

bool Instance::load(const char* path) {
  halt();
  {
    std::lock_guard<std::mutex> lock(sinkMx_);
    if (sink_) sink_->pause();
  }
  {
    std::lock_guard<std::mutex> lock(decoderMx_);
    module_.reset();
  }
  loaded_ = false;
  duration_ = 0;

  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  if (bytes.empty()) return false;
  std::unique_ptr<openmpt::module> module;
  try {
    const std::map<std::string, std::string> ctls{{"play.at_end", "stop"},
                                                  {"seek.sync_samples", "1"}};
    module = std::make_unique<openmpt::module>(bytes, quietLog_, ctls);
    module->set_repeat_count(0);  // looping restarts by hand, so that positions stay in the song
    applyRenderSettings(*module);
  } catch (const std::exception&) {
    return false;  // not a module the decoder knows
  }
  {
    std::lock_guard<std::mutex> lock(decoderMx_);
    module_ = std::move(module);
    duration_ = module_->get_duration_seconds();
    std::lock_guard<std::mutex> sinkLock(sinkMx_);
    ++generation_;
    if (sink_) sink_->clear();
    anchorSeconds_ = 0;
    framesSinceAnchor_ = 0;
    marks_.clear();
  }
  loaded_ = true;
  if (params_.autostart) play();
  return true;
}

bool Instance::play() {
  if (!loaded_) return false;
  if (playing_) return true;
  halt();  // a thread that ended with the module
  if (!sink_) {
    std::string error;
    auto sink = openAudioSink(std::getenv("QMOD_AUDIO"), rate_, error);
    if (!sink) {
      std::fprintf(stderr, "npmod32: %s\n", error.c_str());
      return false;
    }
    std::lock_guard<std::mutex> lock(sinkMx_);
    sink_ = std::move(sink);
  }
  playing_ = true;
  try {
    thread_ = std::thread(&Instance::render, this);
  } catch (...) {
    playing_ = false;
    throw;
  }
  return true;
}

bool Instance::stop() {
  if (!loaded_) return false;
  halt();
  std::lock_guard<std::mutex> lock(sinkMx_);
  if (sink_) sink_->pause();
  return true;
}

bool Instance::seek(double seconds) {
  if (!loaded_) return false;
  seconds = std::clamp(seconds, 0.0, duration_);
  std::lock_guard<std::mutex> lock(decoderMx_);
  const double landed = module_->set_position_seconds(seconds);
  std::lock_guard<std::mutex> sinkLock(sinkMx_);
  ++generation_;
  if (sink_) sink_->clear();
  anchorSeconds_ = landed;
  framesSinceAnchor_ = 0;
  marks_.clear();
  return true;
}

double Instance::positionSeconds() {
  if (!loaded_) return 0;
  std::lock_guard<std::mutex> lock(sinkMx_);
  const std::int64_t pending = sink_ ? sink_->pendingFrames() : 0;
  const std::int64_t heard = std::max<std::int64_t>(0, framesSinceAnchor_ - pending);
  while (marks_.size() > 1 && marks_.front().endFrame < heard) marks_.pop_front();
  double seconds = anchorSeconds_;
  if (!marks_.empty() && marks_.front().endFrame >= heard)
    seconds = marks_.front().seconds - static_cast<double>(marks_.front().endFrame - heard) / rate_;
  else if (!marks_.empty())
    seconds = marks_.back().seconds;
  return std::clamp(seconds, 0.0, duration_);
}

void Instance::setCallback(ModPlugCallback callback, void* user) {
  std::lock_guard<std::mutex> lock(callbackMx_);
  callback_ = callback;
  callbackUser_ = user;
}

void Instance::sleepFor(std::int64_t frames) {
  const auto micros = std::max<std::int64_t>(1000, frames * 1000000 / rate_);
  std::unique_lock<std::mutex> lock(wakeMx_);
  wake_.wait_for(lock, std::chrono::microseconds(micros), [this] { return stopRequested_; });
}

void Instance::render() {
  using Clock = std::chrono::steady_clock;
  std::vector<std::int16_t> buffer(2 * static_cast<std::size_t>(chunkFrames_));
  bool draining = false;
  bool restarted = false;  // looping, and nothing decoded since the restart
  // The sink starts once it holds the full lead: a device started empty pads with silence,
  // which delays everything after it by an amount nobody can measure.
  bool started = false;
  Clock::time_point drainDeadline{};
  try {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(wakeMx_);
        if (stopRequested_) return;
      }
      std::int64_t pending;
      {
        std::lock_guard<std::mutex> lock(sinkMx_);
        pending = sink_->pendingFrames();
        if (!started && pending >= leadFrames_) {
          sink_->start();
          started = true;
        }
      }
      if (pending >= leadFrames_) {
        sleepFor(pending - leadFrames_ + chunkFrames_);
        continue;
      }
      std::size_t count;
      double after;
      std::uint64_t generation;
      {
        std::lock_guard<std::mutex> lock(decoderMx_);
        count = module_->read_interleaved_stereo(rate_, static_cast<std::size_t>(chunkFrames_),
                                                 buffer.data());
        if (count == 0 && params_.loop && !restarted) {
          module_->set_position_seconds(0);
          restarted = true;
          continue;
        }
        after = module_->get_position_seconds();
        generation = generation_;
      }
      restarted = false;
      if (count > 0) {
        if (params_.volume == 0) std::fill(buffer.begin(), buffer.end(), std::int16_t{0});
        std::lock_guard<std::mutex> lock(sinkMx_);
        if (generation == generation_) {  // else a seek came in between: the chunk is stale
          sink_->write(buffer.data(), count);
          framesSinceAnchor_ += static_cast<std::int64_t>(count);
          marks_.push_back({framesSinceAnchor_, after});
          if (marks_.size() > 256) marks_.pop_front();
        }
        draining = false;
        continue;
      }
      // The decoder is at the end: playing lasts until the sink has played out what it holds
      // (bounded, in case a device stops consuming).
      bool ended = false;
      {
        std::lock_guard<std::mutex> lock(sinkMx_);
        if (generation != generation_) continue;
        if (!started) {
          sink_->start();
          started = true;
        }
        pending = sink_->pendingFrames();
        const auto now = Clock::now();
        if (!draining) {
          draining = true;
          drainDeadline =
              now + std::chrono::microseconds(pending * 1000000 / rate_) + std::chrono::seconds(1);
        }
        if (pending <= 0 || now >= drainDeadline) {
          playing_ = false;
          ended = true;
        }
      }
      if (ended) break;
      sleepFor(pending);
    }
  } catch (...) {
    playing_ = false;  // a decoder failure ends playback as the end of the module would
    return;
  }
  ModPlugCallback callback;
  void* user;
  {
    std::lock_guard<std::mutex> lock(callbackMx_);
    callback = callback_;
    user = callbackUser_;
  }
  if (callback) callback(user, NPMOD32_EVENT_END);
}

}  // namespace npmod32
