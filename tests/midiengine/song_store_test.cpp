// The song store: the length and layout of event records, the event list's growth in blocks
// of 10000 words, and what clear, rewind and release leave behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "MidiEngine.h"
#include "SmfBuilder.h"

#if defined(__SANITIZE_ADDRESS__)
#define SONG_STORE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONG_STORE_TEST_ASAN 1
#endif
#endif
#ifdef SONG_STORE_TEST_ASAN
// From the sanitizer runtime; not every compiler ships its header.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

qmid::MidiEngine engine;  // zero-filled static storage, like the library's

// Checks the size of a heap block where the allocator can tell it: under AddressSanitizer
// it is exactly the size asked for.
void expectBlockBytes(const void* block, std::size_t expected) {
#ifdef SONG_STORE_TEST_ASAN
  EXPECT_EQ(__sanitizer_get_allocated_size(block), expected);
#else
  (void)block;
  (void)expected;
#endif
}

// A song without events: the event list has its first block and nothing in it.
class SongStore : public ::testing::Test {
 protected:
  void SetUp() override { loadEmptySong(); }
  void TearDown() override { qmid::release(engine); }

  void loadEmptySong() {
    qmid::release(engine);
    ASSERT_EQ(qmid::openOutput(engine, nullptr), 1);
    const smf::Bytes empty = smf::File().header(1, 0, 480);
    ASSERT_EQ(qmid::loadMemory(engine, empty.data(), static_cast<std::int32_t>(empty.size())), 1);
    ASSERT_EQ(engine.eventWords, 0);
    ASSERT_NE(engine.events, nullptr);
  }

  static void append(std::uint32_t time, int status, const Bytes& data) {
    qmid::appendEvent(engine, time, status, static_cast<std::int32_t>(data.size()),
                      data.empty() ? nullptr : data.data());
  }

  fakes::FakePlatform fake;
};

TEST(SongStoreRecordWords, FourWordsForShortMessagesThenOneWordPerFourBytes) {
  const struct {
    std::int32_t bytes;
    std::int32_t words;
  } cases[] = {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 5}, {8, 5}, {9, 6}, {10, 6}, {13, 7}};
  for (const auto& c : cases) EXPECT_EQ(qmid::recordWords(c.bytes), c.words) << c.bytes << " bytes";
}

TEST_F(SongStore, RecordsLieBackToBackInTheirPackedLayout) {
  const Bytes tenBytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  const struct {
    const char* what;
    std::uint32_t time;
    int status;
    Bytes data;
    std::uint32_t word2;  // packed message, or the long header
    std::int32_t words;
  } cases[] = {
      {"note on", 1500, 0x90, {60, 100}, 0x00643C90u, 4},
      {"program change", 1500, 0xC0, {5}, 0x000005C0u, 4},
      {"message without data", 1600, 0xF6, {}, 0x000000F6u, 4},
      {"two-byte exclusive", 1700, 0xF0, {0x01, 0xF7}, 0x00F701F0u, 4},
      {"three-byte exclusive", 1800, 0xF0, {0x7E, 0x7F, 0xF7}, 0x80000003u, 4},
      {"ten-byte exclusive", 1900, 0xF0, tenBytes, 0x8000000Au, 6},
      {"note after a long record", 2000, 0x80, {60, 64}, 0x00403C80u, 4},
  };
  for (const auto& c : cases) append(c.time, c.status, c.data);

  std::int32_t at = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_LE(at + c.words, engine.eventWords);
    const std::uint32_t* record = engine.events + at;
    EXPECT_EQ(record[0], c.time);
    EXPECT_EQ(record[1], 0u);
    EXPECT_EQ(record[2], c.word2);
    if (c.word2 & 0x80000000u) {
      EXPECT_EQ(std::memcmp(record + 3, c.data.data(), c.data.size()), 0);
    }
    at += c.words;
  }
  EXPECT_EQ(engine.eventWords, at);
  EXPECT_EQ(engine.eventCursor, at);
}

