// qplay: plays MIDI files, MIDI URLs and tracker modules through the two engines, with a
// karaoke screen on a terminal or one line per event for scripts.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "LyricText.h"
#include "Options.h"
#include "Player.h"
#include "Terminal.h"
#include "qwin.h"

int main(int argc, char** argv) {
  using namespace qplay;
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "qplay: %s\n%s", error.c_str(), kUsage);
    return 1;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.charset.empty()) {
    try {
      toUtf8("", options.charset);
    } catch (const std::exception&) {
      std::fprintf(stderr, "qplay: unknown charset %s (see iconv --list)\n", options.charset.c_str());
      return 1;
    }
  }
  if (!options.out.empty()) {
    const auto devices = outputDevices(options.out);
    setenv("QMID_MIDI_OUT", devices.first.c_str(), 1);
    setenv("QMOD_AUDIO", devices.second.c_str(), 1);
  }

  QWinHandle window = QWin_Create();
  if (!window) {
    std::fprintf(stderr, "qplay: cannot create a message window\n");
    return 1;
  }
  installSignalHandlers();
  Terminal terminal;
  const bool screen = !options.lines && terminal.enter();
  Player player(options, window, screen ? &terminal : nullptr);
  const int total = static_cast<int>(options.sources.size());
  for (int i = 0; i < total; ++i) {
    if (player.play(options.sources[i], i, total) == Player::Outcome::Quit) break;
  }
  terminal.leave();
  QWin_Destroy(window);
  if (screen) {
    for (const std::string& line : player.reports()) std::fprintf(stderr, "qplay: %s\n", line.c_str());
  }
  return player.failed() ? 1 : 0;
}
