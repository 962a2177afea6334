// The exported interface over the library's one engine: mode guards, the Play flow and its
// failures, and what each mode answers. Songs are real files; the timer is fired by hand.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "Player.h"
#include "SmfBuilder.h"
#include "qmid.h"

namespace {

using Strings = std::vector<std::string>;

struct Cue {
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Cue& other) const {
    return wParam == other.wParam && lParam == other.lParam;
  }
};
using Cues = std::vector<Cue>;

void PrintTo(const Cue& cue, std::ostream* os) {
  *os << "(" << static_cast<std::intptr_t>(cue.wParam) << ", 0x" << std::hex << cue.lParam
      << std::dec << ")";
}

const Cues kStopPair = {{0, 0}, {1, 0}};

const char* modeName(std::int32_t mode) {
  switch (mode) {
    case MCI_MODE_NOT_READY: return "NOT_READY";
    case MCI_MODE_OPEN: return "OPEN";
    case MCI_MODE_PLAY: return "PLAY";
    case MCI_MODE_PAUSE: return "PAUSE";
    case MCI_MODE_STOP: return "STOP";
    default: return "?";
  }
}

// Division 500 at the default tempo: one tick is one millisecond.
constexpr int kMsDivision = 500;

// Three notes on channel 1, one every second; 2500 ms long.
smf::Bytes tune() {
  return smf::song(0, kMsDivision,
                   {smf::Track()
                        .noteOn(0, 0, 60, 100)
                        .noteOff(500, 0, 60)
                        .noteOn(500, 0, 61, 100)
                        .noteOff(500, 0, 61)
                        .noteOn(500, 0, 62, 100)
                        .noteOff(500, 0, 62)
                        .endOfTrack()});
}

constexpr int kTuneTicks = 2500 / 20;

class ExportsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    QMIDEngine_Stop();
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    for (const std::string& path : files_) std::remove(path.c_str());
  }

  std::string write(const smf::Bytes& bytes) {
    const std::string path = ::testing::TempDir() + "qmid_exports_" + std::to_string(::getpid()) +
                             "_" + std::to_string(files_.size()) + ".mid";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    files_.push_back(path);
    return path;
  }

  std::int32_t play(const smf::Bytes& bytes) {
    return QMIDEngine_Play(window, write(bytes).c_str(), 1);
  }

  // Puts the engine into a mode the way a player gets there.
  void enter(std::int32_t mode) {
    switch (mode) {
      case MCI_MODE_NOT_READY:
        break;
      case MCI_MODE_OPEN:
        // As after a download that failed: output open, window kept, no song.
        qmid::openOutput(qmid::theEngine(), window);
        qmid::playMode() = MCI_MODE_OPEN;
        break;
      case MCI_MODE_PLAY:
        ASSERT_EQ(play(tune()), 1);
        break;
      case MCI_MODE_PAUSE:
        ASSERT_EQ(play(tune()), 1);
        ASSERT_TRUE(fake.timer.fire(3));
        ASSERT_EQ(QMIDEngine_Pause(), 1);
        break;
      case MCI_MODE_STOP:
        ASSERT_EQ(play(tune()), 1);
        ASSERT_TRUE(fake.timer.fire(kTuneTicks + 1));
        ASSERT_EQ(QMIDEngine_GetMode(), MCI_MODE_STOP);
        break;
    }
    ASSERT_EQ(qmid::playMode(), mode);
    fake.midi.clearEntries();
    fake.windows.clearPosted();
  }

  Cues cues() const {
    Cues out;
    for (const fakes::Posted& p : fake.windows.posted()) {
      EXPECT_EQ(p.message, static_cast<std::uint32_t>(MSG_KARAOKE));
      out.push_back(Cue{p.wParam, p.lParam});
    }
    return out;
  }

  Strings sent() const { return fake.midi.messages(); }

  fakes::FakePlatform fake;
  platform::WindowHandle window = fake.windows.create();

 private:
  std::vector<std::string> files_;
};

constexpr std::int32_t kModes[] = {MCI_MODE_NOT_READY, MCI_MODE_OPEN, MCI_MODE_PLAY,
                                   MCI_MODE_PAUSE, MCI_MODE_STOP};

