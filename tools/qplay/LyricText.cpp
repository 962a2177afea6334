// Turns lyric bytes in a song's own 8-bit encoding into UTF-8 with glibc's iconv, guessing the
// encoding when the user did not name one.
#include "LyricText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace qplay {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
// Longest character of the multi-byte charsets iconv offers (GB18030, EUC-TW).
constexpr std::size_t kLongestCharacter = 4;
const std::size_t kIconvFailed = static_cast<std::size_t>(-1);

bool within(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// Length of the well-formed UTF-8 sequence that starts `text`, 0 when none does.
std::size_t utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto first = static_cast<unsigned char>(text[0]);
  if (first < 0x80) return 1;
  std::size_t length = 0;
  // The second byte's range is narrowed where a wider one would allow overlongs (E0, F0),
  // surrogates (ED) or code points above U+10FFFF (F4).
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (within(first, 0xC2, 0xDF)) {
    length = 2;
  } else if (within(first, 0xE0, 0xEF)) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (within(first, 0xF0, 0xF4)) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (!within(static_cast<unsigned char>(text[1]), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!within(static_cast<unsigned char>(text[i]), 0x80, 0xBF)) return 0;
  }
  return length;
}

bool looksLikeEucKr(std::string_view bytes) {
  std::size_t pairs = 0;
  std::size_t hangulLeads = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (!within(lead, 0xA1, 0xFE) || i + 1 >= bytes.size() ||
        !within(static_cast<unsigned char>(bytes[i + 1]), 0xA1, 0xFE)) {
      return false;
    }
    ++pairs;
    if (within(lead, 0xB0, 0xC8)) ++hangulLeads;
    i += 2;
  }
  return pairs > 0 && hangulLeads * 2 > pairs;
}

bool looksLikeShiftJis(std::string_view bytes) {
  std::size_t highTrails = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80 || within(lead, 0xA1, 0xDF)) {
      ++i;
      continue;
    }
    if (!(within(lead, 0x81, 0x9F) || within(lead, 0xE0, 0xFC)) || i + 1 >= bytes.size()) {
      return false;
    }
    const auto trail = static_cast<unsigned char>(bytes[i + 1]);
    if (!(within(trail, 0x40, 0x7E) || within(trail, 0x80, 0xFC))) return false;
    if (trail >= 0x80) ++highTrails;
    i += 2;
  }
  return highTrails > 0;
}

// What is left to guess from once the UTF-8 labels of a mixed text are taken out. ASCII stays
// because Shift-JIS trail bytes can be ASCII.
std::string withoutMultiByteUtf8(std::string_view bytes) {
  std::string rest;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8SequenceLength(bytes.substr(i));
    if (length <= 1) {
      rest += bytes[i];
      ++i;
    } else {
      i += length;
    }
  }
  return rest;
}

}  // namespace

class CharsetConverter {
 public:
  explicit CharsetConverter(const std::string& charset) {
    // glibc would read an empty name as the locale's charset, which differs between terminals.
    if (!charset.empty()) handle_ = iconv_open("UTF-8", charset.c_str());
    if (handle_ == reinterpret_cast<iconv_t>(-1)) {
      if (charset.empty() || errno == EINVAL) {
        throw std::invalid_argument("unknown charset \"" + charset + "\"");
      }
      throw std::system_error(errno, std::generic_category(), "iconv_open " + charset);
    }
  }
  ~CharsetConverter() { iconv_close(handle_); }
  CharsetConverter(const CharsetConverter&) = delete;
  CharsetConverter& operator=(const CharsetConverter&) = delete;

