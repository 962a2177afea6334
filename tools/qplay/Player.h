// Plays one source after another the way a desktop player would: one message window, the
// engines' exports, cues read from the window, mode and position polled about 20 times a second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"
#include "qwin.h"

namespace qplay {

class Terminal;

class Player {
 public:
  enum class Outcome { Ended, Skipped, Quit, Failed };

  // `terminal` is null in line mode.
  Player(const Options& options, QWinHandle window, Terminal* terminal);

  Outcome play(const std::string& source, int index, int total);

  // Failures and notices in the order they came, for standard error.
  const std::vector<std::string>& reports() const { return reports_; }
  bool failed() const { return failed_; }

 private:
  class Song;
  void report(const std::string& line, bool failure);
  // Starts the engine, switching to WAV files for good when no audio device can be opened.
  std::int32_t startSong(Song& song);
  std::string nextFallbackWav();

  const Options& options_;
  QWinHandle window_;
  Terminal* terminal_;
  bool fallback_ = false;  // no device could be opened: rendering to WAV files
  int renderedFiles_ = 0;
  bool failed_ = false;
  std::vector<std::string> reports_;
};

}  // namespace qplay
