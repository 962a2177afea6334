// MidiFileReader core: header search and parsing, the file and track loops, the channel
// pre-scan, variable-length numbers, the tick to millisecond clock and progress reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RecordingReader.h"
#include "SmfBuilder.h"

namespace {

using midifile::MidiFileReader;
using smf::Bytes;
using smf::File;
using smf::RecordingReader;
using smf::Track;
using Lines = std::vector<std::string>;

std::string operationOf(const std::string& line) {
  std::istringstream in(line);
  std::string track, tick, ms, operation;
  in >> track >> tick >> ms >> operation;
  return operation;
}

// The lines without the given operations; error and warning lines always stay.
Lines without(const Lines& lines, std::initializer_list<const char*> operations) {
  Lines out;
  for (const auto& line : lines) {
    bool drop = false;
    for (const char* op : operations) drop = drop || operationOf(line) == op;
    if (!drop) out.push_back(line);
  }
  return out;
}

std::vector<int> progressValues(const Lines& lines) {
  std::vector<int> out;
  for (const auto& line : lines)
    if (operationOf(line) == "onProgress") out.push_back(std::stoi(line.substr(line.rfind(' '))));
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Junk full of near misses ("MTh" not followed by "d").
Bytes nearMisses(std::size_t length) {
  Bytes out;
  for (std::size_t i = 0; i < length; ++i) out.push_back(static_cast<std::uint8_t>("MTh"[i % 3]));
  return out;
}

Bytes shortSong() {
  return smf::song(0, 96,
                   {Track().noteOn(0, 2, 60, 100).noteOff(96, 2, 60).text(0, 1, "x").endOfTrack()});
}

Lines readBytes(const Bytes& bytes, int* result = nullptr) {
  RecordingReader reader(bytes);
  const int r = reader.readFile();
  if (result) *result = r;
  return reader.lines;
}

class ReaderCoreFile : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/readercore-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const Bytes& bytes) {
    const std::string p = dir_ + "/song" + std::to_string(++files_) + ".mid";
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  std::string dir_;
  int files_ = 0;
};

// ---- Header ----

TEST(ReaderCoreHeader, FoundBehindAWrapperAndPositionsStayInTheWholeSource) {
  Bytes wrapper = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a', 0, 0, 0, 0};
  wrapper = wrapper + nearMisses(128 - wrapper.size());
  ASSERT_EQ(wrapper.size(), 128u);
  const Bytes bytes = wrapper + shortSong();

  RecordingReader reader(bytes);
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.position, reader.size());
  EXPECT_EQ(without(reader.lines, {"onProgress"}), without(readBytes(shortSong()), {"onProgress"}));
  EXPECT_EQ(reader.findHeader(), 128);
  EXPECT_EQ(reader.position, 128);
}

TEST_F(ReaderCoreFile, HeaderIsFoundAcrossWindowBoundaries) {
  const Lines expected = without(readBytes(shortSong()), {"onProgress"});
  // The first window tests starts 0..1020, the second starts at 1021.
  for (std::int32_t offset : {0, 1020, 1021, 1022, 1023, 2041, 2042, 2045}) {
    SCOPED_TRACE(offset);
    smf::Recording<MidiFileReader> reader(
        write(nearMisses(static_cast<std::size_t>(offset)) + shortSong()).c_str(),
        MidiFileReader::kWindowed);
    EXPECT_EQ(reader.readFile(), 1);
    EXPECT_EQ(without(reader.lines, {"onProgress"}), expected);
    EXPECT_EQ(reader.findHeader(), offset);
  }
}

TEST_F(ReaderCoreFile, MissingHeaderResetsThePosition) {
  for (std::size_t length : {0u, 3u, 2500u}) {
    SCOPED_TRACE(length);
    smf::Recording<MidiFileReader> reader(write(nearMisses(length)).c_str(),
                                          MidiFileReader::kWindowed);
    reader.position = 2;
    EXPECT_EQ(reader.findHeader(), -1);
    EXPECT_EQ(reader.position, 0);
    EXPECT_EQ(reader.readFile(), 0);
    EXPECT_EQ(reader.lines, Lines{"error: missing midi header MThd"});
  }
}

