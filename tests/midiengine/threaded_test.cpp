// The engine on the real services: the 20 ms steady timer on its own thread, qwin windows, and
// outputs chosen by QMID_MIDI_OUT. Waits are bounded; times are checked with a wide margin,
// since these tests are about correctness under real threads, not about speed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Player.h"
#include "SmfBuilder.h"
#include "qmid.h"
#include "qwin.h"

namespace {

using Clock = std::chrono::steady_clock;

// One event of a recording: its time in ms from the opening of the output, and its bytes
// (status first; for exclusive and meta events the bytes after the length).
struct Recorded {
  std::uint32_t ms;
  std::vector<std::uint8_t> bytes;
};

// Reads what the smf output wrote: format 0, one track, 1000 ticks per quarter at 1 s per
// quarter, full status bytes on every event.
std::vector<Recorded> readRecording(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  std::vector<Recorded> out;
  EXPECT_GE(file.size(), 22u) << path;
  if (file.size() < 22) return out;
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "MThd");
  EXPECT_EQ(file[12] << 8 | file[13], 1000);
  EXPECT_EQ(std::string(file.begin() + 14, file.begin() + 18), "MTrk");
  std::size_t at = 22;
  const auto varLen = [&] {
    std::uint32_t value = 0;
    while (at < file.size()) {
      const std::uint8_t b = file[at++];
      value = value << 7 | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
    return value;
  };
  std::uint32_t now = 0;
  while (at < file.size()) {
    now += varLen();
    if (at >= file.size()) break;
    const std::uint8_t status = file[at++];
    Recorded event{now, {status}};
    std::size_t count;
    if (status == 0xFF) {
      event.bytes.push_back(file[at++]);
      count = varLen();
    } else if (status == 0xF0 || status == 0xF7) {
      count = varLen();
    } else {
      count = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
    }
    if (at + count > file.size()) {
      ADD_FAILURE() << "recording cut short at byte " << at;
      break;
    }
    event.bytes.insert(event.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + count));
    at += count;
    out.push_back(event);
  }
  return out;
}

class ThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("QMID_MIDI_OUT");
    hadOutput_ = previous != nullptr;
    if (previous) previousOutput_ = previous;
    window = QWin_Create();
    ASSERT_NE(window, nullptr);
  }

  void TearDown() override {
    QMIDEngine_Stop();
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    QWin_Destroy(window);
    if (hadOutput_) {
      setenv("QMID_MIDI_OUT", previousOutput_.c_str(), 1);
    } else {
      unsetenv("QMID_MIDI_OUT");
    }
    for (const std::string& path : files_) std::remove(path.c_str());
  }

  std::string tempPath(const char* name) {
    files_.push_back(::testing::TempDir() + "qmid_threaded_" + std::to_string(::getpid()) + "_" +
                     name);
    return files_.back();
  }

  std::string write(const char* name, const smf::Bytes& bytes) {
    const std::string path = tempPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // Polls GetMode as a player would, for at most the given time.
  bool playsToTheEnd(std::chrono::milliseconds limit) {
    const Clock::time_point until = Clock::now() + limit;
    while (Clock::now() < until) {
      if (QMIDEngine_GetMode() == MCI_MODE_STOP) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::vector<QWinMessage> drain() {
    std::vector<QWinMessage> out;
    QWinMessage message;
    while (QWin_Peek(window, &message) == 1) out.push_back(message);
    return out;
  }

  QWinHandle window = nullptr;

 private:
  bool hadOutput_ = false;
  std::string previousOutput_;
  std::vector<std::string> files_;
};

TEST_F(ThreadedTest, NotesGoOutAtTheirSongTimes) {
  const std::string recording = tempPath("recording.mid");
  ASSERT_EQ(setenv("QMID_MIDI_OUT", ("smf:" + recording).c_str(), 1), 0);
  const std::uint32_t times[] = {0, 100, 250, 400, 600};
  smf::Track track;
  std::uint32_t last = 0;
  for (int i = 0; i < 5; ++i) {
    track.noteOn(times[i] - last, 0, 60 + i, 100).noteOff(50, 0, 60 + i);
    last = times[i] + 50;
  }
  track.endOfTrack();
  // Division 500 at the default tempo: one tick is one millisecond.
  const std::string song = write("song.mid", smf::song(0, 500, {track}));

  ASSERT_EQ(QMIDEngine_Play(window, song.c_str(), 1), 1);
  ASSERT_TRUE(playsToTheEnd(std::chrono::seconds(5)));
  EXPECT_GE(QMIDEngine_GetPosition(), 650);
  ASSERT_EQ(QMIDEngine_Stop(), 1);  // closes the output, which writes the file

  std::vector<Recorded> noteOns;
  for (const Recorded& event : readRecording(recording))
    if ((event.bytes[0] & 0xF0) == 0x90 && event.bytes[2] != 0) noteOns.push_back(event);
  ASSERT_EQ(noteOns.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(noteOns[i].bytes[1], 60 + i);
    // The song clock never runs ahead of real time, and the output opened before the timer
    // started; late by more than a few ticks would be a fault.
    EXPECT_GE(noteOns[i].ms, times[i]);
    EXPECT_LE(noteOns[i].ms, times[i] + 150);
  }

  const std::vector<QWinMessage> messages = drain();
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(messages.front().message, static_cast<std::uint32_t>(MSG_KARAOKE));
  EXPECT_EQ(messages.front().wParam, 0u);
  EXPECT_EQ(messages.front().lParam, reinterpret_cast<std::intptr_t>(&qmid::theEngine()));
  const std::uintptr_t stopCues[] = {0, 1, 0, 1};
  for (int i = 0; i < 4; ++i) {
    const QWinMessage& m = messages[messages.size() - 4 + i];
    EXPECT_EQ(m.message, static_cast<std::uint32_t>(MSG_KARAOKE));
    EXPECT_EQ(m.wParam, stopCues[i]);
    EXPECT_EQ(m.lParam, 0);
  }
}

// A song with something in every tick: notes on every channel, drums, controllers, exclusive
// messages and karaoke lines, four seconds long.
smf::Bytes busySong() {
  smf::Track track;
  track.tempo(0, 500000);
  for (int i = 0; i < 400; ++i) {
    const int channel = i % 16;
    const int key = 30 + (i * 7) % 70;
    if (i % 50 == 0) track.text(0, 5, "/line " + std::to_string(i / 50));
    if (i % 10 == 5) track.text(0, 5, "la");
    if (i % 40 == 0) track.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    if (i % 20 == 0) track.event(0, {static_cast<std::uint8_t>(0xB0 | channel), 7, 100});
    track.noteOn(0, channel, key, 40 + i % 80).noteOff(10, channel, key);
  }
  track.endOfTrack();
  return smf::song(0, 500, {track});
}

TEST_F(ThreadedTest, ControlCallsWhileTheTimerRuns) {
  ASSERT_EQ(setenv("QMID_MIDI_OUT", "null", 1), 0);
  const std::string song = write("busy.mid", busySong());
  std::mt19937 random(20240611);
  const Clock::time_point until = Clock::now() + std::chrono::seconds(3);
  int played = 0;
  int cues = 0;
  for (int i = 0; i < 800 && Clock::now() < until; ++i) {
    const unsigned choice = random() % 12;
    switch (choice) {
      case 0:
      case 1: {
        const std::int32_t result = QMIDEngine_Play(window, song.c_str(), i);
        EXPECT_TRUE(result == 1 || result == 0) << result;
        played += result == 1;
        break;
      }
      case 2:
        EXPECT_LE(QMIDEngine_Pause(), 1);
        break;
      case 3:
        EXPECT_LE(QMIDEngine_Resume(), 1);
        break;
      case 4:
        QMIDEngine_Seek(random() % 5000);
        break;
      case 5:
        QMIDEngine_SetKey(static_cast<std::int32_t>(random() % 25) - 12);
        break;
      case 6:
        QMIDEngine_SetTempo(30 + static_cast<std::int32_t>(random() % 200));
        break;
      case 7: {
        std::int32_t bands[20];
        QMIDEngine_GetSpectrum(bands);
        for (std::int32_t band : bands) {
          EXPECT_GE(band, 0);
          EXPECT_LE(band, 25);
        }
        break;
      }
      case 8:
        QMIDEngine_GetPosition();
        QMIDEngine_GetLength();
        break;
      case 9: {
        const std::int32_t mode = QMIDEngine_GetMode();
        EXPECT_TRUE(mode == MCI_MODE_NOT_READY || mode == MCI_MODE_PLAY ||
                    mode == MCI_MODE_PAUSE || mode == MCI_MODE_STOP)
            << mode;
        break;
      }
      case 10: {
        char info[128];
        QMIDEngine_GetFileInfo(info, sizeof info);
        QMIDEngine_IsKaraoke();
        break;
      }
      default:
        if (random() % 3 == 0) QMIDEngine_Stop();
        break;
    }
    cues += static_cast<int>(drain().size());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
  }
  QMIDEngine_Stop();
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
  EXPECT_GT(played, 0);
  EXPECT_GT(cues, 0);
}

}  // namespace
