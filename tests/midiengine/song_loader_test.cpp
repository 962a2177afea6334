// The song loader: every channel and system message copied unchanged into the event list at
// its merged millisecond time, the nominal tempo from the first tempo event, and the results
// of loading from a file or a memory block, also from sources that are missing or damaged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "MidiEngine.h"
#include "SmfBuilder.h"

namespace {

using smf::Bytes;
using smf::Track;
using Lines = std::vector<std::string>;

qmid::MidiEngine engine;  // zero-filled static storage, like the library's

// The event list as lines "time status data1 data2" or "time long n bytes...", in hex.
Lines records(const qmid::MidiEngine& e) {
  Lines out;
  char text[64];
  for (std::int32_t w = 0; w < e.eventWords;) {
    const std::uint32_t* record = e.events + w;
    if (record[2] & 0x80000000u) {
      const std::int32_t n = static_cast<std::int32_t>(record[2] & 0xFFFFFF);
      std::string line = std::to_string(record[0]) + " long " + std::to_string(n);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(record + 3);
      for (std::int32_t i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, " %02x", bytes[i]);
        line += text;
      }
      out.push_back(line);
      w += qmid::recordWords(n);
    } else {
      std::snprintf(text, sizeof text, "%u %02x %02x %02x", record[0], record[2] & 0xFF,
                    (record[2] >> 8) & 0xFF, (record[2] >> 16) & 0xFF);
      out.push_back(text);
      w += 4;
    }
  }
  return out;
}

// Everything a load leaves in the song store, for comparing two loads.
std::string songDump(const qmid::MidiEngine& e) {
  std::ostringstream out;
  for (const std::string& line : records(e)) out << line << '\n';
  out << "eventWords " << e.eventWords << " songLength " << e.songLength << " initialTempo "
      << e.initialTempo << " tempo " << e.tempo << '\n';
  out << "title " << e.title << "\ncopyright " << e.copyright << '\n';
  for (int k = 0; k < e.trackNameCount; ++k)
    out << "track " << k + 1 << ' ' << e.trackNames[k] << '\n';
  for (int i = 0; e.lines && i < e.lineCount; ++i)
    out << "line " << e.lines[i].startTime << ' ' << e.lines[i].leadIn << ' ' << e.lines[i].text
        << '\n';
  for (int i = 0; e.syllables && i < e.syllableCount; ++i)
    out << "syllable " << e.syllables[i].time << ' ' << e.syllables[i].line << ' '
        << e.syllables[i].offset << ' ' << e.syllables[i].length << '\n';
  return out.str();
}

class SongLoader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(qmid::openOutput(engine, nullptr), 1); }
  void TearDown() override {
    qmid::release(engine);
    for (const std::string& path : written_) std::remove(path.c_str());
  }

  // Loads the bytes as a memory block on a freshly opened output.
  std::int32_t load(const Bytes& bytes) {
    qmid::release(engine);
    qmid::openOutput(engine, nullptr);
    return qmid::loadMemory(engine, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }

  std::int32_t loadAsFile(const Bytes& bytes) {
    const std::string path = writeFile(bytes);
    qmid::release(engine);
    qmid::openOutput(engine, nullptr);
    return qmid::loadFile(engine, path.c_str());
  }

  // A file of its own for each test and process, removed at the end of the test.
  std::string writeFile(const Bytes& bytes) {
    const std::string path = ::testing::TempDir() + "song_loader_" + std::to_string(getpid()) +
                             "_" + std::to_string(written_.size()) + ".mid";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr) << path;
    if (file) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
    written_.push_back(path);
    return path;
  }

  fakes::FakePlatform fake;

 private:
  std::vector<std::string> written_;
};

