// Lyric capture from text events: syllables and lines with their times and lead-in, duplicate
// suppression, "@T" title tags, copyright and track names, trimming, and table growth.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "FakePlatform.h"
#include "MidiEngine.h"
#include "SmfBuilder.h"

#if defined(__SANITIZE_ADDRESS__)
#define LYRIC_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LYRIC_TEST_ASAN 1
#endif
#endif
#ifdef LYRIC_TEST_ASAN
// From the sanitizer runtime; not every compiler ships its header.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

namespace {

using smf::Track;

qmid::MidiEngine engine;  // zero-filled static storage, like the library's

constexpr int kText = 1;
constexpr int kCopyright = 2;
constexpr int kTrackName = 3;
constexpr int kLyric = 5;

// Checks the size of a heap block where the allocator can tell it: under AddressSanitizer
// it is exactly the size asked for.
void expectBlockBytes(const void* block, std::size_t expected) {
#ifdef LYRIC_TEST_ASAN
  EXPECT_EQ(__sanitizer_get_allocated_size(block), expected);
#else
  (void)block;
  (void)expected;
#endif
}

using Syllable = std::tuple<std::uint32_t, std::int32_t, std::int32_t, std::int32_t>;

Syllable syllable(int index) {
  const LyricSyllable& s = engine.syllables[index];
  return Syllable{s.time, s.line, s.offset, s.length};
}

// A loaded song without events, so the capture starts from the state a load gives it.
class LyricCapture : public ::testing::Test {
 protected:
  void SetUp() override { fresh(); }
  void TearDown() override { qmid::release(engine); }

  static void fresh() {
    qmid::release(engine);
    ASSERT_EQ(qmid::openOutput(engine, nullptr), 1);
    const smf::Bytes empty = smf::File().header(1, 0, 480);
    ASSERT_EQ(qmid::loadMemory(engine, empty.data(), static_cast<std::int32_t>(empty.size())), 1);
    ASSERT_NE(engine.lines, nullptr);
    ASSERT_NE(engine.syllables, nullptr);
  }

  // One text event of the given type, as the loader hands it over.
  static void say(int type, const std::string& text, std::uint32_t time = 0, int track = 1) {
    qmid::captureText(engine, type, static_cast<std::int32_t>(text.size()),
                      reinterpret_cast<const std::uint8_t*>(text.data()), track, time);
  }