  std::string convert(std::string_view bytes) {
    std::string out;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    // iconv's input parameter is not const although it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    // Some converters (CP1255, CP1258) hold the last character back until the final flush.
    bool flushing = false;
    char buffer[1024];
    for (;;) {
      char* outPos = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t result = flushing ? iconv(handle_, nullptr, nullptr, &outPos, &outLeft)
                                          : iconv(handle_, &in, &inLeft, &outPos, &outLeft);
      const int error = errno;
      out.append(buffer, static_cast<std::size_t>(outPos - buffer));
      if (result != kIconvFailed) {
        if (flushing) return out;
        flushing = true;
      } else if (error == E2BIG) {
        continue;
      } else if (!flushing && (error == EILSEQ || error == EINVAL)) {
        out += kReplacement;
        ++in;
        --inLeft;
      } else {
        throw std::system_error(error, std::generic_category(), "iconv");
      }
    }
  }

  // How many bytes the character at the start of `rest` takes, so that a double-byte character
  // whose trail byte happens to be ASCII is not split. iconv says EINVAL while the bytes fed so
  // far only begin a character; a byte that does not convert counts as one.
  std::size_t characterLength(std::string_view rest) {
    const std::size_t limit = std::min(rest.size(), kLongestCharacter);
    for (std::size_t length = 1; length <= limit; ++length) {
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(rest.data());
      std::size_t inLeft = length;
      char buffer[64];
      char* outPos = buffer;
      std::size_t outLeft = sizeof buffer;
      if (iconv(handle_, &in, &inLeft, &outPos, &outLeft) != kIconvFailed) return length;
      if (errno != EINVAL) return 1;
    }
    return 1;
  }

 private:
  iconv_t handle_ = reinterpret_cast<iconv_t>(-1);
};

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8SequenceLength(bytes.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Only bytes >= 0x80 decide, in this order:
// 1. Each of them is part of a strict EUC-KR pair (lead and trail 0xA1-0xFE) and more than half
//    of the leads are 0xB0-0xC8, the Hangul syllable rows: "CP949". Korean goes first because
//    Hangul pairs often parse as Shift-JIS too.
// 2. They parse as Shift-JIS (lead 0x81-0x9F or 0xE0-0xFC with trail 0x40-0x7E or 0x80-0xFC;
//    0xA1-0xDF alone are half-width katakana) with at least one double-byte character whose
//    second byte is 0x80 or above: "CP932". Hiragana and most kanji have one; an accented
//    Western letter followed by an ASCII letter ("Noël": EB 6C) also parses, but never has one.
// 3. Otherwise, and for pure ASCII: "CP1252".
std::string guessCharset(std::string_view bytes) {
  if (looksLikeEucKr(bytes)) return "CP949";
  if (looksLikeShiftJis(bytes)) return "CP932";
  return "CP1252";
}

std::string toUtf8(std::string_view bytes, const std::string& charset) {
  return CharsetConverter(charset).convert(bytes);
}

LyricDecoder::LyricDecoder(std::string charset) : charset_(std::move(charset)) {}
LyricDecoder::~LyricDecoder() = default;
LyricDecoder::LyricDecoder(LyricDecoder&& other) noexcept = default;
LyricDecoder& LyricDecoder::operator=(LyricDecoder&& other) noexcept = default;

CharsetConverter& LyricDecoder::converter() {
  if (!converter_) converter_ = std::make_unique<CharsetConverter>(charset_);
  return *converter_;
}

std::string LyricDecoder::decode(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  if (charset_.empty()) charset_ = guessCharset(bytes);
  return converter().convert(bytes);
}

std::string LyricDecoder::decodeMixed(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  if (charset_.empty()) charset_ = guessCharset(withoutMultiByteUtf8(bytes));
  CharsetConverter& songText = converter();
  std::string out;
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t utf8Length = utf8SequenceLength(bytes.substr(start));
    if (utf8Length > 0) {
      out.append(bytes.substr(start, utf8Length));
      start += utf8Length;
      continue;
    }
    // The run goes on character by character in the song's charset until UTF-8 resumes.
    std::size_t end = start;
    do {
      end += songText.characterLength(bytes.substr(end));
    } while (end < bytes.size() && utf8SequenceLength(bytes.substr(end)) == 0);
    out += songText.convert(bytes.substr(start, end - start));
    start = end;
  }
  return out;
}

}  // namespace qplay