TEST_F(SongLoader, NominalTempoIsTheFirstTempoEventDelivered) {
  const struct {
    const char* what;
    Bytes file;
    std::int32_t initialTempo;
  } cases[] = {
      {"first of two tempo events",
       smf::song(0, 480,
                 {Track().tempo(0, 400000).noteOn(0, 0, 60, 100).tempo(480, 600000).endOfTrack()}),
       150},
      {"no tempo event", smf::song(0, 480, {Track().noteOn(0, 0, 60, 100).endOfTrack(480)}), 120},
      {"tempo of 0 before a usable one",
       smf::song(0, 480, {Track().tempo(0, 0).tempo(10, 400000).endOfTrack()}), 150},
      {"lowest track wins on the same tick",
       smf::song(1, 480,
                 {Track().tempo(0, 400000).endOfTrack(), Track().tempo(0, 600000).endOfTrack()}),
       150},
      {"earliest tick wins over file order",
       smf::song(1, 480,
                 {Track().tempo(100, 600000).endOfTrack(), Track().tempo(0, 400000).endOfTrack()}),
       150},
      {"slowest tempo", smf::song(0, 480, {Track().tempo(0, 0xFFFFFF).endOfTrack()}), 3},
      {"fastest tempo", smf::song(0, 480, {Track().tempo(0, 1).endOfTrack()}), 60000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(load(c.file), 1);
    EXPECT_EQ(engine.initialTempo, c.initialTempo);
    EXPECT_EQ(engine.tempo, c.initialTempo);
    EXPECT_EQ(engine.tempoRatio, 1.0f);
  }
}

TEST_F(SongLoader, WithoutTempoEventsTimesRunAtHalfASecondPerQuarter) {
  ASSERT_EQ(load(smf::song(0, 480,
                           {Track()
                                .noteOn(0, 0, 60, 100)
                                .noteOff(480, 0, 60)
                                .noteOn(960, 0, 62, 100)
                                .endOfTrack(480)})),
            1);
  EXPECT_EQ(records(engine), (Lines{"0 90 3c 64", "500 80 3c 40", "1500 90 3e 64"}));
  EXPECT_EQ(engine.songLength, 2000);
  EXPECT_EQ(engine.initialTempo, 120);
  EXPECT_EQ(engine.eventCursor, 0);  // rewound for playing
}

// Tempo map in track 1, notes in tracks 2 and 3: one list in time order, track 2 first on a
// shared tick, with every time on the tempo in force at its tick.
TEST_F(SongLoader, TracksAreMergedOnTheTempoMapOfTheFirstTrack) {
  const Bytes file = smf::song(
      1, 480,
      {Track().tempo(0, 500000).tempo(960, 250000).endOfTrack(),
       Track().noteOn(0, 0, 60, 100).noteOn(480, 0, 62, 100).noteOn(960, 0, 64, 100).endOfTrack(),
       Track().noteOn(240, 1, 48, 90).noteOn(240, 1, 50, 90).noteOn(720, 1, 52, 90).endOfTrack()});
  ASSERT_EQ(load(file), 1);
  EXPECT_EQ(records(engine), (Lines{"0 90 3c 64", "250 91 30 5a", "500 90 3e 64", "500 91 32 5a",
                                    "1125 91 34 5a", "1250 90 40 64"}));
  EXPECT_EQ(engine.songLength, 1250);
  EXPECT_EQ(engine.initialTempo, 120);
}

// Nothing is interpreted: a note on with velocity 0 stays a note on, running status is written
// out, a controller-101 sequence stays three messages, out-of-range data bytes are kept.
TEST_F(SongLoader, ChannelMessagesAreStoredAsWritten) {
  const Bytes file = smf::song(0, 480,
                               {Track()
                                    .event(0, {0x90, 60, 100})
                                    .event(480, {60, 0})
                                    .event(0, {0x80, 62, 64})
                                    .event(0, {0xA0, 60, 20})
                                    .event(0, {0xB0, 7, 100})
                                    .event(0, {0xC5, 5})
                                    .event(0, {6})
                                    .event(0, {0xD0, 30})
                                    .event(0, {0xE0, 0, 0x40})
                                    .event(0, {0xB0, 0x65, 0x00})
                                    .event(0, {0xB0, 0x64, 0x00})
                                    .event(0, {0xB0, 0x06, 0x0C})
                                    .event(0, {0x99, 36, 0})
                                    .event(0, {0xC0, 0x85})
                                    .endOfTrack()});
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(load(file), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(records(engine),
            (Lines{"0 90 3c 64", "500 90 3c 00", "500 80 3e 40", "500 a0 3c 14", "500 b0 07 64",
                   "500 c5 05 00", "500 c5 06 00", "500 d0 1e 00", "500 e0 00 40", "500 b0 65 00",
                   "500 b0 64 00", "500 b0 06 0c", "500 99 24 00", "500 c0 85 00"}));
}

// Exclusive messages go in with the bytes after their length, whether they began with F0 or
// F7 and even when they are well-known resets; meta events never become records.
TEST_F(SongLoader, SystemMessagesAreStoredRaw) {
  const Bytes file = smf::song(0, 480,
                               {Track()
                                    .text(0, 1, "text")
                                    .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                    .event(10, {0xF7, 0x03, 0x43, 0x10, 0xF7})
                                    .sysex(0, {0x01, 0xF7})
                                    .event(0, {0xF2, 0x10, 0x20})
                                    .event(0, {0xF3, 0x05})
                                    .event(0, {0xF6})
                                    .event(0, {0xF8})
                                    .tempo(0, 500000)
                                    .endOfTrack()});
  ASSERT_EQ(load(file), 1);
  EXPECT_EQ(records(engine), (Lines{"0 long 5 7e 7f 09 01 f7", "10 long 3 43 10 f7", "10 f0 01 f7",
                                    "10 f2 10 20", "10 f3 05 00", "10 f6 00 00", "10 f8 00 00"}));
}

// The reading stops at the damage; what came before stays and the load succeeds silently.
TEST_F(SongLoader, DamagedFileKeepsTheEventsBeforeTheDamage) {
  const Track tempoTrack = Track().tempo(0, 400000).endOfTrack();
  Bytes truncated = smf::song(
      1, 480,
      {tempoTrack,
       Track().noteOn(0, 0, 60, 100).noteOn(480, 0, 62, 100).noteOn(480, 0, 64, 100).endOfTrack()});
  truncated.resize(truncated.size() - 5);  // end of track and the last velocity byte
  Bytes truncatedSingle = smf::song(0, 480,
                                    {Track()
                                         .tempo(0, 400000)
                                         .noteOn(0, 0, 60, 100)
                                         .noteOn(480, 0, 62, 100)
                                         .noteOn(480, 0, 64, 100)
                                         .endOfTrack()});
  truncatedSingle.resize(truncatedSingle.size() - 5);
  const struct {
    const char* what;
    Bytes file;
    Lines records;
  } cases[] = {
      {"cut inside an event", truncated, {"0 90 3c 64", "400 90 3e 64"}},
      {"single track cut inside an event", truncatedSingle, {"0 90 3c 64", "400 90 3e 64"}},
      {"unexpected status byte",
       smf::song(
           1, 480,
           {tempoTrack,
            Track().noteOn(0, 0, 60, 100).event(480, {0xF1}).noteOn(0, 0, 62, 100).endOfTrack()}),
       {"0 90 3c 64"}},
      {"data byte without running status",
       smf::song(1, 480,
                 {Track().tempo(0, 400000).noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(),
                  Track().event(0, {0x40, 0x50}).endOfTrack()}),
       {"0 90 3c 64"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::testing::internal::CaptureStderr();
    const std::int32_t result = loadAsFile(c.file);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(records(engine), c.records);
    EXPECT_EQ(engine.initialTempo, 150);
  }
}

TEST_F(SongLoader, SourceWithoutBytesFailsBeforeReading) {
  ::testing::internal::CaptureStderr();  // the reader's construction reports the missing header
  const std::string empty = writeFile({});
  const std::string missing = ::testing::TempDir() + "song_loader_no_such_file.mid";
  const char* paths[] = {missing.c_str(), empty.c_str()};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(qmid::loadFile(engine, path), QMID_ERR_OPEN);
    EXPECT_EQ(engine.events, nullptr);
    EXPECT_EQ(engine.eventWords, 0);
  }
  const std::uint8_t block[1] = {0};
  EXPECT_EQ(qmid::loadMemory(engine, block, 0), QMID_ERR_OPEN);
  EXPECT_EQ(engine.events, nullptr);
  EXPECT_EQ(engine.lines, nullptr);
  EXPECT_EQ(engine.syllables, nullptr);
  ::testing::internal::GetCapturedStderr();
}

TEST_F(SongLoader, SourceThatIsNotAMidiFileGivesAnEmptySong) {
  const std::string text = "This is a plain text file, not a song.\n";
  Bytes badHeader = smf::song(0, 480, {Track().noteOn(0, 0, 60, 100).endOfTrack()});
  badHeader[7] = 8;  // header chunk length
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {{"plain text", Bytes(text.begin(), text.end())}, {"invalid header", badHeader}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::testing::internal::CaptureStderr();  // the header error of the reader's construction
    const std::int32_t result = loadAsFile(c.file);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 1);
    EXPECT_NE(engine.events, nullptr);
    EXPECT_EQ(engine.eventWords, 0);
    EXPECT_EQ(engine.songLength, 0);
    EXPECT_EQ(engine.initialTempo, 120);
    EXPECT_EQ(engine.tempo, 120);
    EXPECT_EQ(engine.lineCount, 1);
  }
}

TEST_F(SongLoader, WithoutAnOutputDeviceNothingIsLoaded) {
  const Bytes file = smf::song(0, 480, {Track().noteOn(0, 0, 60, 100).endOfTrack()});
  const std::string path = writeFile(file);
  qmid::release(engine);
  fake.midiOut.available = false;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(qmid::openOutput(engine, nullptr), 0);
  ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(qmid::loadFile(engine, path.c_str()), QMID_ERR_DEVICE);
  EXPECT_EQ(qmid::loadMemory(engine, file.data(), static_cast<std::int32_t>(file.size())),
            QMID_ERR_DEVICE);
  EXPECT_EQ(engine.events, nullptr);
  EXPECT_EQ(engine.eventWords, 0);
}

TEST_F(SongLoader, MemoryBlockAndFileOfTheSameBytesGiveTheSameSong) {
  const Bytes file =
      smf::song(1, 96,
                {Track()
                     .text(0, 3, "Conductor")
                     .text(0, 2, "Public domain")
                     .text(0, 1, "@TTwinkle")
                     .tempo(0, 600000)
                     .tempo(200, 450000)
                     .endOfTrack(),
                 Track()
                     .text(0, 3, "Voice ")
                     .text(0, 5, "\\Twin")
                     .noteOn(0, 0, 60, 100)
                     .text(48, 5, "kle ")
                     .event(0, {62, 90})
                     .sysex(10, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
                     .text(190, 5, "/Little")
                     .event(0, {64, 0})
                     .endOfTrack(),
                 Track()
                     .text(0, 3, "Bass")
                     .noteOn(5, 1, 40, 80)
                     .event(7, {0xB1, 7, 90})
                     .noteOff(300, 1, 40)
                     .endOfTrack()});
  ASSERT_EQ(load(file), 1);
  const std::string fromMemory = songDump(engine);
  ASSERT_EQ(loadAsFile(file), 1);
  EXPECT_EQ(songDump(engine), fromMemory);
  EXPECT_EQ(engine.lineCount, 3);  // the lyrics, texts and events all arrived
  EXPECT_EQ(records(engine).size(), 7u);
}

}  // namespace