  fakes::FakePlatform fake;
};

TEST_F(LyricCapture, TwinkleExample) {
  say(kLyric, "\\Twinkle ", 1000);
  say(kLyric, "twin", 1500);
  say(kLyric, "kle", 2000);
  say(kLyric, "/Little ", 3000);
  say(kLyric, "/Star", 30000);

  EXPECT_EQ(engine.lineCount, 4);
  EXPECT_EQ(engine.syllableCount, 6);
  EXPECT_EQ(syllable(0), Syllable(0, 0, 0, 0));
  EXPECT_EQ(syllable(1), Syllable(1000, 1, 0, 8));
  EXPECT_EQ(syllable(2), Syllable(1500, 1, 8, 4));
  EXPECT_EQ(syllable(3), Syllable(2000, 1, 12, 3));
  EXPECT_EQ(syllable(4), Syllable(3000, 2, 0, 7));
  EXPECT_EQ(syllable(5), Syllable(30000, 3, 0, 4));
  const LyricLine* lines = engine.lines;
  EXPECT_STREQ(lines[0].text, "");
  EXPECT_STREQ(lines[1].text, "Twinkle twinkle");
  EXPECT_EQ(lines[1].startTime, 0u);
  EXPECT_EQ(lines[1].leadIn, 1);
  EXPECT_STREQ(lines[2].text, "Little ");
  EXPECT_EQ(lines[2].startTime, 1000u);
  EXPECT_EQ(lines[2].leadIn, 0);
  EXPECT_STREQ(lines[3].text, "Star");
  EXPECT_EQ(lines[3].startTime, 25000u);
  EXPECT_EQ(lines[3].leadIn, 1);
}

// Line 1 is always led in, 5000 ms ahead and never before 0; a later line is led in only after
// a gap of more than 20000 ms from the first syllable of the line before.
TEST_F(LyricCapture, LineStartTimesAndLeadIn) {
  const struct {
    const char* what;
    std::uint32_t first;   // time of line 1
    std::uint32_t second;  // time of line 2, 0 for none
    std::uint32_t startTime;
    std::int32_t leadIn;
  } cases[] = {
      {"line 1 at 4000", 4000, 0, 0, 1},       {"line 1 at 5000", 5000, 0, 0, 1},
      {"line 1 at 9000", 9000, 0, 4000, 1},    {"gap of exactly 20000", 1000, 21000, 1000, 0},
      {"gap of 20001", 1000, 21001, 16001, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    say(kLyric, "/one", c.first);
    if (c.second) say(kLyric, "/two", c.second);
    const LyricLine& line = engine.lines[c.second ? 2 : 1];
    EXPECT_EQ(line.startTime, c.startTime);
    EXPECT_EQ(line.leadIn, c.leadIn);
  }
}

TEST_F(LyricCapture, GapIsMeasuredFromTheFirstSyllableOfTheLineBefore) {
  say(kLyric, "/one ", 1000);
  say(kLyric, "more", 15000);
  say(kLyric, "/two", 22000);  // 7000 after the last syllable, 21000 after the line began
  EXPECT_EQ(engine.lines[2].leadIn, 1);
  EXPECT_EQ(engine.lines[2].startTime, 17000u);
}

TEST_F(LyricCapture, TextAndLyricEventsAtTheSameMillisecondGiveOneSyllable) {
  say(kText, "/Hel", 1000);
  say(kLyric, "/Hel", 1000);
  say(kLyric, "lo", 1200);
  say(kText, "lo", 1200);
  EXPECT_EQ(engine.syllableCount, 3);
  EXPECT_EQ(engine.lineCount, 2);
  EXPECT_STREQ(engine.lines[1].text, "Hello");
}

// The same through the loader: the words as text events in one track, as lyric events in
// another, on the same ticks.
TEST_F(LyricCapture, DuplicatesFromTwoTracksOfALoadedSong) {
  const smf::Bytes file = smf::song(1, 480,
                                    {Track()
                                         .text(0, kText, "\\Hel")
                                         .text(240, kText, "lo")
                                         .text(240, kText, "/World")
                                         .endOfTrack(),
                                     Track()
                                         .text(0, kLyric, "\\Hel")
                                         .text(240, kLyric, "lo")
                                         .text(240, kLyric, "/World")
                                         .endOfTrack()});
  qmid::release(engine);
  ASSERT_EQ(qmid::openOutput(engine, nullptr), 1);
  ASSERT_EQ(qmid::loadMemory(engine, file.data(), static_cast<std::int32_t>(file.size())), 1);
  EXPECT_EQ(engine.syllableCount, 4);
  EXPECT_EQ(engine.lineCount, 3);
  EXPECT_EQ(syllable(1), Syllable(0, 1, 0, 3));
  EXPECT_EQ(syllable(2), Syllable(250, 1, 3, 2));
  EXPECT_EQ(syllable(3), Syllable(500, 2, 0, 5));
  EXPECT_STREQ(engine.lines[1].text, "Hello");
  EXPECT_STREQ(engine.lines[2].text, "World");
}

// A bare break starts the line; an event at its millisecond is a duplicate, and the next
// syllable sets the line's timing again, measured from the time of the break.
TEST_F(LyricCapture, BareBreakLeavesTheLineTimingToTheNextSyllable) {
  say(kLyric, "/one", 1000);
  say(kLyric, "/", 30000);
  say(kLyric, "dropped", 30000);
  say(kLyric, "two", 31000);
  EXPECT_EQ(engine.lineCount, 3);
  EXPECT_EQ(engine.syllableCount, 4);
  EXPECT_EQ(syllable(2), Syllable(30000, 2, 0, 0));
  EXPECT_EQ(syllable(3), Syllable(31000, 2, 0, 3));
  EXPECT_STREQ(engine.lines[2].text, "two");
  EXPECT_EQ(engine.lines[2].leadIn, 0);
  EXPECT_EQ(engine.lines[2].startTime, 30000u);
}

TEST_F(LyricCapture, LyricsWithoutALineBreakStayInLineZero) {
  say(kLyric, "Hel", 1000);
  say(kLyric, "lo", 2000);
  EXPECT_EQ(engine.lineCount, 1);  // not a karaoke song
  EXPECT_EQ(engine.syllableCount, 3);
  EXPECT_EQ(syllable(2), Syllable(2000, 0, 3, 2));
  EXPECT_STREQ(engine.lines[0].text, "Hello");
  EXPECT_EQ(engine.lines[0].leadIn, 1);
  EXPECT_EQ(engine.lines[0].startTime, 0u);

  say(kLyric, "/Next", 3000);
  EXPECT_EQ(engine.lineCount, 2);
  EXPECT_EQ(syllable(3), Syllable(3000, 1, 0, 4));
}

TEST_F(LyricCapture, TagLinesAndSyllablesThatLookLikeTags) {
  const struct {
    const char* what;
    std::vector<std::string> texts;  // text events in order, 100 ms apart
    const char* title;
    std::int32_t syllableCount;
  } cases[] = {
      {"other tag letters are ignored",
       {"@KMIDI KARAOKE FILE", "@LENGL", "@IWords", "@V0100"},
       "",
       1},
      {"two title lines", {"@TTwinkle", "@TTraditional"}, "Twinkle\nTraditional", 1},
      {"title part trimmed of line breaks and trailing blanks",
       {"@T\r\nTwinkle \t\r\n"},
       "Twinkle",
       1},
      {"one-byte @ is a syllable", {"@"}, "", 2},
      {"@ alone after trimming is no syllable", {"@\r\n"}, "", 1},
      {"empty title part adds only the separator", {"@TOne", "@T"}, "One\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    std::uint32_t time = 1000;
    for (const std::string& text : c.texts) say(kText, text, time += 100);
    EXPECT_STREQ(engine.title, c.title);
    EXPECT_EQ(engine.syllableCount, c.syllableCount);
    EXPECT_EQ(engine.lineCount, 1);
  }
}

TEST_F(LyricCapture, TitleLineThatDoesNotFitLeavesTheSeparator) {
  const std::string first(250, 'a');
  say(kLyric, "@T" + first);
  say(kLyric, "@Tbcdefghij");  // 250 + 1 + 10 would reach 256
  EXPECT_EQ(std::string(engine.title), first + "\n");
}

TEST_F(LyricCapture, FramingIsTrimmedFromSyllablesButBlanksOnlyFromNames) {
  say(kLyric, "\r\n/la \r\n", 1000);
  say(kLyric, "\b\bla\b", 2000);
  std::string withZero("lo\0xyz", 6);
  qmid::captureText(engine, kLyric, 6, reinterpret_cast<const std::uint8_t*>(withZero.data()), 1,
                    4000);
  say(kTrackName, "\r\nPiano \t \r\n", 0, 2);
  say(kCopyright, "(c) Nobody\t ");

  EXPECT_EQ(syllable(1), Syllable(1000, 1, 0, 3));
  EXPECT_EQ(syllable(2), Syllable(2000, 1, 3, 2));
  EXPECT_EQ(syllable(3), Syllable(4000, 1, 5, 2));
  EXPECT_STREQ(engine.lines[1].text, "la lalo");
  EXPECT_STREQ(engine.trackNames[1], "Piano");
  EXPECT_STREQ(engine.copyright, "(c) Nobody");
}

TEST_F(LyricCapture, TrackNamesByTrackNumber) {
  const std::string name255(255, 'n');
  const std::string name300(300, 'x');
  const struct {
    const char* what;
    int track;
    std::string name;
    int storedIn;  // track whose name must equal the text, 0 for none
    std::int32_t trackNameCount;
  } cases[] = {
      {"track 1", 1, "Piano", 1, 1},
      {"track 100", 100, "Last", 100, 100},
      {"track 101 is ignored", 101, "Beyond", 0, 0},
      {"track 0 is ignored", 0, "None", 0, 0},
      {"255 bytes are stored", 7, name255, 7, 7},
      {"300 bytes are not stored but count", 4, name300, 0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    say(kTrackName, c.name, 0, c.track);
    EXPECT_EQ(engine.trackNameCount, c.trackNameCount);
    for (int k = 1; k <= qmid::kTrackNames; ++k)
      EXPECT_EQ(std::string(engine.trackNames[k - 1]), k == c.storedIn ? c.name : "")
          << "track " << k;
  }
}

TEST_F(LyricCapture, TrackNameCountIsTheHighestTrackSeen) {
  say(kTrackName, "Drums", 0, 5);
  say(kTrackName, "Bass", 0, 2);
  say(kTrackName, "Bass 2", 0, 2);
  EXPECT_EQ(engine.trackNameCount, 5);
  EXPECT_STREQ(engine.trackNames[1], "Bass 2");
}

TEST_F(LyricCapture, LaterCopyrightReplacesAnEarlierOneThatFits) {
  say(kCopyright, "First");
  say(kCopyright, "Second");
  EXPECT_STREQ(engine.copyright, "Second");
  say(kCopyright, std::string(256, 'c'));
  EXPECT_STREQ(engine.copyright, "Second");
}

TEST_F(LyricCapture, OtherTextTypesAreIgnored) {
  for (int type : {4, 6, 7, 8, 15}) say(type, "/Verse", 1000 + type);
  EXPECT_EQ(engine.lineCount, 1);
  EXPECT_EQ(engine.syllableCount, 1);
  EXPECT_STREQ(engine.title, "");
  EXPECT_STREQ(engine.copyright, "");
  EXPECT_EQ(engine.trackNameCount, 0);
}

// Offsets count every syllable, also one whose text could not go into the 255 bytes of the line.
TEST_F(LyricCapture, SyllablesThatDoNotFitStayOutOfTheLineText) {
  say(kLyric, "/" + std::string(200, 'a'), 1000);
  say(kLyric, std::string(55, 'b'), 2000);  // 255 bytes: fits
  say(kLyric, "c", 3000);                   // would reach 256
  EXPECT_EQ(std::string(engine.lines[1].text), std::string(200, 'a') + std::string(55, 'b'));
  EXPECT_EQ(syllable(3), Syllable(3000, 1, 255, 1));

  say(kLyric, "/" + std::string(256, 'd'), 4000);  // too long for a line of its own
  say(kLyric, "e", 5000);
  EXPECT_EQ(syllable(4), Syllable(4000, 2, 0, 256));
  EXPECT_EQ(syllable(5), Syllable(5000, 2, 256, 1));
  EXPECT_STREQ(engine.lines[2].text, "e");
  EXPECT_EQ(engine.lines[2].startTime, 1000u);  // timed by its first syllable, the long one
}

// Both tables grow by a block one entry before their room runs out; what they held stays, and
// the added entries start zeroed. AddressSanitizer reports any entry written past the room.
TEST_F(LyricCapture, TablesGrowInBlocksKeepingTheirEntries) {
  for (int i = 1; i <= 8; ++i) say(kLyric, "/L" + std::to_string(i), 1000u * i);
  EXPECT_EQ(engine.lineCount, 9);
  expectBlockBytes(engine.lines, 10 * sizeof(LyricLine));
  say(kLyric, "/L9", 9000);
  EXPECT_EQ(engine.lineCount, 10);
  expectBlockBytes(engine.lines, 20 * sizeof(LyricLine));
  EXPECT_EQ(engine.lines[19].startTime, 0u);
  EXPECT_EQ(engine.lines[19].text[0], 0);

  // Syllables 10 to 98 fill the first block; syllable 99 grows it.
  for (int i = 10; i <= 98; ++i) say(kLyric, "s", 1000u * i);
  EXPECT_EQ(engine.syllableCount, 99);
  expectBlockBytes(engine.syllables, 100 * sizeof(LyricSyllable));
  say(kLyric, "s", 99000);
  EXPECT_EQ(engine.syllableCount, 100);
  expectBlockBytes(engine.syllables, 200 * sizeof(LyricSyllable));
  EXPECT_EQ(syllable(199), Syllable(0, 0, 0, 0));

  for (int i = 1; i <= 8; ++i)
    EXPECT_EQ(std::string(engine.lines[i].text), "L" + std::to_string(i)) << "line " << i;
  EXPECT_EQ(std::string(engine.lines[9].text), "L9" + std::string(90, 's'));
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(syllable(i), Syllable(1000u * i, i, 0, 2)) << i;
  for (int i = 10; i <= 99; ++i)
    ASSERT_EQ(syllable(i), Syllable(1000u * i, 9, 2 + (i - 10), 1)) << i;
}

TEST_F(LyricCapture, MissingTablesReceiveNothing) {
  std::free(engine.lines);
  std::free(engine.syllables);
  engine.lines = nullptr;
  engine.syllables = nullptr;
  say(kLyric, "/one", 1000);
  say(kLyric, "two", 2000);
  say(kText, "@TTitle", 3000);
  EXPECT_EQ(engine.lines, nullptr);
  EXPECT_EQ(engine.syllables, nullptr);
  EXPECT_STREQ(engine.title, "Title");
}

}  // namespace