// The block grows before the record that would reach the next multiple of 10000 words, so the
// record is always written inside it; AddressSanitizer would report a write past its end.
TEST_F(SongStore, EventListGrowsInBlocksBeforeTheRecordThatReachesABoundary) {
  const struct {
    const char* what;
    std::int32_t shortRecords;  // written first, 4 words each
    std::int32_t lastBytes;     // then one message of this many bytes
    std::int32_t wordsAfter;
    std::int32_t blockWords;
  } cases[] = {
      {"ends four words before the boundary", 2498, 2, 9996, 10000},
      {"ends exactly on the boundary", 2499, 2, 10000, 20000},
      {"long record across the boundary", 2498, 40, 10005, 20000},
      {"a single record ending on the boundary", 0, 39988, 10000, 20000},
      {"long record across two boundaries", 2499, 40004, 20000, 30000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    loadEmptySong();
    for (std::int32_t i = 0; i < c.shortRecords; ++i)
      append(static_cast<std::uint32_t>(i), 0x90, {static_cast<std::uint8_t>(i & 0x7F), 1});
    Bytes last(static_cast<std::size_t>(c.lastBytes));
    for (std::size_t i = 0; i < last.size(); ++i) last[i] = static_cast<std::uint8_t>(i * 7);
    append(99999, 0xF0, last);

    ASSERT_NE(engine.events, nullptr);
    EXPECT_EQ(engine.eventWords, c.wordsAfter);
    EXPECT_EQ(engine.eventCursor, c.wordsAfter);
    expectBlockBytes(engine.events, static_cast<std::size_t>(c.blockWords) * 4);

    int damaged = 0;
    for (std::int32_t i = 0; i < c.shortRecords; ++i) {
      const std::uint32_t* record = engine.events + 4 * i;
      const std::uint32_t packed = 0x90u | static_cast<std::uint32_t>(i & 0x7F) << 8 | 1u << 16;
      if (record[0] != static_cast<std::uint32_t>(i) || record[1] != 0 || record[2] != packed)
        ++damaged;
    }
    EXPECT_EQ(damaged, 0);
    const std::uint32_t* record = engine.events + 4 * c.shortRecords;
    EXPECT_EQ(record[0], 99999u);
    if (c.lastBytes >= 3) {
      EXPECT_EQ(record[2], 0x80000000u | static_cast<std::uint32_t>(c.lastBytes));
      EXPECT_EQ(std::memcmp(record + 3, last.data(), last.size()), 0);
    }
  }
}

// The loader fills the list in room sized from the file so that it never moves while loading;
// a loaded song's list is still the growth rule's block, and grows by the rule from there.
TEST_F(SongStore, LoadedListIsTheGrowthRulesBlockAndGrowsFromThere) {
  smf::Track voice;
  for (int i = 0; i < 3000; ++i) voice.noteOn(0, 0, 60, 100).noteOff(0, 0, 60);
  const smf::Bytes song = smf::song(0, 480, {voice.endOfTrack()});
  qmid::release(engine);
  ASSERT_EQ(qmid::openOutput(engine, nullptr), 1);
  ASSERT_EQ(qmid::loadMemory(engine, song.data(), static_cast<std::int32_t>(song.size())), 1);
  ASSERT_EQ(engine.eventWords, 24000);
  expectBlockBytes(engine.events, 30000 * 4);

  qmid::appendEvent(engine, 0, 0xC0, 1, song.data());
  qmid::appendEvent(engine, 0, 0xC0, 1, song.data());
  ASSERT_NE(engine.events, nullptr);
  EXPECT_EQ(engine.eventWords, 24008);
  for (int i = 0; i < 1500; ++i) qmid::appendEvent(engine, 0, 0xC0, 1, song.data());
  EXPECT_EQ(engine.eventWords, 30008);
  expectBlockBytes(engine.events, 40000 * 4);
  EXPECT_EQ(engine.events[2], 0xC0u | std::uint32_t{song[0]} << 8);  // the load rewound the cursor
}

TEST_F(SongStore, MessageTooLongForTheHeaderIsRefusedAndTheListGoesOn) {
  constexpr std::int32_t kLimit = 1 << 24;
  const Bytes huge(kLimit, 0x55);
  qmid::appendEvent(engine, 10, 0xF0, kLimit, huge.data());
  EXPECT_EQ(engine.eventWords, 0);
  ASSERT_NE(engine.events, nullptr);

  qmid::appendEvent(engine, 20, 0xF0, kLimit - 1, huge.data());
  ASSERT_EQ(engine.eventWords, qmid::recordWords(kLimit - 1));
  EXPECT_EQ(engine.events[0], 20u);
  EXPECT_EQ(engine.events[2], 0x80FFFFFFu);
  EXPECT_EQ(std::memcmp(engine.events + 3, huge.data(), kLimit - 1), 0);
}

TEST_F(SongStore, NothingIsStoredOnceTheListIsGivenUp) {
  append(0, 0x90, {60, 100});
  std::free(engine.events);
  engine.events = nullptr;
  append(10, 0x90, {62, 100});
  append(20, 0xF0, Bytes(12, 1));
  EXPECT_EQ(engine.events, nullptr);
  EXPECT_EQ(engine.eventWords, 4);
  EXPECT_EQ(engine.eventCursor, 4);
}

TEST_F(SongStore, ClearEmptiesEveryFieldButFreesAndClosesNothing) {
  append(0, 0x90, {60, 100});
  std::strcpy(engine.title, "Title");
  std::strcpy(engine.copyright, "Copyright");
  std::strcpy(engine.trackNames[0], "First");
  std::strcpy(engine.trackNames[99], "Last");
  engine.syllableCount = 7;
  engine.syllableCursor = 3;
  engine.lineCount = 4;
  engine.lineCursor = 2;
  engine.lineTextLength = 9;
  engine.lastLineTime = 1234;
  engine.initialTempo = 90;
  engine.levels[19] = 100;
  engine.trackNameCount = 100;
  engine.tempo = 95;
  engine.tempoRatio = 2.5f;
  engine.keyOffset = -3;
  engine.playerWindow = fake.windows.create();
  engine.position = 5000;
  engine.songLength = 6000;
  engine.seeking = 1;
  engine.ended = 1;
  engine.busy = 1;
  engine.noteOn[15][127] = 1;
  platform::MidiOutput* device = engine.outputDevice;
  std::uint32_t* events = engine.events;
  LyricLine* lines = engine.lines;
  LyricSyllable* syllables = engine.syllables;
  const std::size_t entriesBefore = fake.midi.entries().size();

  qmid::clear(engine);

  EXPECT_EQ(engine.title[0], 0);
  EXPECT_EQ(engine.copyright[0], 0);
  EXPECT_EQ(engine.trackNames[0][0], 0);
  EXPECT_EQ(engine.trackNames[99][0], 0);
  EXPECT_EQ(engine.syllableCount, 1);
  EXPECT_EQ(engine.lineCount, 1);
  EXPECT_EQ(engine.syllableCursor, 0);
  EXPECT_EQ(engine.lineCursor, 0);
  EXPECT_EQ(engine.lineTextLength, 0);
  EXPECT_EQ(engine.lastLineTime, 0u);
  EXPECT_EQ(engine.eventWords, 0);
  EXPECT_EQ(engine.eventCursor, 0);
  EXPECT_EQ(engine.events, nullptr);
  EXPECT_EQ(engine.lines, nullptr);
  EXPECT_EQ(engine.syllables, nullptr);
  EXPECT_EQ(engine.initialTempo, 0);
  EXPECT_EQ(engine.levels[19], 0);
  EXPECT_EQ(engine.trackNameCount, 0);
  EXPECT_EQ(engine.tempo, 0);
  EXPECT_EQ(engine.tempoRatio, 1.0f);
  EXPECT_EQ(engine.keyOffset, 0);
  EXPECT_EQ(engine.outputDevice, nullptr);
  EXPECT_EQ(engine.playerWindow, nullptr);
  EXPECT_EQ(engine.position, 0);
  EXPECT_EQ(engine.songLength, 0);
  EXPECT_EQ(engine.seeking, 0);
  EXPECT_EQ(engine.ended, 0);
  EXPECT_EQ(engine.busy, 0);
  EXPECT_EQ(engine.noteOn[15][127], 0);
  EXPECT_EQ(fake.midi.entries().size(), entriesBefore) << "clear touched the device";

  // Still ours: had clear freed them, AddressSanitizer would report a double free here.
  std::free(events);
  std::free(lines);
  std::free(syllables);
  delete device;
}

TEST_F(SongStore, RewindMovesCursorsAndClockToTheStartOnly) {
  append(0, 0x90, {60, 100});
  append(10, 0x80, {60, 0});
  engine.syllableCount = 5;
  engine.syllableCursor = 4;
  engine.lineCursor = 2;
  engine.lineTextLength = 7;
  engine.lastLineTime = 3000;
  engine.position = 4000;
  engine.ended = 1;

  qmid::rewind(engine);

  EXPECT_EQ(engine.syllableCursor, 0);
  EXPECT_EQ(engine.lineCursor, 0);
  EXPECT_EQ(engine.lineTextLength, 0);
  EXPECT_EQ(engine.lastLineTime, 0u);
  EXPECT_EQ(engine.eventCursor, 0);
  EXPECT_EQ(engine.position, 0);
  EXPECT_EQ(engine.ended, 1);
  EXPECT_EQ(engine.eventWords, 8);
  EXPECT_EQ(engine.syllableCount, 5);
}

// The blocks must really be freed: LeakSanitizer reports them at exit otherwise.
TEST_F(SongStore, ReleaseClosesTheDeviceFreesTheBlocksAndClears) {
  append(0, 0x90, {60, 100});
  std::strcpy(engine.title, "Title");
  engine.lineCount = 3;

  qmid::release(engine);

  const std::vector<std::string> log = fake.midi.entries();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "close");
  EXPECT_EQ(engine.outputDevice, nullptr);
  EXPECT_EQ(engine.events, nullptr);
  EXPECT_EQ(engine.lines, nullptr);
  EXPECT_EQ(engine.syllables, nullptr);
  EXPECT_EQ(engine.eventWords, 0);
  EXPECT_EQ(engine.lineCount, 1);
  EXPECT_EQ(engine.syllableCount, 1);
  EXPECT_EQ(engine.title[0], 0);

  qmid::release(engine);  // a second release finds nothing to close or free
  EXPECT_EQ(fake.midi.entries().size(), log.size());
}

}  // namespace
