// Lyric text decoding: UTF-8 checks, the charset guess, iconv conversion with U+FFFD for bytes
// that do not convert, and the per-song decoder that keeps one encoding for a whole song.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "LyricText.h"

namespace {

using qplay::guessCharset;
using qplay::isValidUtf8;
using qplay::LyricDecoder;
using qplay::toUtf8;

// Song words as the legacy encoders write them (bytes checked with iconv).
const std::string kCafeCp1252 = "Caf\xE9";
const std::string kSakuraSjis = "\x82\xB3\x82\xAD\x82\xE7";           // さくら
const std::string kKaraokeSjis = "\x83\x4A\x83\x89\x83\x49\x83\x50";  // カラオケ, ASCII trails
const std::string kArirangEucKr = "\xBE\xC6\xB8\xAE\xB6\xFB";         // 아리랑
const std::string kSaranghaeEucKr = "\xBB\xE7\xB6\xFB\xC7\xD8";       // 사랑해
const std::string kReplacement = "\xEF\xBF\xBD";
// さくら read as CP1252: U+201A ³ U+201A soft-hyphen U+201A ç.
const std::string kSakuraAsCp1252 = "\xE2\x80\x9A\xC2\xB3\xE2\x80\x9A\xC2\xAD\xE2\x80\x9A\xC3\xA7";

struct Utf8Case {
  const char* name;
  std::string bytes;
  bool valid;
};

class Utf8Validity : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, MatchesWellFormedness) {
  EXPECT_EQ(isValidUtf8(GetParam().bytes), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Validity,
    testing::Values(Utf8Case{"Empty", "", true}, Utf8Case{"Ascii", "Hello, world\t~", true},
                    Utf8Case{"TwoBytes", "Caf\xC3\xA9", true},
                    Utf8Case{"ThreeBytes", "\xE2\x82\xAC", true},
                    Utf8Case{"FourBytes", "\xF0\x9F\x8E\xA4", true},
                    Utf8Case{"HighestCodePoint", "\xF4\x8F\xBF\xBF", true},
                    Utf8Case{"JustBelowSurrogates", "\xED\x9F\xBF", true},
                    Utf8Case{"OverlongTwoBytes", "\xC0\xAF", false},
                    Utf8Case{"OverlongThreeBytes", "\xE0\x80\xAF", false},
                    Utf8Case{"OverlongFourBytes", "\xF0\x80\x80\xAF", false},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", false},
                    Utf8Case{"AboveMaximum", "\xF4\x90\x80\x80", false},
                    Utf8Case{"LeadAboveF4", "\xF5\x80\x80\x80", false},
                    Utf8Case{"CutAtEnd", "ab\xE2\x82", false},
                    Utf8Case{"CutBeforeAscii", std::string("\xE2\x82") + "z", false},
                    Utf8Case{"LoneContinuation", "a\x80", false},
                    Utf8Case{"Cp1252Word", kCafeCp1252, false}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return info.param.name; });

struct GuessCase {
  const char* name;
  std::string bytes;
  const char* charset;
};

class CharsetGuess : public testing::TestWithParam<GuessCase> {};

TEST_P(CharsetGuess, PicksTheLikeliestEncoding) {
  EXPECT_EQ(guessCharset(GetParam().bytes), GetParam().charset);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CharsetGuess,
    testing::Values(GuessCase{"Ascii", "la la la", "CP1252"},
                    GuessCase{"Cp1252Word", kCafeCp1252, "CP1252"},
                    // Accented letters before ASCII ones parse as Shift-JIS pairs too.
                    GuessCase{"Cp1252AccentInWord", "No\xEB" "l, Cr\xE8" "me, M\xE4" "dchen", "CP1252"},
                    // 0x80 (the euro sign) cannot start a Shift-JIS character.
                    GuessCase{"Cp1252Euro", "5 \x80", "CP1252"},
                    GuessCase{"ShiftJisHiragana", kSakuraSjis, "CP932"},
                    GuessCase{"ShiftJisAsciiTrails", "Song " + kKaraokeSjis, "CP932"},
                    // Half-width katakana alone are also plain CP1252 letters.
                    GuessCase{"HalfWidthOnly", "\xBB\xB8\xD7", "CP1252"},
                    GuessCase{"HalfWidthAndKanji", "\xB6\xD7\xB5\xB9 \x89\xCC", "CP932"},
                    GuessCase{"EucKrHangul", kArirangEucKr, "CP949"},
                    // 凜 is a strict EUC-KR pair too, but in a Hanja row, not a Hangul one.
                    GuessCase{"KanjiLikeEucPair", "\xEA\xA3", "CP932"},
                    // These bytes parse as Shift-JIS as well; Korean must win.
                    GuessCase{"EucKrAlsoShiftJis", kSaranghaeEucKr, "CP949"}),
    [](const testing::TestParamInfo<GuessCase>& info) { return info.param.name; });

struct ConversionCase {
  const char* name;
  std::string bytes;
  const char* charset;
  std::string utf8;
};

class Conversion : public testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, GivesUtf8) {
  EXPECT_EQ(toUtf8(GetParam().bytes, GetParam().charset), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Conversion,
    testing::Values(
        ConversionCase{"Empty", "", "CP932", ""},
        ConversionCase{"Cp1252Word", kCafeCp1252, "CP1252", "Café"},
        ConversionCase{"Cp1252Euro", "\x80", "CP1252", "€"},
        ConversionCase{"Cp1252Undefined", std::string("a\x81") + "b\x9D", "CP1252",
                       "a" + kReplacement + "b" + kReplacement},
        ConversionCase{"ShiftJis", kSakuraSjis + " " + kKaraokeSjis, "CP932", "さくら カラオケ"},
        ConversionCase{"HalfWidthKatakana", "\xBB\xB8\xD7", "CP932", "ｻｸﾗ"},
        ConversionCase{"ShiftJisBadTrail", "\x82 " + kSakuraSjis, "CP932",
                       kReplacement + " さくら"},
        ConversionCase{"ShiftJisCutAtEnd", kSakuraSjis + "\x82", "CP932", "さくら" + kReplacement},
        ConversionCase{"EucKr", kArirangEucKr, "CP949", "아리랑"},
        ConversionCase{"EucKrCutAtEnd", kArirangEucKr + "\xBE", "CP949", "아리랑" + kReplacement},
        // CP1258 holds each letter back in case a combining accent follows.
        ConversionCase{"HeldBackLastLetter", "ab", "CP1258", "ab"}),
    [](const testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

TEST(ConversionLimits, OutputLongerThanOneBufferIsComplete) {
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += "€";
  EXPECT_EQ(toUtf8(std::string(3000, '\x80'), "CP1252"), expected);
}

TEST(ConversionLimits, UnknownCharsetThrowsNamingIt) {
  try {
    toUtf8("abc", "NO-SUCH-CHARSET");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("NO-SUCH-CHARSET"), std::string::npos);
  }
  // glibc would take an empty name as the locale's charset.
  EXPECT_THROW(toUtf8("abc", ""), std::invalid_argument);
}

TEST(LyricDecoder, Utf8PassesThroughWithoutAGuess) {
  LyricDecoder decoder;
  EXPECT_EQ(decoder.decode("Hello"), "Hello");
  EXPECT_EQ(decoder.decode("さくら"), "さくら");
  EXPECT_EQ(decoder.charset(), "");
  EXPECT_EQ(decoder.decode(kArirangEucKr), "아리랑");
  EXPECT_EQ(decoder.charset(), "CP949");
}

TEST(LyricDecoder, FirstGuessIsKeptForTheSong) {
  LyricDecoder western;
  EXPECT_EQ(western.decode(kCafeCp1252), "Café");
  EXPECT_EQ(western.decode(kSakuraSjis), kSakuraAsCp1252);
  EXPECT_EQ(western.charset(), "CP1252");

  LyricDecoder japanese;
  EXPECT_EQ(japanese.decode(kSakuraSjis), "さくら");
  EXPECT_EQ(japanese.decode(kCafeCp1252), "Caf" + kReplacement);
  EXPECT_EQ(japanese.charset(), "CP932");
}

TEST(LyricDecoder, GivenCharsetIsUsedAsIs) {
  LyricDecoder decoder("CP1252");
  EXPECT_EQ(decoder.decode(kSakuraSjis), kSakuraAsCp1252);
  EXPECT_EQ(decoder.decode("さくら"), "さくら");
  EXPECT_EQ(decoder.charset(), "CP1252");

  LyricDecoder unknown("NO-SUCH-CHARSET");
  EXPECT_EQ(unknown.decode("plain"), "plain");
  EXPECT_THROW(unknown.decode(kCafeCp1252), std::invalid_argument);
}

TEST(LyricDecoder, MovedDecoderKeepsItsEncoding) {
  LyricDecoder first;
  EXPECT_EQ(first.decode(kSakuraSjis), "さくら");
  LyricDecoder second(std::move(first));
  EXPECT_EQ(second.decode(kKaraokeSjis), "カラオケ");
  LyricDecoder third("CP1252");
  third = std::move(second);
  EXPECT_EQ(third.decode(kSakuraSjis), "さくら");
  EXPECT_EQ(third.charset(), "CP932");
}

struct MixedCase {
  const char* name;
  const char* givenCharset;
  std::string bytes;
  std::string utf8;
  const char* charsetAfter;
};

class MixedText : public testing::TestWithParam<MixedCase> {};

TEST_P(MixedText, KeepsUtf8LabelsAndConvertsNames) {
  LyricDecoder decoder(GetParam().givenCharset);
  EXPECT_EQ(decoder.decodeMixed(GetParam().bytes), GetParam().utf8);
  EXPECT_EQ(decoder.charset(), GetParam().charsetAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MixedText,
    testing::Values(MixedCase{"AllUtf8", "", "Title: さくら", "Title: さくら", ""},
                    // The katakana's ASCII trail bytes must stay with their lead bytes, and the
                    // label's full-width colon touches the name.
                    MixedCase{"ShiftJisNames", "",
                              "Title: " + kKaraokeSjis + "\n曲名：" + kSakuraSjis + " (作曲)",
                              "Title: カラオケ\n曲名：さくら (作曲)", "CP932"},
                    // The Hangul label's UTF-8 bytes must not sway the guess.
                    MixedCase{"EucKrName", "", "가수: " + kArirangEucKr, "가수: 아리랑", "CP949"},
                    MixedCase{"GivenCp1252", "CP1252", "Título: Canci\xF3n\x81 – fin",
                              "Título: Canción" + kReplacement + " – fin", "CP1252"}),
    [](const testing::TestParamInfo<MixedCase>& info) { return info.param.name; });

}  // namespace
