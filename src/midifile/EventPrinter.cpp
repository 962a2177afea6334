// Byte formatting shared by the event printers.
#include "EventPrinter.h"

namespace midifile {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
}

void appendHex(std::string& line, const std::uint8_t* data, std::int32_t length) {
  if (!data || length <= 0) {
    line += '-';
    return;
  }
  for (std::int32_t i = 0; i < length; ++i) {
    line += kHexDigits[data[i] >> 4];
    line += kHexDigits[data[i] & 0x0F];
  }
}

void appendEscaped(std::string& line, const std::uint8_t* data, std::int32_t length) {
  if (!data) return;
  for (std::int32_t i = 0; i < length; ++i) {
    const std::uint8_t c = data[i];
    if (c < 0x20 || c >= 0x7F || c == '\\') {
      line += "\\x";
      line += kHexDigits[c >> 4];
      line += kHexDigits[c & 0x0F];
    } else {
      line += static_cast<char>(c);
    }
  }
}

}  // namespace midifile
