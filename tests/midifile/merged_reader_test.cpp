// Merged reading: all tracks on one clock, earliest event first, lowest track first on a tie,
// each track with its own running status; plus the stop rules and the progress reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RecordingReader.h"

namespace {

using smf::Bytes;
using smf::Track;

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The lines that contain any of the operations, in order.
std::vector<std::string> only(const smf::RecordingMergedReader& reader,
                              std::initializer_list<const char*> operations) {
  std::vector<std::string> out;
  for (const auto& line : reader.lines)
    for (const char* op : operations)
      if (line.find(std::string(" ") + op + " ") != std::string::npos ||
          endsWith(line, std::string(" ") + op)) {
        out.push_back(line);
        break;
      }
  return out;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// A single track is read by the plain reader's own loop, so everything must come out the same.
TEST(MergedReader, SingleTrackReadsLikePlainReader) {
  const Track body = Track()
                         .tempo(0, 400000)
                         .event(0, {0xC0, 0x05})
                         .noteOn(10, 0, 60, 100)
                         .event(5, {0x40, 0x50})
                         .text(0, 0x03, "Name")
                         .event(7, {0xF0, 0x03, 0x01, 0x02, 0xF7})
                         .event(0, {0xB0, 0x65, 0x00})
                         .event(0, {0xB0, 0x64, 0x00})
                         .event(0, {0xB0, 0x06, 0x02})
                         .tempo(100, 600000)
                         .noteOff(33, 0, 60)
                         .endOfTrack();
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"format 0", smf::song(0, 96, {body}), 0},
      {"format 1, one track", smf::song(1, 96, {body}), 0},
      {"loader's routing", smf::song(1, 96, {body}), 0x7F8},
      {"large pause", smf::song(0, 96, {Track().noteOn(0, 0, 60, 100).noteOn(0x1000000, 0, 61, 1)}),
       0},
      {"failing event", smf::song(0, 96, {Track().noteOn(3, 0, 60, 100).event(0, {0xF1})}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    smf::RecordingReader plain(c.file);
    smf::RecordingMergedReader merged(c.file);
    plain.routingFlags = c.flags;
    merged.routingFlags = c.flags;
    EXPECT_EQ(merged.readFile(), plain.readFile());
    EXPECT_EQ(merged.lines, plain.lines);
    EXPECT_EQ(merged.trackMilliseconds, plain.trackMilliseconds);
  }
}

TEST(MergedReader, ZeroTracksDeliverOnlyTheEnd) {
  smf::RecordingMergedReader reader(smf::song(1, 480, {}));
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.lines, (std::vector<std::string>{"0 0 0 onHeader 1 0 480",
                                                    "0 0 0 onProgress 100", "0 0 0 onEndOfFile"}));
}

TEST(MergedReader, TrackCountLimit) {
  for (const int count : {255, 256}) {
    SCOPED_TRACE(count);
    smf::File file;
    file.header(1, count, 480);
    for (int i = 0; i < count; ++i) file.track(Track().noteOn(0, 0, 60, 100));
    smf::RecordingMergedReader reader(file);
    if (count == 255) {
      EXPECT_EQ(reader.readFile(), 1);
      const auto notes = only(reader, {"onNoteOn"});
      ASSERT_EQ(notes.size(), 255u);
      EXPECT_EQ(notes.front(), "1 0 0 onNoteOn 0 60 100");
      EXPECT_EQ(notes.back(), "255 0 0 onNoteOn 0 60 100");
    } else {
      EXPECT_EQ(reader.readFile(), 0);
      EXPECT_TRUE(reader.lines.empty());
      EXPECT_FALSE(reader.tracksPresent());
      EXPECT_EQ(reader.trackCount, 0);
    }
  }
}

TEST(MergedReader, OrderByTickThenTrack) {
  const Bytes file =
      smf::song(1, 480,
                {Track().noteOn(480, 0, 60, 100).noteOn(0, 0, 61, 100),
                 Track().noteOn(0, 1, 50, 100).noteOn(960, 1, 51, 100),
                 Track().noteOn(240, 2, 70, 100).noteOn(240, 2, 71, 100).noteOn(0, 2, 72, 100)});
  smf::RecordingMergedReader reader(file);
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(only(reader, {"onNoteOn"}),
            (std::vector<std::string>{"2 0 0 onNoteOn 1 50 100", "3 240 250 onNoteOn 2 70 100",
                                      "1 480 500 onNoteOn 0 60 100", "1 480 500 onNoteOn 0 61 100",
                                      "3 480 500 onNoteOn 2 71 100", "3 480 500 onNoteOn 2 72 100",
                                      "2 960 1000 onNoteOn 1 51 100"}));
  // One gap per distinct tick, on the song's clock.
  std::vector<std::string> deltas;
  for (const auto& line : only(reader, {"onDeltaTime"}))
    deltas.push_back(line.substr(line.rfind(' ') + 1));
  EXPECT_EQ(deltas, (std::vector<std::string>{"0", "240", "240", "480"}));
  // Every track is announced, without a channel, before the first event.
  const auto starts = only(reader, {"onTrackStart", "onTrackEnd", "onNoteOn"});
  ASSERT_GE(starts.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(starts[i].find("onNoteOn"), std::string::npos) << starts[i];
  for (const auto& line : only(reader, {"onTrackStart"}))
    EXPECT_TRUE(endsWith(line, " -1")) << line;
}

TEST(MergedReader, ReadingTwiceStartsOver) {
  const Bytes file = smf::song(1, 480,
                               {Track().tempo(100, 250000).event(0, {0x90, 0x3C, 0x64}),
                                Track().event(50, {0x91, 0x3C, 0x64}).event(100, {0x3D, 0x64})});
  smf::RecordingMergedReader reader(file);
  ASSERT_EQ(reader.readFile(), 1);
  const auto first = reader.lines;
  reader.lines.clear();
  ASSERT_EQ(reader.readFile(), 1);
  // The header line shows whatever clock the previous read left; everything after it counts.
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(reader.lines.empty());
  EXPECT_EQ(std::vector<std::string>(reader.lines.begin() + 1, reader.lines.end()),
            std::vector<std::string>(first.begin() + 1, first.end()));
}

// A tempo change in one track times the later events of every track.
TEST(MergedReader, TempoChangeAppliesAcrossTracks) {
  const Bytes file =
      smf::song(1, 480,
                {Track().tempo(480, 1000000).tempo(480, 250000), Track()
                                                                     .noteOn(0, 0, 60, 100)
                                                                     .noteOn(480, 0, 61, 100)
                                                                     .noteOn(480, 0, 62, 100)
                                                                     .noteOn(480, 0, 63, 100)
                                                                     .noteOn(1, 0, 64, 100)
                                                                     .noteOn(1, 0, 65, 100)});
  smf::RecordingMergedReader reader(file);
  ASSERT_EQ(reader.readFile(), 1);
  // 480 ticks: 500 ms at the default tempo, 1000 ms at 1000000, 250 ms at 250000; one tick at
  // 250000 is 0.52 ms, carried.
  EXPECT_EQ(
      only(reader, {"onNoteOn", "onTempo"}),
      (std::vector<std::string>{"2 0 0 onNoteOn 0 60 100", "1 480 500 onTempo 1000000",
                                "2 480 500 onNoteOn 0 61 100", "1 960 1500 onTempo 250000",
                                "2 960 1500 onNoteOn 0 62 100", "2 1440 1750 onNoteOn 0 63 100",
                                "2 1441 1750 onNoteOn 0 64 100", "2 1442 1751 onNoteOn 0 65 100"}));
  EXPECT_EQ(reader.trackMilliseconds, 1751u);
}

TEST(MergedReader, RunningStatusPerTrack) {
  const Bytes file = smf::song(
      1, 480,
      {Track().event(0, {0x90, 0x3C, 0x64}).event(10, {0x40, 0x64}).event(10, {0x41, 0x64}),
       Track().event(5, {0xB1, 0x07, 0x10}).event(10, {0x07, 0x20}).event(10, {0x07, 0x30})});
  smf::RecordingMergedReader reader(file);
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(only(reader, {"onNoteOn", "onVolume"}),
            (std::vector<std::string>{"1 0 0 onNoteOn 0 60 100", "2 5 5 onVolume 1 16",
                                      "1 10 10 onNoteOn 0 64 100", "2 15 15 onVolume 1 32",
                                      "1 20 20 onNoteOn 0 65 100", "2 25 26 onVolume 1 48"}));
}

// Track 1's running status must not serve track 2's first event; the failure ends the read at
// once, keeping what was delivered.
TEST(MergedReader, RunningStatusDoesNotCrossTracks) {
  const Bytes file = smf::song(1, 480,
                               {Track().event(0, {0x90, 0x3C, 0x64}).event(20, {0x3E, 0x64}),
                                Track().event(10, {0x40, 0x64})});
  smf::RecordingMergedReader reader(file);
  EXPECT_EQ(reader.readFile(), 0);
  EXPECT_EQ(only(reader, {"onNoteOn"}), std::vector<std::string>{"1 0 0 onNoteOn 0 60 100"});
  EXPECT_TRUE(contains(reader.lines, "error: illegal midi command 40"));
  EXPECT_FALSE(contains(reader.lines, "onEndOfFile"));
  EXPECT_FALSE(contains(reader.lines, "onProgress 100"));
}

// At division 480 and the default tempo 9600 ticks are exactly 10000 ms. Each track has longer
// gaps of its own; only the gaps of the merged stream count.
TEST(MergedReader, LongPauseEndsTheSong) {
  const Bytes file =
      smf::song(1, 480,
                {Track().noteOn(0, 0, 60, 100).noteOn(19200, 0, 61, 100).noteOn(9601, 0, 62, 100),
                 Track().noteOn(9600, 1, 50, 100).noteOn(9600, 1, 51, 100)});
  smf::RecordingMergedReader reader(file);
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(only(reader, {"onNoteOn"}),
            (std::vector<std::string>{"1 0 0 onNoteOn 0 60 100", "2 9600 10000 onNoteOn 1 50 100",
                                      "1 19200 20000 onNoteOn 0 61 100",
                                      "2 19200 20000 onNoteOn 1 51 100"}));
  ASSERT_GE(reader.lines.size(), 3u);
  const std::vector<std::string> tail(reader.lines.end() - 3, reader.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"1 19200 20000 onDeltaTime 9601",
                                            "1 19200 20000 onProgress 100",
                                            "1 19200 20000 onEndOfFile"}));
}

