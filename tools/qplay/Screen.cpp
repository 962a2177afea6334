// Laying out qplay's frame: text cut to the terminal's width, the progress bar and the meter.
#include "Screen.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qplay {

namespace {

// Decodes one UTF-8 character at `i` (the text is valid UTF-8: it went through the decoder).
char32_t decodeAt(std::string_view s, std::size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  char32_t code = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : extra == 1 ? c & 0x1F : c;
  ++i;
  while (extra-- > 0 && i < s.size()) code = (code << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return code;
}

int charWidth(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
  if (c >= 0x300 && c < 0x370) return 0;  // combining marks
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

// Control characters would move the cursor: a title's line breaks become a separator.
std::string oneRow(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += " \xC2\xB7 ";  // middle dot
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string styled(std::string_view style, const std::string& text) {
  if (text.empty()) return text;
  return std::string(style) + text + std::string(kPlainStyle);
}

std::string progressBar(std::int32_t position, std::int32_t length, int width) {
  if (width < 3) return {};
  const int inner = width - 2;
  int filled = 0;
  if (length > 0) {
    const double part = std::clamp(static_cast<double>(position) / length, 0.0, 1.0);
    filled = static_cast<int>(part * inner + 0.5);
  }
  std::string bar = "[";
  for (int i = 0; i < inner; ++i) bar += i < filled ? "\xE2\x96\x88" : "\xC2\xB7";  // block, dot
  return bar + "]";
}

}  // namespace

std::size_t displayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) width += static_cast<std::size_t>(charWidth(decodeAt(utf8, i)));
  return width;
}

std::string fitWidth(std::string_view utf8, std::size_t columns) {
  std::size_t width = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::size_t next = i;
    const std::size_t w = static_cast<std::size_t>(charWidth(decodeAt(utf8, next)));
    if (width + w > columns) break;
    width += w;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

std::string clockText(std::int32_t milliseconds) {
  const std::int32_t seconds = std::max<std::int32_t>(milliseconds, 0) / 1000;
  char text[24];
  std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
  return text;
}

std::string renderFrame(const Frame& frame, int columns, int rowLimit) {
  const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 20));
  auto fit = [&](const std::string& text, std::size_t indent = 0) {
    return fitWidth(oneRow(text), width > indent ? width - indent : 0);
  };
  std::vector<std::string> rows;
  rows.push_back(styled(kDimStyle, fit(frame.heading)));
  rows.push_back(styled(kBoldStyle, fit(frame.title)));
  rows.push_back(styled(kDimStyle, fit(frame.info)));
  rows.emplace_back();
  if (frame.karaoke) {
    const std::string sung = fit(frame.sung, 2);
    const std::string unsung = fitWidth(oneRow(frame.unsung), width - 2 - std::min(width - 2, displayWidth(sung)));
    rows.push_back("  " + styled(kSungStyle, sung) + unsung);
    rows.push_back("  " + styled(kDimStyle, fit(frame.next, 2)));
  } else {
    rows.emplace_back();
    rows.emplace_back();
  }
  rows.emplace_back();
  const std::string times = clockText(std::min(frame.position, std::max(frame.length, 0))) + " / " +
                            clockText(frame.length);
  const std::string state = frame.state;
  const int barWidth = static_cast<int>(width) - static_cast<int>(displayWidth(state) + times.size()) - 4;
  rows.push_back(fit(state + "  " + progressBar(frame.position, frame.length, std::min(barWidth, 60)) + "  " + times));
  rows.emplace_back();
  if (frame.meter) {
    static const char* const eighths[] = {" ", "\xE2\x96\x81", "\xE2\x96\x82", "\xE2\x96\x83", "\xE2\x96\x84",
                                          "\xE2\x96\x85", "\xE2\x96\x86", "\xE2\x96\x87", "\xE2\x96\x88"};
    const std::size_t bands = std::min<std::size_t>(20, width / 3);
    for (int row = 2; row >= 0; --row) {
      std::string line;
      for (std::size_t b = 0; b < bands; ++b) {
        const int level = std::clamp(frame.bands[b], 0, 25) * 24 / 25;
        const int cell = std::clamp(level - row * 8, 0, 8);
        line += eighths[cell];
        line += eighths[cell];
        line += ' ';
      }
      rows.push_back(line);
    }
  } else {
    rows.insert(rows.end(), 3, std::string());
  }
  rows.emplace_back();
  rows.push_back(fit(frame.controls));
  rows.push_back(fit(frame.notice));
  rows.push_back(styled(kDimStyle, fit("space pause \xC2\xB7 \xE2\x86\x90/\xE2\x86\x92 seek 5 s \xC2\xB7 "
                                       "\xE2\x86\x91/\xE2\x86\x93 tempo \xC2\xB7 [ ] key \xC2\xB7 n next \xC2\xB7 q quit")));
  rows.resize(std::min(rows.size(), static_cast<std::size_t>(std::max(rowLimit, 1))));
  std::string out = "\x1b[H";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out += rows[i];
    out += "\x1b[K";
    if (i + 1 < rows.size()) out += "\r\n";
  }
  out += "\x1b[J";
  return out;
}

}  // namespace qplay
