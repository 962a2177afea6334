// The shared synthesizer: creation, SoundFont choice and loading, lending and the exit path.
#include "Synthesizer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SynthLog.h"

namespace synth {

namespace {

constexpr char kSystemFont[] = "/usr/share/sounds/sf2/default-GM.sf2";
constexpr char kFallbackFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

bool exists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

// Unreadable files and files that are no SoundFont at all get a reason of our own: the
// synthesizer's loaders call every failure to open "File does not exist", and try each file as
// every format they know.
bool looksLikeSoundFont(const std::string& path, std::string& why) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    why = "cannot read the SoundFont " + path + ": " + std::strerror(errno);
    return false;
  }
  unsigned char head[12] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  const int readError = std::ferror(file) ? errno : 0;
  std::fclose(file);
  if (readError) {
    why = "cannot read the SoundFont " + path + ": " + std::strerror(readError);
    return false;
  }
  const bool riff = got == sizeof head && std::memcmp(head, "RIFF", 4) == 0;
  if (!riff || (std::memcmp(head + 8, "sfbk", 4) != 0 && std::memcmp(head + 8, "DLS ", 4) != 0)) {
    why = path + " is not a SoundFont";
    return false;
  }
  return true;
}

// Frees the synthesizer when the library is unloaded at exit.
struct ExitCleanup {
  ~ExitCleanup() { Synthesizer::instance().shutdown(); }
} exitCleanup;

}  // namespace

std::string soundFontPath() {
  const char* chosen = std::getenv("QMID_SOUNDFONT");
  if (chosen && *chosen) return chosen;
  return exists(kSystemFont) ? kSystemFont : kFallbackFont;
}

Synthesizer& Synthesizer::instance() {
  // Never destroyed: a port may still hold it while the process exits.
  static auto* synthesizer = new Synthesizer;
  return *synthesizer;
}

bool Synthesizer::create(std::string& why) {
  installLogHandler();
  settings_ = new_fluid_settings();
  if (!settings_) {
    why = "cannot create the synthesizer's settings";
    return false;
  }
  // GS and XG resets address the device by this id.
  fluid_settings_setint(settings_, "synth.device-id", 16);
  fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
  fluid_settings_setint(settings_, "audio.period-size", kPeriodFrames);
  fluid_settings_setint(settings_, "audio.periods", kPeriods);
  // Pinning a large SoundFont in memory fails for ordinary users and is not needed here.
  fluid_settings_setint(settings_, "synth.lock-memory", 0);
  // Asked for by name, jack should be heard: connect to the system's outputs.
  fluid_settings_setint(settings_, "audio.jack.autoconnect", 1);
  LogCapture log;
  synth_ = new_fluid_synth(settings_);
  if (!synth_) {
    why = "cannot create the synthesizer" + (log.first().empty() ? "" : ": " + log.first());
    delete_fluid_settings(settings_);
    settings_ = nullptr;
    return false;
  }
  return true;
}

bool Synthesizer::loadSoundFont(const std::string& path, std::string& why) {
  if (!looksLikeSoundFont(path, why)) return false;
  LogCapture log;
  GlibLogCapture glib;
  const int id = fluid_synth_sfload(synth_, path.c_str(), 1);
  if (id == FLUID_FAILED) {
    why = "cannot load the SoundFont " + path + (log.first().empty() ? "" : ": " + log.first());
    return false;
  }
  if (fontId_ >= 0) fluid_synth_sfunload(synth_, fontId_, 1);
  fontId_ = id;
  fontPath_ = path;
  return true;
}

fluid_synth_t* Synthesizer::acquire(std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lent_) {
    why = "the synthesizer is in use by another output";
    return nullptr;
  }
  if (!synth_ && !create(why)) return nullptr;
  const std::string path = soundFontPath();
  if (path != fontPath_ && !loadSoundFont(path, why)) return nullptr;
  lent_ = true;
  return synth_;
}

void Synthesizer::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lent_) return;
  // Voices and effects change only as the synthesizer renders, and the holder has stopped
  // rendering: a reset right after the sounds-off would bring the killed voices back, and the
  // effects would still ring with their last block. So a block is rendered between the steps.
  fluid_synth_all_sounds_off(synth_, -1);
  renderBlock();
  fluid_synth_system_reset(synth_);
  renderBlock();
  fluid_synth_system_reset(synth_);
  renderBlock();
  lent_ = false;
}

void Synthesizer::renderBlock() {
  float left[64];
  float right[64];
  fluid_synth_write_float(synth_, 64, left, 0, 1, right, 0, 1);
}

void Synthesizer::shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lent_) return;
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
  synth_ = nullptr;
  settings_ = nullptr;
  fontId_ = -1;
  fontPath_.clear();
}

}  // namespace synth