TEST(MergedReader, LargeFirstDelta) {
  {
    SCOPED_TRACE("in the last track");
    smf::RecordingMergedReader reader(
        smf::song(1, 480, {Track().noteOn(0, 0, 60, 100), Track().noteOn(0x1000000, 0, 61, 100)}));
    EXPECT_EQ(reader.readFile(), 1);
    EXPECT_TRUE(only(reader, {"onNoteOn"}).empty());
    EXPECT_EQ(only(reader, {"onLargePause"}).size(), 1u);
    ASSERT_GE(reader.lines.size(), 2u);
    EXPECT_TRUE(endsWith(reader.lines[reader.lines.size() - 2], " onProgress 100"));
    EXPECT_TRUE(endsWith(reader.lines.back(), " onEndOfFile"));
  }
  {
    SCOPED_TRACE("in the first track");
    smf::RecordingMergedReader reader(
        smf::song(1, 480,
                  {Track().noteOn(0x1000000, 0, 60, 100),
                   Track().noteOn(0, 1, 61, 100).noteOn(100, 1, 62, 100)}));
    EXPECT_EQ(reader.readFile(), 1);
    EXPECT_EQ(only(reader, {"onNoteOn"}),
              (std::vector<std::string>{"2 0 0 onNoteOn 1 61 100", "2 100 104 onNoteOn 1 62 100"}));
    EXPECT_EQ(only(reader, {"onLargePause"}).size(), 1u);
    EXPECT_TRUE(endsWith(reader.lines.back(), " onEndOfFile"));
  }
}