TEST(ReaderCoreHeader, MalformedHeadersAreRejected) {
  struct Case {
    const char* name;
    Bytes bytes;
    Lines lines;
  } cases[] = {
      {"empty source", {}, {"error: missing midi header MThd"}},
      {"wrong case",
       File().chunk("MThD", {0, 0, 0, 1, 0, 96}).track(Track().endOfTrack()),
       {"error: missing midi header MThd"}},
      {"length 8",
       File().chunk("MThd", {0, 0, 0, 1, 0, 96, 0, 0}).track(Track().endOfTrack()),
       {"error: illegal midi header"}},
      {"length 5",
       File().chunk("MThd", {0, 0, 0, 1, 0}).track(Track().endOfTrack()),
       {"error: illegal midi header"}},
      {"format 3", File().header(3, 1, 96).track(Track().endOfTrack()),
       {"error: invalid midi version"}},
      {"format 65535", File().header(0xFFFF, 1, 96), {"error: invalid midi version"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int result = -1;
    EXPECT_EQ(readBytes(c.bytes, &result), c.lines);
    EXPECT_EQ(result, 0);
  }
}

TEST(ReaderCoreHeader, DivisionWithTopBitSetIsAPlainTickCount) {
  RecordingReader reader(File().header(2, 0, 0xE728));
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.division, 0xE728);
  EXPECT_EQ(reader.timeDivisor, 0xE728u * 1000);
  EXPECT_EQ(reader.tempo, 500000u);
  EXPECT_EQ(reader.lines,
            (Lines{"0 0 0 onHeader 2 0 59176", "1 0 0 onProgress 100", "1 0 0 onEndOfFile"}));
}

// ---- File and track loops ----

TEST(ReaderCoreTracks, ForeignChunkBetweenTracksEndsTheReadAfterTheEarlierTracks) {
  int result = -1;
  const Lines lines = readBytes(File()
                                    .header(1, 2, 96)
                                    .track(Track().noteOn(0, 0, 60, 100).endOfTrack())
                                    .chunk("XFIR", {1, 2, 3})
                                    .track(Track().noteOn(0, 1, 62, 100)),
                                &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(without(lines, {"onProgress", "onDeltaTime"}),
            (Lines{"0 0 0 onHeader 1 2 96", "1 0 0 onTrackStart 1 8 0", "1 0 0 onNoteOn 0 60 100",
                   "1 0 0 onEndOfTrack", "1 0 0 onTrackEnd 1", "error: missing midi track MTrk"}));
}

TEST(ReaderCoreTracks, EventsAfterEndOfTrackAreReadUpToTheDeclaredLength) {
  int result = -1;
  const Lines lines = readBytes(
      smf::song(0, 96, {Track().noteOn(0, 0, 60, 100).endOfTrack().noteOff(96, 0, 60)}), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(without(lines, {"onProgress", "onDeltaTime"}),
            (Lines{"0 0 0 onHeader 0 1 96", "1 0 0 onTrackStart 1 12 0", "1 0 0 onNoteOn 0 60 100",
                   "1 0 0 onEndOfTrack", "1 96 500 onNoteOff 0 60 64", "1 96 500 onTrackEnd 1",
                   "2 96 500 onEndOfFile"}));
}

// The last event of track 1 takes the 'M' of the next chunk as its velocity; track 2 must
// still be found at the declared end.
TEST(ReaderCoreTracks, NextTrackStartsAtTheDeclaredEndWhenAnEventRanPastIt) {
  int result = -1;
  const Lines lines = readBytes(File()
                                    .header(1, 2, 96)
                                    .track(Track().raw({0x00, 0x90, 0x3C}))
                                    .track(Track().noteOn(0, 1, 62, 100)),
                                &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(without(lines, {"onProgress"}),
            (Lines{"0 0 0 onHeader 1 2 96", "1 0 0 onTrackStart 1 3 0", "1 0 0 onDeltaTime 0",
                   "1 0 0 onNoteOn 0 60 77", "1 0 0 onTrackEnd 1", "2 0 0 onTrackStart 2 4 1",
                   "2 0 0 onDeltaTime 0", "2 0 0 onNoteOn 1 62 100", "2 0 0 onTrackEnd 2",
                   "3 0 0 onEndOfFile"}));
}

TEST(ReaderCoreTracks, LargePauseSkipsTheRestOfTheTrackOnly) {
  for (std::uint32_t pause : {0x1000000u, 0x0FFFFFFFu}) {
    SCOPED_TRACE(pause);
    int result = -1;
    const Lines lines = readBytes(
        File()
            .header(1, 2, 96)
            .track(Track().noteOn(0, 0, 60, 100).noteOn(pause, 0, 62, 100).noteOff(0, 0, 60))
            // One tick below the limit is an ordinary delta.
            .track(Track().noteOn(0xFFFFFF, 1, 64, 100)),
        &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(without(lines, {"onProgress"}),
              (Lines{"0 0 0 onHeader 1 2 96", "1 0 0 onTrackStart 1 15 0", "1 0 0 onDeltaTime 0",
                     "1 0 0 onNoteOn 0 60 100", "1 0 0 onLargePause " + std::to_string(pause),
                     "1 0 0 onTrackEnd 1", "2 0 0 onTrackStart 2 7 1",
                     "2 0 0 onDeltaTime 16777215", "2 16777215 87381328 onNoteOn 1 64 100",
                     "2 16777215 87381328 onTrackEnd 2", "3 16777215 87381328 onEndOfFile"}));
  }
}

TEST(ReaderCoreTracks, FifthContinuationByteIsTheEventStatus) {
  const Lines lines =
      readBytes(smf::song(0, 96, {Track().raw({0x81, 0x80, 0x80, 0x80, 0x90, 0x3C, 0x64})}));
  EXPECT_EQ(without(lines, {"onProgress", "onHeader", "onTrackStart", "onTrackEnd", "onEndOfFile"}),
            (Lines{"1 0 0 onDeltaTime 2097152", "1 2097152 10922666 onNoteOn 0 60 100"}));
}

TEST(ReaderCoreTracks, VariableLengthNumbers) {
  struct Case {
    Bytes bytes;
    std::uint32_t value;
    int length;
  } cases[] = {
      {{0x00}, 0, 1},
      {{0x7F, 0x55}, 0x7F, 1},
      {{0x81, 0x00}, 0x80, 2},
      {{0xFF, 0xFF, 0x7F}, 0x1FFFFF, 3},
      {{0xFF, 0xFF, 0xFF, 0x7F}, 0x0FFFFFFF, 4},
      {{0x81, 0x80, 0x80, 0x80, 0x90}, 0x200000, 4},
  };
  for (const auto& c : cases) {
    RecordingReader reader(c.bytes);
    EXPECT_EQ(reader.readVarLen(), c.value);
    EXPECT_EQ(reader.position, c.length);
    EXPECT_EQ(reader.lastVarLenBytes, c.length);
    EXPECT_TRUE(reader.lines.empty());
  }
}

TEST(ReaderCoreTracks, VariableLengthNumberCutOffReportsTwice) {
  RecordingReader reader(Bytes{0x81, 0x80});
  EXPECT_EQ(reader.readVarLen(), 0u);
  EXPECT_EQ(reader.lines,
            (Lines{"error: unexpected end of file", "error: unexpected end of file"}));
  EXPECT_EQ(reader.position, 2);
  EXPECT_TRUE(reader.trackEnded);
}

TEST(ReaderCoreTracks, SkippingTrackEventsMovesByDeclaredLengths) {
  RecordingReader reader(File()
                             .header(1, 2, 96)
                             // Bytes that would fail as events.
                             .track(Track().raw({0x00, 0xF1, 0xF4, 0x00, 0x00}))
                             .track(Track().noteOn(0, 5, 60, 100)));
  reader.routingFlags = midifile::kRouteSkipTrackEvents;
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.lines,
            (Lines{"0 0 0 onHeader 1 2 96", "1 0 0 onTrackStart 1 5 -1", "1 0 0 onTrackEnd 1",
                   "2 0 0 onTrackStart 2 4 -1", "2 0 0 onTrackEnd 2", "3 0 0 onProgress 100",
                   "3 0 0 onEndOfFile"}));
}

// ---- Channel pre-scan ----

TEST(ReaderCoreChannelScan, ReportsTheOneChannelOfATrack) {
  struct Case {
    const char* name;
    Track track;
    int channel;
  } cases[] = {
      {"channel 3 among sysex and meta",
       Track()
           .text(0, 3, "Piano")
           .tempo(0, 400000)
           .noteOn(0, 3, 60, 100)
           .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
           .noteOff(96, 3, 60)
           .endOfTrack(),
       3},
      {"meta only", Track().text(0, 3, "Drums").tempo(0, 400000).endOfTrack(), -1},
      {"empty", Track(), -1},
      {"channels 0 and 9", Track().noteOn(0, 0, 60, 100).noteOn(0, 9, 36, 100), -2},
      {"running status read through",
       Track().raw({0x00, 0x92, 0x3C, 0x64, 0x00, 0x3E, 0x64, 0x00, 0x95, 0x3C, 0x64}), -2},
      {"running status kept across meta",
       Track().raw({0x00, 0x92, 0x3C, 0x64, 0x00, 0xFF, 0x01, 0x01, 0x61, 0x00, 0x3E, 0x64,
                    0x00, 0x96, 0x3C, 0x64}),
       -2},
      {"one data byte messages",
       Track().raw({0x00, 0xC7, 0x05, 0x00, 0xD7, 0x10, 0x00, 0xE7, 0x00, 0x40}), 7},
      {"system common sizes",
       Track().raw({0x00, 0xF2, 0x10, 0x20, 0x00, 0xF3, 0x05, 0x00, 0xF8, 0x00, 0xFE, 0x00, 0x94,
                    0x3C, 0x64}),
       4},
      {"undefined status stops", Track().raw({0x00, 0xF1}).noteOn(0, 5, 60, 100), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingReader reader(smf::song(0, 96, {c.track}));
    reader.readFile();
    EXPECT_EQ(reader.trackChannel, c.channel);
  }
}

// A windowed file shows the scan one window only; other sources show it the whole track.
TEST_F(ReaderCoreFile, ChannelScanCoversOneWindowOfAWindowedFile) {
  Track track;
  for (int i = 0; i < 260; ++i) track.noteOn(0, 3, 60, 100);  // 1040 bytes
  track.noteOn(0, 5, 60, 100);
  const std::string path = write(smf::song(0, 96, {track}));
  struct Case {
    std::uint8_t mode;
    int channel;
  };
  for (Case c : {Case{MidiFileReader::kWindowed, 3}, Case{MidiFileReader::kWholeFile, -2}}) {
    smf::Recording<MidiFileReader> reader(path.c_str(), c.mode);
    EXPECT_EQ(reader.readFile(), 1);
    EXPECT_EQ(reader.trackChannel, c.channel) << int{c.mode};
  }
}

// ---- Clock ----

TEST(ReaderCoreClock, TicksToMillisecondsHandFigures) {
  MidiFileReader reader(nullptr, 0, false);
  reader.tempo = 500000;
  reader.timeDivisor = 96000;
  struct Case {
    std::uint32_t ticks, startMs, startRemainder, ms, remainder;
  } cases[] = {
      {96, 0, 0, 500, 0},
      {1, 0, 0, 5, 20000},
      {1, 40, 95000, 46, 19000},
      {0, 40, 95000, 40, 95000},
      // From 2^24 ticks on, whole milliseconds only and the fraction is dropped.
      {0x1000000, 10, 12345, 10 + 5 * 0x1000000, 0},
  };
  for (const auto& c : cases) {
    reader.trackMilliseconds = c.startMs;
    reader.millisecondRemainder = c.startRemainder;
    std::uint32_t ms = 0xDEAD, remainder = 0xBEEF;
    reader.ticksToMilliseconds(c.ticks, ms, remainder);
    EXPECT_EQ(ms, c.ms) << c.ticks;
    EXPECT_EQ(remainder, c.remainder) << c.ticks;
  }
  reader.timeDivisor = 0;
  reader.trackMilliseconds = 7;
  reader.millisecondRemainder = 3;
  std::uint32_t ms = 0, remainder = 0;
  reader.ticksToMilliseconds(96, ms, remainder);
  EXPECT_EQ(ms, 7u);
  EXPECT_EQ(remainder, 3u);
}

// T = ms * D + remainder + ticks * tempo stays below 2^59 for every reachable input, so
// 64-bit arithmetic gives the exact figures the per-tick sum gives.
TEST(ReaderCoreClock, TicksToMillisecondsMatchesExactArithmetic) {
  struct Case {
    std::uint32_t tempo, division, ticks, startMs, startRemainder;
  } cases[] = {
      {500000, 96, 96, 0, 0},
      {500000, 96, 0xFFFFFF, 0, 0},
      {500000, 96, 10 * 96, 0xFFFFFFF0, 0},  // the clock wraps like a 32-bit sum
      {0xFFFFFF, 1, 0xFFFFFF, 0, 999},
      {0xFFFFFF, 65535, 0xFFFFFF, 4000000000u, 65534999},
      {1, 65535, 0xFFFFFF, 7, 0},
      {999, 1, 1, 0, 1},
      {0xFFFFFFFF, 3, 0xFFFFFF, 0, 2999},
      {60000000, 0xE728, 12345, 123456, 59175999},
      {350877, 480, 0xABCDEF, 3000000, 479999},
      {123457, 7, 9999999, 1, 6999},
  };
  for (const auto& c : cases) {
    MidiFileReader reader(nullptr, 0, false);
    reader.tempo = c.tempo;
    reader.timeDivisor = c.division * 1000;
    reader.trackMilliseconds = c.startMs;
    reader.millisecondRemainder = c.startRemainder;
    const std::uint64_t d = reader.timeDivisor;
    const std::uint64_t t = c.startMs * d + c.startRemainder + std::uint64_t{c.ticks} * c.tempo;
    std::uint32_t ms = 0, remainder = 0;
    reader.ticksToMilliseconds(c.ticks, ms, remainder);
    EXPECT_EQ(ms, static_cast<std::uint32_t>(t / d)) << c.tempo << " " << c.division << " " << c.ticks;
    EXPECT_EQ(remainder, t % d) << c.tempo << " " << c.division << " " << c.ticks;
  }
}

TEST(ReaderCoreClock, TrackClockRestartsEachTrackWhileTempoCarriesOver) {
  const Lines lines = readBytes(smf::song(
      1, 96,
      {Track().noteOn(96, 0, 60, 100).tempo(0, 250000).noteOn(96, 0, 62, 100),
       Track().noteOn(96, 1, 60, 100)}));
  EXPECT_EQ(without(lines, {"onProgress", "onDeltaTime", "onHeader", "onTrackStart", "onTrackEnd",
                            "onEndOfFile"}),
            (Lines{"1 96 500 onNoteOn 0 60 100", "1 96 500 onTempo 250000",
                   "1 192 750 onNoteOn 0 62 100", "2 96 250 onNoteOn 1 60 100"}));
}

TEST(ReaderCoreClock, DivisionZeroKeepsTheClockAtZero) {
  RecordingReader reader(smf::song(0, 0, {Track().noteOn(96, 0, 60, 100).noteOff(96, 0, 60)}));
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.only("onNoteOn"), Lines{"1 96 0 onNoteOn 0 60 100"});
  EXPECT_EQ(reader.only("onNoteOff"), Lines{"1 192 0 onNoteOff 0 60 64"});
}

// ---- Progress ----

// 800 bytes: 22 before the first event, 193 four-byte notes, one six-byte meta event.
// Each percentage (position / 8) is met by two events and reported once.
TEST(ReaderCoreProgress, ReportedOnChangeAndOnceAtTheEnd) {
  Track track;
  for (int i = 0; i < 193; ++i) track.noteOn(0, 0, 60, 100);
  track.text(0, 1, "ab");
  Bytes bytes = smf::song(0, 96, {track});
  ASSERT_EQ(bytes.size(), 800u);

  std::vector<int> expected;
  for (int p = 2; p <= 100; ++p) expected.push_back(p);
  RecordingReader reader(bytes);
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(progressValues(reader.lines), expected);
  EXPECT_EQ(reader.lastProgress, 100);

  // A byte after the last track is never passed: no 100, but the read still succeeds.
  bytes.push_back(0);
  RecordingReader trailing(bytes);
  EXPECT_EQ(trailing.readFile(), 1);
  const std::vector<int> values = progressValues(trailing.lines);
  ASSERT_FALSE(values.empty());
  EXPECT_EQ(values.back(), 99);
  EXPECT_EQ(trailing.lines.back(), "2 0 0 onEndOfFile");
}

// ---- Regressions ----

// The pre-scan of a track cut inside an event reported the end of the data and left the
// track marked as ended, so none of the intact events before the damage were delivered.
TEST(ReaderCoreRegression, ChannelPreScanAtTruncatedEventEndedTheTrack) {
  const Bytes bytes = smf::song(0, 96,
                                {Track()
                                     .noteOn(0, 3, 60, 100)
                                     .noteOn(48, 3, 64, 100)
                                     .noteOff(48, 3, 60)
                                     .raw({0x30, 0x93, 0x43})});  // velocity cut off
  RecordingReader reader(bytes);
  EXPECT_EQ(reader.readFile(), 0);
  EXPECT_EQ(without(reader.lines, {"onProgress"}),
            (Lines{"0 0 0 onHeader 0 1 96",
                   // The scan's own reports: the cut note, then the delta it reads after it.
                   "error: unexpected end of file", "error: unexpected end of file",
                   "1 0 0 onTrackStart 1 15 3", "1 0 0 onDeltaTime 0", "1 0 0 onNoteOn 3 60 100",
                   "1 0 0 onDeltaTime 48", "1 48 250 onNoteOn 3 64 100", "1 48 250 onDeltaTime 48",
                   "1 96 500 onNoteOff 3 60 64", "1 96 500 onDeltaTime 48",
                   "error: unexpected end of file"}));
}

}  // namespace
