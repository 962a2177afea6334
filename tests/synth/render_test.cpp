// Songs played through the whole engine into the synthesizer's WAV output, checked by ear's
// proxies: sound where notes are, silence where none are, the onset at its song time, pitch
// following transposition and bend, timbre following program changes and GS/XG resets.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "SmfBuilder.h"
#include "SynthTestSupport.h"
#include "WavAnalysis.h"
#include "qmid.h"

namespace {

using Clock = std::chrono::steady_clock;
using synthtest::kSoundFont;

// Division 500 at the default tempo: one tick is one millisecond.
constexpr int kDivision = 500;
// An onset may come up to three 20 ms ticks after its song time. Sanitized builds run several
// times slower on a shared machine, and the timer's thread waits its turn.
#ifdef SYNTH_TEST_SANITIZED
constexpr double kOnsetToleranceMs = 200;
#else
constexpr double kOnsetToleranceMs = 60;
#endif
// Levels in full scale: what counts as sound (-50 dB; one piano note at velocity 100 is about
// -40 dB), and what still counts as silence (-60 dB: a reset does not clear the synthesizer's
// reverberation entirely, and what a previous song leaves there stays below that).
constexpr double kAudible = 0.003;
constexpr double kSilent = 0.001;

class SynthRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!synthtest::soundFontInstalled()) GTEST_SKIP() << kSoundFont << " is not installed";
    env_.set("QMID_SOUNDFONT", kSoundFont);
  }

  void TearDown() override { QMIDEngine_Stop(); }

  // Plays the song to its end into a WAV file and reads the file back. `during` runs every few
  // milliseconds with the song position while the song plays.
  wav::Audio render(const smf::Bytes& song, const std::function<void(std::int32_t)>& during = {}) {
    const std::string out = files_.path("render.wav");
    env_.set("QMID_MIDI_OUT", "wav:" + out);
    const std::string path = files_.write("song.mid", song);
    EXPECT_EQ(QMIDEngine_Play(nullptr, path.c_str(), 1), 1);
    const Clock::time_point until = Clock::now() + std::chrono::seconds(15);
    while (QMIDEngine_GetMode() == MCI_MODE_PLAY && Clock::now() < until) {
      if (during) during(QMIDEngine_GetPosition());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_STOP) << "the song did not end in time";
    EXPECT_EQ(QMIDEngine_Stop(), 1);  // closes the output, which completes the file
    wav::Audio audio = wav::read(out);
    EXPECT_EQ(audio.problem, "");
    EXPECT_EQ(audio.sampleRate, 44100u);
    return audio;
  }

  synthtest::ScopedEnvironment env_;
  synthtest::TempFiles files_;
};

TEST_F(SynthRenderTest, SoundWhereNotesPlaySilenceWhereNoneDo) {
  smf::Track track;
  track.noteOn(200, 0, 60, 100)
      .noteOn(500, 0, 60, 0)  // a note-on with velocity 0 ends the note
      .noteOn(1100, 0, 64, 100)
      .noteOff(400, 0, 64)
      .endOfTrack();
  const wav::Audio audio = render(smf::song(0, kDivision, {track}));
  ASSERT_GE(audio.seconds(), 2.15);

  EXPECT_LT(wav::peak(audio, 0, 190), kSilent) << "sound before the first note";
  const double onset = wav::onsetMs(audio, kAudible);
  EXPECT_GE(onset, 195);  // the file's time 0 is the output's opening, a little before the clock's
  EXPECT_LE(onset, 200 + kOnsetToleranceMs);
  EXPECT_GT(wav::rms(audio, onset + 50, onset + 450), kAudible);
  // The first note's release and reverberation have died away 800 ms after its end. (Later
  // notes may be later still: a timer that was held up skips its missed ticks.)
  const double second = wav::onsetMs(audio, kAudible, onset + 1300);
  ASSERT_GE(second, 1795);
  EXPECT_LT(wav::peak(audio, onset + 1300, second - 10), kSilent);
  EXPECT_GT(wav::rms(audio, second + 50, second + 350), kAudible);
}

// A tone whose zero crossings give its pitch: program 80 (square lead).
smf::Track& squareNote(smf::Track& track, std::uint32_t delta, int key) {
  return track.event(delta, {0xC0, 80}).noteOn(0, 0, key, 110).noteOff(600, 0, key);
}

