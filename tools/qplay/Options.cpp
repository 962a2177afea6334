// Parsing qplay's command line.
#include "Options.h"

#include <cstdlib>
#include <cstring>

namespace qplay {

const char* const kUsage =
    "usage: qplay [options] SOURCE...\n"
    "Plays MIDI files, MIDI URLs and tracker modules in turn.\n"
    "  --out DEVICE     synth (or device), null, wav:PATH, smf:PATH (MIDI only)\n"
    "  --charset NAME   encoding of lyrics that are not UTF-8 (default: guessed among\n"
    "                   CP1252, CP932 (Shift-JIS) and CP949 (EUC-KR))\n"
    "  --tempo PERCENT  start MIDI songs at this share of their tempo (10-400, default 100)\n"
    "  --lines          one line per event even on a terminal\n"
    "Keys: space pause, left/right seek 5 s, up/down or +/- tempo, [ ] key, n next, q quit\n";

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "--out") {
      if (!value(options.out)) return false;
      if (options.out.empty()) {
        error = "--out needs a device";
        return false;
      }
    } else if (arg == "--charset") {
      if (!value(options.charset)) return false;
    } else if (arg == "--tempo") {
      std::string text;
      if (!value(text)) return false;
      char* end = nullptr;
      const long percent = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || percent < 10 || percent > 400) {
        error = "--tempo takes a percentage from 10 to 400";
        return false;
      }
      options.tempoPercent = static_cast<int>(percent);
    } else if (arg == "--lines") {
      options.lines = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) options.sources.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      options.sources.push_back(arg);
    }
  }
  if (options.sources.empty() && !options.help) {
    error = "no source given";
    return false;
  }
  return true;
}

std::pair<std::string, std::string> outputDevices(const std::string& out) {
  if (out == "synth" || out == "device") return {"synth", "device"};
  if (out.rfind("smf:", 0) == 0) return {out, "null"};  // a module has no MIDI to record
  return {out, out};
}

}  // namespace qplay
