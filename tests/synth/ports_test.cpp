// The synthesizer's ports straight from the device table: what closing leaves behind, one port
// at a time, and many opens and closes from two threads.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "SynthTestSupport.h"
#include "WavAnalysis.h"
#include "posix/MidiDevices.h"

namespace {

using synthtest::kSoundFont;

std::uint32_t message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
  return status | data1 << 8 | static_cast<std::uint32_t>(data2) << 16;
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class SynthPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!synthtest::soundFontInstalled()) GTEST_SKIP() << kSoundFont << " is not installed";
    env_.set("QMID_SOUNDFONT", kSoundFont);
  }

  std::unique_ptr<platform::MidiOutput> open(const std::string& wavPath) {
    std::string why;
    std::unique_ptr<platform::MidiOutput> port = platform::openMidiDevice("wav:" + wavPath, why);
    EXPECT_TRUE(port) << why;
    return port;
  }

  synthtest::ScopedEnvironment env_;
  synthtest::TempFiles files_;
};

TEST_F(SynthPortsTest, ClosingSilencesAndResetsForTheNextSong) {
  const std::string first = files_.path("first.wav");
  const std::string second = files_.path("second.wav");
  {
    auto port = open(first);
    ASSERT_TRUE(port);
    port->shortMessage(message(0xB0, 7, 0));        // channel volume 0
    port->shortMessage(message(0xE0, 0x00, 0x20));  // bent a semitone down
    port->shortMessage(message(0xB0, 64, 127));     // sustain pedal down
    port->shortMessage(message(0xB1, 7, 127));
    port->shortMessage(message(0x91, 72, 127));     // left sounding on another channel
    pause(100);
  }
  auto port = open(second);
  ASSERT_TRUE(port);
  pause(200);
  port->shortMessage(message(0xC0, 80));
  port->shortMessage(message(0x90, 69, 110));
  pause(600);
  port.reset();

  EXPECT_EQ(wav::read(first).problem, "");
  const wav::Audio audio = wav::read(second);
  ASSERT_EQ(audio.problem, "");
  ASSERT_GE(audio.seconds(), 0.75);
  // -60 dB: a reset leaves a faint remnant of reverberation, a note left sounding is loud.
  EXPECT_LT(wav::peak(audio, 0, 150), 0.001) << "a note of the previous song still sounds";
  const double onset = wav::onsetMs(audio, 0.003);
  ASSERT_GT(onset, 150);
  EXPECT_GT(wav::rms(audio, onset + 100, onset + 500), 0.003) << "volume not reset";
  EXPECT_NEAR(wav::pitchHz(audio, onset + 150, onset + 500), 440, 440 * 0.01) << "bend not reset";
}

TEST_F(SynthPortsTest, OnePortAtATime) {
  auto port = open(files_.path("held.wav"));
  ASSERT_TRUE(port);
  std::string why;
  EXPECT_FALSE(platform::openMidiDevice("wav:" + files_.path("refused.wav"), why));
  EXPECT_NE(why.find("in use"), std::string::npos) << why;
  port.reset();
  EXPECT_TRUE(open(files_.path("after.wav")));
}

TEST_F(SynthPortsTest, OpenAndCloseManyTimesFromTwoThreads) {
  const std::string paths[2] = {files_.path("a.wav"), files_.path("b.wav")};
  const std::uint8_t gsReset[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  const auto song = [&](int who, int round) {
    std::string why;
    auto port = platform::openMidiDevice("wav:" + paths[who], why);
    if (!port) return why;
    port->longMessage(gsReset, sizeof gsReset);
    port->shortMessage(message(0x90 | who, 60 + round % 12, 100));
    if (round % 3 == 0) pause(1);
    port->reset();
    return std::string();
  };

  // In turn: each thread waits for the other's close before it opens.
  constexpr int kRounds = 25;
  std::mutex mutex;
  std::condition_variable turnChanged;
  int turn = 0;
  std::vector<std::string> failures;
  const auto player = [&](int who) {
    for (int round = 0; round < kRounds; ++round) {
      std::unique_lock<std::mutex> lock(mutex);
      if (!turnChanged.wait_for(lock, std::chrono::seconds(10), [&] { return turn == who; })) return;
      const std::string why = song(who, round);
      if (!why.empty()) failures.push_back(why);
      turn = 1 - who;
      turnChanged.notify_all();
    }
  };
  std::thread one(player, 0), two(player, 1);
  one.join();
  two.join();
  EXPECT_EQ(turn, 0);
  EXPECT_TRUE(failures.empty()) << failures.front();
  for (const std::string& path : paths) EXPECT_EQ(wav::read(path).problem, "") << path;

  // At once: whoever finds the synthesizer taken is refused, and nothing breaks.
  int opened[2] = {0, 0};
  const auto rival = [&](int who) {
    for (int round = 0; round < kRounds; ++round) opened[who] += song(who, round).empty();
  };
  std::thread three(rival, 0), four(rival, 1);
  three.join();
  four.join();
  EXPECT_GT(opened[0] + opened[1], 0);
}

}  // namespace