// An empty track's data "start" is the next chunk's header, which must never be decoded.
TEST(MergedReader, EmptyTracksAreNeverSelected) {
  const Bytes file = smf::song(1, 480,
                               {Track().noteOn(0, 0, 60, 100).noteOn(10, 0, 61, 100), Track(),
                                Track().noteOn(5, 2, 70, 100), Track()});
  smf::RecordingMergedReader reader(file);
  EXPECT_EQ(reader.readFile(), 1);
  EXPECT_EQ(only(reader, {"onNoteOn"}),
            (std::vector<std::string>{"1 0 0 onNoteOn 0 60 100", "3 5 5 onNoteOn 2 70 100",
                                      "1 10 10 onNoteOn 0 61 100"}));
  EXPECT_FALSE(contains(reader.lines, "error:"));
}

TEST(MergedReader, ProgressGrowsAndEndsWithOneHundred) {
  Track longest, shorter;
  for (int i = 0; i < 40; ++i) longest.noteOn(10, 0, 60 + i % 12, 100);
  for (int i = 0; i < 10; ++i) shorter.noteOn(35, 1, 40, 100);
  smf::RecordingMergedReader reader(smf::song(1, 480, {shorter, longest}));
  ASSERT_EQ(reader.readFile(), 1);
  std::vector<int> percents;
  std::size_t lastEvent = 0, lastProgress = 0;
  for (std::size_t i = 0; i < reader.lines.size(); ++i) {
    const std::string& line = reader.lines[i];
    if (line.find(" onProgress ") != std::string::npos) {
      percents.push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
      lastProgress = i;
    }
    if (line.find(" onNoteOn ") != std::string::npos) lastEvent = i;
  }
  ASSERT_GE(percents.size(), 3u) << "progress must be reported while events are delivered";
  for (std::size_t i = 1; i < percents.size(); ++i) EXPECT_LT(percents[i - 1], percents[i]);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_GT(lastProgress, lastEvent);
  EXPECT_EQ(lastProgress + 2, reader.lines.size());
  EXPECT_TRUE(endsWith(reader.lines.back(), " onEndOfFile"));
}

