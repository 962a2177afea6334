// The process's one synthesizer: created on the first open, kept warm with its SoundFont
// between songs, lent to one port at a time.
#pragma once

#include <fluidsynth.h>

#include <mutex>
#include <string>

namespace synth {

constexpr double kSampleRate = 44100;
// A period of 5.8 ms at 44.1 kHz. A message is heard after the period being rendered and the
// output buffer: pulseaudio is asked for one period of latency (at most 11.6 ms in all), alsa
// gets a buffer of two (at most 17.4 ms). Both stay inside one 20 ms tick of the sequencer.
constexpr int kPeriodFrames = 256;
constexpr int kPeriods = 2;

// QMID_SOUNDFONT, else the system's General MIDI SoundFont, else the small Debian one.
std::string soundFontPath();

class Synthesizer {
 public:
  static Synthesizer& instance();

  // Lends the synthesizer to a port: creates it, or loads the SoundFont that the environment
  // names if another one is loaded. Null with the reason when it cannot be used, also while
  // another port holds it.
  fluid_synth_t* acquire(std::string& why);
  // Takes it back silenced and reset (notes, sounds, controllers, programs), ready for the
  // next song. Only the holder calls this.
  void release();
  // The settings the synthesizer was made with; the holder may choose the audio driver here.
  fluid_settings_t* settings() { return settings_; }
  // Frees everything unless a port still holds it (a host that exits while playing).
  void shutdown();

 private:
  Synthesizer() = default;
  bool create(std::string& why);
  bool loadSoundFont(const std::string& path, std::string& why);
  // Renders one block into nowhere; with the mutex held and no port rendering.
  void renderBlock();

  std::mutex mutex_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  int fontId_ = -1;
  std::string fontPath_;
  bool lent_ = false;
};

// The synthesizer lent to one port: given back when the lease is destroyed, however the
// port's opening ends.
class Lease {
 public:
  static Lease take(std::string& why) { return Lease(Synthesizer::instance().acquire(why)); }
  Lease(Lease&& other) noexcept : synth_(other.synth_) { other.synth_ = nullptr; }
  Lease& operator=(Lease&&) = delete;
  ~Lease() {
    if (synth_) Synthesizer::instance().release();
  }

  fluid_synth_t* synth() const { return synth_; }
  explicit operator bool() const { return synth_ != nullptr; }

 private:
  explicit Lease(fluid_synth_t* synth) : synth_(synth) {}
  fluid_synth_t* synth_;
};

}  // namespace synth