TEST_F(ExportsTest, EachCallActsOnlyInItsModes) {
  constexpr std::int32_t NR = MCI_MODE_NOT_READY, OPEN = MCI_MODE_OPEN, PLAY = MCI_MODE_PLAY,
                         PAUSE = MCI_MODE_PAUSE, STOP = MCI_MODE_STOP;
  const std::string song = write(tune());
  const auto spectrum = [] {
    // Full levels in the engine, so that only the guard can produce zeros.
    for (auto& level : qmid::theEngine().levels) level = 127;
    std::int32_t bands[20];
    std::memset(bands, 0x55, sizeof bands);
    const std::int32_t result = QMIDEngine_GetSpectrum(bands);
    for (std::int32_t band : bands) EXPECT_EQ(band, result == 1 ? 25 : 0);
    return result;
  };
  const auto fileInfo = [] {
    char text[64];
    std::memset(text, 'x', sizeof text);
    const std::int32_t result = QMIDEngine_GetFileInfo(text, sizeof text);
    EXPECT_LT(std::strlen(text), sizeof text);
    if (result == 0) {
      EXPECT_STREQ(text, "");
    }
    return result;
  };
  struct Guard {
    const char* name;
    std::function<std::int32_t()> call;
    std::int32_t results[5];  // in the order of kModes
    std::int32_t modesAfter[5];
  };
  const Guard guards[] = {
      {"Play",
       [&] {
         qmid::callerId() = 5;
         const std::int32_t result = QMIDEngine_Play(window, song.c_str(), 77);
         EXPECT_EQ(qmid::callerId(), result == 1 ? 77 : 5);  // refused: nothing kept
         return result;
       },
       {1, 0, 0, 0, 0},
       {PLAY, OPEN, PLAY, PAUSE, STOP}},
      {"Pause", QMIDEngine_Pause, {0, 0, 1, 0, 0}, {NR, OPEN, PAUSE, PAUSE, STOP}},
      {"Resume", QMIDEngine_Resume, {0, 0, 0, 1, 0}, {NR, OPEN, PLAY, PLAY, STOP}},
      {"Stop", QMIDEngine_Stop, {0, 1, 1, 1, 1}, {NR, NR, NR, NR, NR}},
      {"Seek", [] { return QMIDEngine_Seek(700); }, {0, 1, 1, 1, 1},
       {NR, PLAY, PLAY, PLAY, PLAY}},
      {"IsOpen", QMIDEngine_IsOpen, {0, 1, 1, 1, 1}, {NR, OPEN, PLAY, PAUSE, STOP}},
      {"GetSpectrum", spectrum, {0, 0, 1, 0, 0}, {NR, OPEN, PLAY, PAUSE, STOP}},
      {"GetFileInfo", fileInfo, {0, 1, 1, 1, 1}, {NR, OPEN, PLAY, PAUSE, STOP}},
  };
  for (const Guard& guard : guards) {
    for (int m = 0; m < 5; ++m) {
      SCOPED_TRACE(std::string(guard.name) + " in " + modeName(kModes[m]));
      enter(kModes[m]);
      EXPECT_EQ(guard.call(), guard.results[m]);
      EXPECT_STREQ(modeName(qmid::playMode()), modeName(guard.modesAfter[m]));
      QMIDEngine_Stop();
    }
  }
}

TEST_F(ExportsTest, NothingIsReadOrChangedWithoutASong) {
  // Stale values in the engine object must not show through.
  qmid::MidiEngine& e = qmid::theEngine();
  e.position = 1234;
  e.songLength = 5000;
  e.tempo = 120;
  e.keyOffset = 3;
  e.lineCount = 3;
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
  EXPECT_EQ(QMIDEngine_GetPosition(), 0);
  EXPECT_EQ(QMIDEngine_GetLength(), 0);
  EXPECT_EQ(QMIDEngine_GetTempo(), 0);
  EXPECT_EQ(QMIDEngine_GetKey(), 0);
  EXPECT_EQ(QMIDEngine_IsKaraoke(), 0);
  EXPECT_EQ(QMIDEngine_IsOpen(), 0);
  QMIDEngine_SetTempo(90);
  QMIDEngine_SetKey(5);
  EXPECT_EQ(e.tempo, 120);
  EXPECT_EQ(e.keyOffset, 3);
  EXPECT_TRUE(fake.midi.entries().empty());
  EXPECT_TRUE(cues().empty());
  EXPECT_EQ(fake.sleep.sleeps, 0);
  qmid::clear(e);
}

