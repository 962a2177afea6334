// qplay's command line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qplay {

struct Options {
  std::vector<std::string> sources;
  std::string out;      // --out DEVICE; empty: the default devices, with the WAV fallback
  std::string charset;  // --charset NAME; empty: guessed per song
  int tempoPercent = 100;
  bool lines = false;  // one line per event even on a terminal
  bool help = false;
};

// False with `error` set when the arguments make no sense.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

extern const char* const kUsage;

// The engines' device variables for an --out value: QMID_MIDI_OUT first, then QMOD_AUDIO.
std::pair<std::string, std::string> outputDevices(const std::string& out);

}  // namespace qplay
