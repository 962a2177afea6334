// Lyric and song texts arrive in the song's own 8-bit encoding; these turn them into UTF-8
// for the terminal.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qplay {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The iconv name of the likeliest 8-bit encoding of bytes that are not UTF-8: "CP932",
// "CP949" or "CP1252". Pure ASCII gives "CP1252".
std::string guessCharset(std::string_view bytes);

// Converts from `charset` (any iconv name) to UTF-8. A byte that does not convert, or that
// starts a sequence cut off by the end, becomes U+FFFD and conversion goes on with the next
// byte. Throws std::invalid_argument naming the charset when iconv does not know it.
std::string toUtf8(std::string_view bytes, const std::string& charset);

class CharsetConverter;  // owns one iconv handle; defined in LyricText.cpp

// Decodes the texts of one song. Valid UTF-8 is shown as it is; anything else is converted from
// the charset given at construction or, when none was given, from one guessed on the first text
// that needs it and then kept, so that lines of one song never switch encodings.
class LyricDecoder {
 public:
  explicit LyricDecoder(std::string charset = {});
  ~LyricDecoder();
  LyricDecoder(LyricDecoder&& other) noexcept;
  LyricDecoder& operator=(LyricDecoder&& other) noexcept;
  LyricDecoder(const LyricDecoder&) = delete;
  LyricDecoder& operator=(const LyricDecoder&) = delete;

  // Throws std::invalid_argument when the given charset is unknown to iconv.
  std::string decode(std::string_view bytes);
  // For texts that put UTF-8 labels around names in the song's encoding: valid UTF-8 passes
  // through and each run of other bytes is converted as song text.
  std::string decodeMixed(std::string_view bytes);
  // The charset in use; empty until one was needed.
  const std::string& charset() const { return charset_; }

 private:
  CharsetConverter& converter();

  std::string charset_;
  std::unique_ptr<CharsetConverter> converter_;
};

}  // namespace qplay