TEST_F(ExportsTest, PlayStartsAtTheBeginning) {
  ASSERT_EQ(play(tune()), 1);
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
  EXPECT_EQ(QMIDEngine_IsOpen(), 1);
  EXPECT_EQ(QMIDEngine_GetLength(), 2500);
  EXPECT_EQ(QMIDEngine_GetTempo(), 120);
  EXPECT_EQ(QMIDEngine_GetKey(), 0);
  EXPECT_TRUE(fake.timer.running());
  EXPECT_EQ(fake.timer.lastPeriod, 20u);
  EXPECT_EQ(cues(), (Cues{{0, reinterpret_cast<std::intptr_t>(&qmid::theEngine())}}));
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 903c64"}));
  EXPECT_EQ(QMIDEngine_GetPosition(), 20);
}

TEST_F(ExportsTest, FailedPlayLeavesNothingBehind) {
  const std::string missing = ::testing::TempDir() + "qmid_exports_no_such_song.mid";
  const std::string empty = write({});
  const std::string song = write(tune());
  struct Case {
    const char* name;
    std::string source;
    bool device;
    bool timer;
    std::int32_t result;
    bool startCue = false;  // posted by start before it finds no timer
  };
  const Case cases[] = {
      {"missing file", missing, true, true, QMID_ERR_OPEN},
      {"empty file", empty, true, true, QMID_ERR_OPEN},
      // The device is opened before the source is looked at.
      {"no device, missing file", missing, false, true, QMID_ERR_DEVICE},
      {"no device, song", song, false, true, QMID_ERR_DEVICE},
      {"no device, url", "http://host/song.mid", false, true, QMID_ERR_DEVICE},
      {"no timer", song, true, false, QMID_ERR_TIMER, true},
  };
  std::int32_t caller = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.midiOut.available = c.device;
    fake.timer.failStart = !c.timer;
    fake.midi.clearEntries();
    fake.windows.clearPosted();
    ++caller;
    EXPECT_EQ(QMIDEngine_Play(window, c.source.c_str(), caller), c.result);
    EXPECT_EQ(qmid::playMode(), MCI_MODE_NOT_READY);
    EXPECT_EQ(QMIDEngine_IsOpen(), 0);
    EXPECT_EQ(qmid::callerId(), caller);
    // openOutput had already kept the window, so the unload says goodbye.
    Cues expected = kStopPair;
    if (c.startCue)
      expected.insert(expected.begin(), Cue{0, reinterpret_cast<std::intptr_t>(&qmid::theEngine())});
    EXPECT_EQ(cues(), expected);
    EXPECT_FALSE(fake.timer.running());
    EXPECT_EQ(qmid::theEngine().events, nullptr);
    EXPECT_EQ(qmid::theEngine().outputDevice, nullptr);
    if (c.device) {
      ASSERT_FALSE(fake.midi.entries().empty());
      EXPECT_EQ(fake.midi.entries().back(), "close");
    }
  }
}

// Any source with "://" in it is a URL: Play hands it to a download and returns at once.
TEST_F(ExportsTest, UrlSource) {
  const std::int32_t kUrlResult = QMID_LOADING;
  const std::int32_t kModeAfterUrl = MCI_MODE_OPEN;
  for (const char* url : {"http://host/song.mid", "songs/a://b.mid"}) {
    SCOPED_TRACE(url);
    fake.windows.clearPosted();
    EXPECT_EQ(QMIDEngine_Play(window, url, 9), kUrlResult);
    EXPECT_EQ(qmid::playMode(), kModeAfterUrl);
    EXPECT_EQ(qmid::callerId(), 9);
    QMIDEngine_Stop();
  }
}

TEST_F(ExportsTest, FileWithoutMidiDataEndsAtTheFirstTick) {
  const std::string text = "this is not a MIDI file\n";
  ASSERT_EQ(play(smf::Bytes(text.begin(), text.end())), 1);
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_STOP);
}

TEST_F(ExportsTest, StopPostsTheStopPairTwice) {
  ASSERT_EQ(play(tune()), 1);
  ASSERT_TRUE(fake.timer.fire(5));
  fake.windows.clearPosted();
  EXPECT_EQ(QMIDEngine_Stop(), 1);
  EXPECT_EQ(cues(), (Cues{{0, 0}, {1, 0}, {0, 0}, {1, 0}}));
  EXPECT_EQ(fake.midi.entries().back(), "close");
  EXPECT_EQ(qmid::playMode(), MCI_MODE_NOT_READY);
  EXPECT_FALSE(fake.timer.running());
}