// The merged loop skips the channel scan, so a cut-off event reaches the decoder and fails the
// read, keeping what came before.
TEST(MergedReader, TruncatedEventFailsTheRead) {
  const Bytes file = smf::song(
      1, 480,
      {Track().noteOn(0, 0, 60, 100), Track().noteOn(10, 1, 61, 100).raw({0x00, 0x91, 0x3E})});
  smf::RecordingMergedReader reader(file);
  EXPECT_EQ(reader.readFile(), 0);
  EXPECT_EQ(only(reader, {"onNoteOn"}),
            (std::vector<std::string>{"1 0 0 onNoteOn 0 60 100", "2 10 10 onNoteOn 1 61 100"}));
  EXPECT_TRUE(contains(reader.lines, "error: unexpected end of file"));
  EXPECT_FALSE(contains(reader.lines, "onEndOfFile"));
}

// Header problems are found during construction, before the subclass is there to hear them.
TEST(MergedReader, HeaderErrorsAtConstruction) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"no header", smf::File().raw({'M', 'T', 'h', 'x', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96}),
       "error: missing midi header MThd\n"},
      {"header length 8",
       smf::File().chunk("MThd", {0, 1, 0, 1, 0, 96, 0, 0}).track(Track().noteOn(0, 0, 60, 1)),
       "error: illegal midi header\n"},
      {"format 3", smf::File().header(3, 2, 96).track(Track()).track(Track()),
       "error: invalid midi version\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    smf::RecordingMergedReader reader(c.file);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_FALSE(reader.tracksPresent());
    EXPECT_EQ(reader.readFile(), 0);
    EXPECT_TRUE(reader.lines.empty());
  }
}

TEST(MergedReader, ForeignChunkInIndexPassFailsBeforeAnyEvent) {
  const Bytes file = smf::File()
                         .header(1, 2, 480)
                         .track(Track().noteOn(0, 0, 60, 100))
                         .chunk("XFIH", {0x00, 0xFF, 0x2F, 0x00})
                         .track(Track().noteOn(0, 1, 61, 100));
  smf::RecordingMergedReader reader(file);
  EXPECT_EQ(reader.readFile(), 0);
  EXPECT_TRUE(only(reader, {"onNoteOn"}).empty());
  EXPECT_TRUE(contains(reader.lines, "error: missing midi track MTrk"));
  EXPECT_FALSE(contains(reader.lines, "onEndOfFile"));
}

}  // namespace