TEST_F(SynthRenderTest, TranspositionAndPitchBendMoveThePitch) {
  smf::Track track;
  squareNote(track, 200, 57);  // 200-800 ms, A3
  squareNote(track, 800, 57);  // 1600-2200 ms, after the key moved up an octave
  // Bend +4096 of 8192 (one semitone at the default range of two): LSB 00, MSB 60.
  track.event(100, {0xE0, 0x00, 0x60});
  squareNote(track, 100, 57);  // 2400-3000 ms
  track.endOfTrack(200);
  bool moved = false;
  const wav::Audio audio = render(smf::song(0, kDivision, {track}), [&](std::int32_t position) {
    if (!moved && position >= 1000) {
      QMIDEngine_SetKey(12);
      moved = true;
    }
  });
  ASSERT_TRUE(moved);
  ASSERT_GE(audio.seconds(), 2.95);

  // Measured past each note's attack, from where the note really began.
  const auto pitchAfter = [&](double songMs) {
    const double onset = wav::onsetMs(audio, kAudible, songMs - 5);
    EXPECT_GE(onset, 0) << "no note at " << songMs << " ms";
    return wav::pitchHz(audio, onset + 150, onset + 500);
  };
  const double plain = pitchAfter(200);
  const double octave = pitchAfter(1600);
  const double bent = pitchAfter(2400);
  EXPECT_NEAR(plain, 220, 220 * 0.02);
  EXPECT_NEAR(octave / plain, 2.0, 0.04);
  EXPECT_NEAR(bent / octave, std::pow(2.0, 1.0 / 12), 0.012);
}

TEST_F(SynthRenderTest, ProgramChangesAndResetsChangeTheSound) {
  smf::Track track;
  track.noteOn(200, 0, 60, 100).noteOff(500, 0, 60);   // 200-700: piano
  track.noteOn(200, 0, 60, 100).noteOff(500, 0, 60);   // 900-1400: piano again
  track.event(100, {0xC0, 80});                         // 1500: square lead
  track.noteOn(100, 0, 60, 100).noteOff(500, 0, 60);   // 1600-2100
  track.event(200, {0xB0, 7, 0});                       // 2300: channel volume 0
  track.noteOn(100, 0, 60, 100).noteOff(300, 0, 60);   // 2400-2700: unheard
  // 2800: GS reset, addressed to device 16 (10h); the volume returns to 100.
  track.sysex(100, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  track.noteOn(100, 0, 60, 100).noteOff(400, 0, 60);   // 2900-3300
  track.event(100, {0xB0, 7, 0});                       // 3400: volume 0 again
  track.sysex(100, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});  // 3500: XG reset
  track.noteOn(100, 0, 60, 100).noteOff(400, 0, 60);   // 3600-4000
  track.endOfTrack(200);
  const wav::Audio audio = render(smf::song(0, kDivision, {track}));
  ASSERT_GE(audio.seconds(), 3.95);

  const auto spectrumAfter = [&](double songMs) {
    const double onset = wav::onsetMs(audio, kAudible, songMs - 5);
    EXPECT_GE(onset, 0) << "no note at " << songMs << " ms";
    return wav::harmonics(audio, onset + 50, onset + 450, 261.63, 8);
  };
  const auto first = spectrumAfter(200);
  const auto again = spectrumAfter(900);
  const auto changed = spectrumAfter(1600);
  EXPECT_LT(wav::distance(first, again), 0.15) << "the same program sounds alike";
  EXPECT_GT(wav::distance(again, changed), 0.4) << "a program change changes the timbre";

  // The note at 2400 is unheard, so the next sound is the one after the GS reset.
  const double gs = wav::onsetMs(audio, kAudible, 2750);
  ASSERT_GE(gs, 2895) << "no sound after the GS reset";
  EXPECT_LT(wav::rms(audio, gs - 450, gs - 250), kSilent) << "channel volume 0";
  EXPECT_GT(wav::rms(audio, gs + 50, gs + 350), kAudible);
  const double xg = wav::onsetMs(audio, kAudible, gs + 500);
  ASSERT_GE(xg, gs + 600) << "no sound after the XG reset";
  EXPECT_GT(wav::rms(audio, xg + 50, xg + 350), kAudible);
}

}  // namespace