TEST_F(ExportsTest, SeekFromPauseResumesAtTheNewTime) {
  ASSERT_EQ(play(tune()), 1);
  ASSERT_TRUE(fake.timer.fire(10));
  ASSERT_EQ(QMIDEngine_Pause(), 1);
  EXPECT_FALSE(fake.timer.running());
  fake.midi.clearEntries();

  EXPECT_EQ(QMIDEngine_Seek(1700), 1);
  EXPECT_EQ(qmid::playMode(), MCI_MODE_PLAY);
  EXPECT_EQ(QMIDEngine_GetPosition(), 1500);
  EXPECT_TRUE(fake.timer.running());
  ASSERT_TRUE(fake.timer.fire(24));
  EXPECT_TRUE(sent().empty());
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 903e64"}));
}

TEST_F(ExportsTest, SongPlaysToItsEndAndTheClockRunsOn) {
  ASSERT_EQ(play(tune()), 1);
  ASSERT_TRUE(fake.timer.fire(kTuneTicks - 1));
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
  ASSERT_TRUE(fake.timer.fire());  // sends the last note-off
  EXPECT_EQ(qmid::theEngine().ended, 1);
  EXPECT_EQ(qmid::playMode(), MCI_MODE_PLAY);  // until GetMode looks
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_STOP);
  EXPECT_EQ(QMIDEngine_Pause(), 0);
  EXPECT_EQ(QMIDEngine_Resume(), 0);
  ASSERT_TRUE(fake.timer.fire(10));
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_STOP);
  EXPECT_EQ(QMIDEngine_GetPosition(), 2700);
  EXPECT_GT(QMIDEngine_GetPosition(), QMIDEngine_GetLength());

  // Seek plays again from the requested time.
  fake.midi.clearEntries();
  EXPECT_EQ(QMIDEngine_Seek(900), 1);
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
  EXPECT_EQ(QMIDEngine_GetPosition(), 500);
  ASSERT_TRUE(fake.timer.fire(25));
  EXPECT_EQ(sent(), (Strings{"short 903d64"}));
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
}

TEST_F(ExportsTest, SpectrumReportsBandLevelsDividedByFive) {
  ASSERT_EQ(play(smf::song(0, kMsDivision,
                           {smf::Track()
                                .noteOn(0, 0, 60, 127)
                                .noteOn(0, 1, 60, 4)
                                .noteOn(0, 9, 38, 100)
                                .noteOn(0, 15, 60, 64)
                                .noteOff(1000, 0, 60)
                                .endOfTrack()})),
            1);
  ASSERT_TRUE(fake.timer.fire());
  std::int32_t bands[20];
  ASSERT_EQ(QMIDEngine_GetSpectrum(bands), 1);
  std::vector<std::int32_t> expected(20, 0);
  expected[0] = 25;
  expected[14] = 12;
  expected[18] = 20;
  EXPECT_EQ(std::vector<std::int32_t>(bands, bands + 20), expected);
}

TEST_F(ExportsTest, TempoAndKeyFollowTheSong) {
  ASSERT_EQ(play(smf::song(0, kMsDivision,
                           {smf::Track().tempo(0, 600000).noteOn(0, 0, 60, 100).noteOff(5000, 0, 60)
                                .endOfTrack()})),
            1);
  EXPECT_EQ(QMIDEngine_GetTempo(), 100);
  QMIDEngine_SetTempo(150);
  EXPECT_EQ(QMIDEngine_GetTempo(), 150);
  ASSERT_TRUE(fake.timer.fire(2));
  EXPECT_EQ(QMIDEngine_GetPosition(), 60);
  QMIDEngine_SetKey(-3);
  EXPECT_EQ(QMIDEngine_GetKey(), -3);
  EXPECT_TRUE(fake.timer.running());
}

TEST_F(ExportsTest, KaraokeNeedsALineBreak) {
  struct Case {
    const char* name;
    smf::Track track;
    std::int32_t karaoke;
  };
  const Case cases[] = {
      {"lines", smf::Track().text(0, 5, "/Twin").text(500, 5, "kle").text(1000, 5, "/Star"), 1},
      {"text events", smf::Track().text(0, 1, "\\Twin").text(500, 1, "kle"), 1},
      {"no line break", smf::Track().text(0, 5, "Twin").text(500, 5, "kle"), 0},
      {"no lyrics", smf::Track().text(0, 3, "Piano"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    smf::Track track = c.track;
    track.noteOn(0, 0, 60, 100).noteOff(2000, 0, 60).endOfTrack();
    ASSERT_EQ(play(smf::song(0, kMsDivision, {track})), 1);
    EXPECT_EQ(QMIDEngine_IsKaraoke(), c.karaoke);
    QMIDEngine_Stop();
  }
}

}  // namespace
