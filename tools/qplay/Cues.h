// The karaoke cues that the MIDI engine posts, copied out of the engine's records as they arrive,
// and the two-line lyric display that they drive.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "qwin.h"

namespace qplay {

struct Cue {
  enum Kind { Start, Line, Syllable, SeekLine, SeekSyllable, Stop, Other };
  Kind kind = Other;
  int line = 0;          // Line, SeekLine: the line's index; syllables: the line they belong to
  bool leadIn = false;   // Line, SeekLine
  std::size_t end = 0;   // syllables: where the syllable ends in its line's text, in bytes
  std::string text;      // Start: the title; lines: the text; syllables: the syllable's bytes
  std::string lineText;  // syllables: the whole text of their line, as far as it was cued
};

// Turns MSG_KARAOKE messages into cues. The records behind the pointers belong to the song, so
// a message is read only while its song is loaded, and everything a cue needs is copied.
class CueReader {
 public:
  Cue read(const QWinMessage& message);

 private:
  std::map<int, std::string> lineTexts_;  // syllables find their text in their line
};

// What a listener sees of the lyrics: the line being sung, with how much of it is sung, and the
// line that comes next.
struct KaraokeState {
  std::string title;
  int current = 0;  // 0: none
  std::string currentText;
  std::size_t sung = 0;  // bytes of currentText already sung
  int next = 0;          // 0: none
  std::string nextText;

  void apply(const Cue& cue);
};

}  // namespace qplay
