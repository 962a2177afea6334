// One frame of qplay's screen, built as text with ANSI attributes and drawn over the last one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qplay {

// Everything on screen, already in UTF-8.
struct Frame {
  std::string heading;  // which source of how many
  std::string title;
  std::string info;
  bool karaoke = false;
  std::string sung, unsung;  // the current lyric line, split where the singing is
  std::string next;          // the line after it
  std::string state;         // playing, paused, downloading, ended
  std::int32_t position = 0;
  std::int32_t length = 0;
  bool meter = false;  // the MIDI engine has a meter, the module engine does not
  std::int32_t bands[20] = {};
  std::string controls;  // tempo and key, empty when the song has none
  std::string notice;
};

// Columns that UTF-8 text takes on a terminal (East Asian wide characters take two).
std::size_t displayWidth(std::string_view utf8);
// The longest start of the text that fits into `columns`, cut between characters.
std::string fitWidth(std::string_view utf8, std::size_t columns);
// "m:ss" for milliseconds.
std::string clockText(std::int32_t milliseconds);

// The whole frame from the top-left corner: each row is cleared to its end and whatever stood
// below the last row is cleared, so that drawing it over the previous frame leaves no trace.
// Rows beyond `rows` are left out: writing past the bottom would scroll the screen.
std::string renderFrame(const Frame& frame, int columns, int rows = 1000);

// Attributes used on screen, named so tests can look for them.
inline constexpr std::string_view kSungStyle = "\x1b[1;33m";
inline constexpr std::string_view kDimStyle = "\x1b[2m";
inline constexpr std::string_view kBoldStyle = "\x1b[1m";
inline constexpr std::string_view kPlainStyle = "\x1b[0m";

}  // namespace qplay
