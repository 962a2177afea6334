// The sequencer driven tick by tick: the manual timer fires the engine's callback on the test's
// thread, so every check sees exactly what one tick did.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "MidiEngine.h"

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

Cue cue(std::uintptr_t wParam, const void* lParam) {
  return Cue{wParam, reinterpret_cast<std::intptr_t>(lParam)};
}

// A cue together with the song clock of the tick that posted it.
struct TimedCue {
  Cue cue;
  std::int32_t at;
  bool operator==(const TimedCue& other) const { return cue == other.cue && at == other.at; }
};

void PrintTo(const TimedCue& timed, std::ostream* os) {
  PrintTo(timed.cue, os);
  *os << " at " << timed.at;
}

const Strings kAllNotesOff = {"short b07b00", "short b17b00", "short b27b00", "short b37b00",
                              "short b47b00", "short b57b00", "short b67b00", "short b77b00",
                              "short b87b00", "short b97b00", "short ba7b00", "short bb7b00",
                              "short bc7b00", "short bd7b00", "short be7b00", "short bf7b00"};

Strings silenced() {
  Strings out = kAllNotesOff;
  out.push_back("reset");
  return out;
}

class SequencerTest : public ::testing::Test {
 protected:
  SequencerTest() { fresh(); }
  ~SequencerTest() override {
    qmid::stop(e);
    qmid::release(e);
  }

  // An engine as a load leaves it: output open, empty tables, the song's own tempo 120.
  void fresh() {
    qmid::stop(e);
    qmid::release(e);
    qmid::openOutput(e, window);
    e.syllables =
        static_cast<LyricSyllable*>(std::calloc(qmid::kSyllableBlock, sizeof(LyricSyllable)));
    e.lines = static_cast<LyricLine*>(std::calloc(qmid::kLineBlock, sizeof(LyricLine)));
    e.events =
        static_cast<std::uint32_t*>(std::calloc(qmid::kEventBlockWords, sizeof(std::uint32_t)));
    e.initialTempo = 120;
    e.tempo = 120;
    fake.midi.clearEntries();
    fake.windows.clearPosted();
  }

  // A message as the loader appends it: status, then its data bytes.
  void event(std::uint32_t time, std::initializer_list<std::uint8_t> message) {
    const std::uint8_t* bytes = message.begin();
    qmid::appendEvent(e, time, bytes[0], static_cast<std::int32_t>(message.size() - 1), bytes + 1);
  }

  // An exclusive event: the bytes that follow its length in the file.
  void sysex(std::uint32_t time, std::initializer_list<std::uint8_t> bytes) {
    qmid::appendEvent(e, time, 0xF0, static_cast<std::int32_t>(bytes.size()), bytes.begin());
  }

  void lyric(std::uint32_t time, const char* text) {
    qmid::captureText(e, 5, static_cast<std::int32_t>(std::strlen(text)),
                      reinterpret_cast<const std::uint8_t*>(text), 1, time);
  }

  void ready() { qmid::rewind(e); }

  // Six syllables over five lines, with a long pause before line 3, and four controller
  // records between them.
  void karaoke() {
    lyric(500, "hello");    // before the first break: line 0
    lyric(6000, "/One ");   // line 1, cued 5000 ms ahead
    lyric(6500, "two");
    lyric(7000, "/Three");  // line 2, cued with line 1's first syllable
    lyric(40000, "/Four");  // line 3, after a long pause: cued 5000 ms ahead
    lyric(41000, "/Five");  // line 4, cued with line 3's first syllable
    event(200, {0xC0, 1});
    event(6200, {0xB0, 7, 80});
    event(7500, {0xB0, 7, 90});
    event(45000, {0xB0, 7, 100});
    ready();
    ASSERT_EQ(e.lineCount, 5);
    ASSERT_EQ(e.syllableCount, 7);
    const std::uint32_t starts[] = {0, 1000, 6000, 35000, 40000};
    const std::int32_t leadIns[] = {1, 1, 0, 1, 0};
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(e.lines[i].startTime, starts[i]) << "line " << i;
      ASSERT_EQ(e.lines[i].leadIn, leadIns[i]) << "line " << i;
    }
  }

  Cues cues() const {
    Cues out;
    for (const fakes::Posted& p : fake.windows.posted()) {
      EXPECT_EQ(p.message, static_cast<std::uint32_t>(MSG_KARAOKE));
      EXPECT_EQ(p.window, window);
      out.push_back(Cue{p.wParam, p.lParam});
    }
    return out;
  }

  Strings sent() const { return fake.midi.messages(); }

  std::vector<int> levels() const {
    std::vector<int> out;
    for (const auto& level : e.levels) out.push_back(level);
    return out;
  }

  int keysMarked() const {
    int marked = 0;
    for (const auto& channel : e.noteOn)
      for (const auto& key : channel) marked += key;
    return marked;
  }

  fakes::FakePlatform fake;
  platform::WindowHandle window = fake.windows.create();
  std::unique_ptr<qmid::MidiEngine> owned = std::make_unique<qmid::MidiEngine>();
  qmid::MidiEngine& e = *owned;
};

TEST_F(SequencerTest, ClockStepScalesWithTheTempo) {
  event(100000, {0xB0, 7, 100});
  ready();
  struct Case {
    std::int32_t tempo;
    std::int32_t step;
  };
  // Against the song's 120: 20 x 1.1, 20 x 0.833 and 20 x 0.5, rounded; below zero the clock
  // stands still.
  const Case cases[] = {{120, 20}, {132, 22}, {100, 17}, {60, 10}, {-60, 0}, {0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tempo);
    qmid::setTempo(e, c.tempo);
    EXPECT_EQ(e.tempo, c.tempo);
    const std::int32_t before = e.position;
    ASSERT_EQ(qmid::start(e), 1);
    EXPECT_EQ(fake.timer.lastPeriod, 20u);
    ASSERT_TRUE(fake.timer.fire(3));
    EXPECT_EQ(e.position - before, 3 * c.step);
    qmid::pause(e);
  }
}

TEST_F(SequencerTest, TempoBeforeTheSongHasOneIsOnlyKept) {
  e.initialTempo = 0;
  qmid::setTempo(e, 90);
  EXPECT_EQ(e.tempo, 90);
  EXPECT_EQ(e.tempoRatio, 1.0f);
  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(e.position, 20);
}

TEST_F(SequencerTest, RecordGoesOutInTheFirstTickThatReachesItsTime) {
  event(0, {0xC0, 5});
  event(20, {0xB0, 7, 100});
  event(21, {0x90, 60, 100});
  event(40, {0xB0, 10, 64});
  sysex(40, {0x7E, 0x7F, 0x09, 0x01, 0xF7});  // framed with F0 on the wire
  sysex(40, {0xF0, 0x41, 0x10, 0xF7});        // already a whole message: sent as it is
  event(40, {0x80, 60, 64});
  ready();
  ASSERT_EQ(qmid::start(e), 1);

  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short c00500", "short b00764"}));
  EXPECT_EQ(e.ended, 0);

  fake.midi.clearEntries();
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 903c64", "short b00a40", "long f07e7f0901f7", "long f04110f7",
                             "short 803c40"}));
  EXPECT_EQ(e.ended, 1);

  // The clock runs on after the last record; nothing more goes out.
  fake.midi.clearEntries();
  ASSERT_TRUE(fake.timer.fire(5));
  EXPECT_EQ(e.position, 140);
  EXPECT_TRUE(sent().empty());
}

TEST_F(SequencerTest, LyricCuesFollowTheClockButNeverLineZero) {
  karaoke();
  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_EQ(cues(), (Cues{cue(0, &e)}));

  std::vector<TimedCue> seen;
  std::size_t known = 1;
  while (e.position < 8000) {
    ASSERT_TRUE(fake.timer.fire());
    const Cues now = cues();
    for (std::size_t i = known; i < now.size(); ++i) seen.push_back(TimedCue{now[i], e.position});
    known = now.size();
  }
  const std::vector<TimedCue> expected = {
      {cue(1, &e.lines[1]), 1000},
      {cue(2, &e.lines[2]), 6000},
      {cue(QMID_CUE_SYLLABLE, &e.syllables[2]), 6000},
      {cue(QMID_CUE_SYLLABLE, &e.syllables[3]), 6500},
      {cue(QMID_CUE_SYLLABLE, &e.syllables[4]), 7000},
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(SequencerTest, NotesAreTransposedOutsideTheDrumChannel) {
  event(0, {0x90, 60, 100});
  event(0, {0x99, 60, 80});
  event(0, {0xA0, 60, 32});  // key pressure keeps its key
  event(0, {0x91, 64, 96});
  event(0, {0x91, 65, 0});  // velocity 0: still a note-on for the meter and the key table
  event(40, {0x80, 60, 64});
  event(40, {0x89, 60, 64});
  ready();
  qmid::setKey(e, 2);
  EXPECT_EQ(e.keyOffset, 2);
  fake.midi.clearEntries();
  ASSERT_EQ(qmid::start(e), 1);

  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 903e64", "short 993c50", "short a03c20", "short 914260",
                             "short 914300"}));
  EXPECT_EQ(e.noteOn[0][62], 1);
  EXPECT_EQ(e.noteOn[0][60], 0);
  EXPECT_EQ(e.noteOn[9][60], 1);
  EXPECT_EQ(e.noteOn[1][66], 1);
  EXPECT_EQ(e.noteOn[1][67], 1);
  EXPECT_EQ(keysMarked(), 4);
  EXPECT_EQ(e.levels[0], 100);
  EXPECT_EQ(e.levels[19], 80);
  EXPECT_EQ(e.levels[1], 0);

  fake.midi.clearEntries();
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 803e40", "short 893c40"}));
  EXPECT_EQ(e.noteOn[0][62], 0);
  EXPECT_EQ(e.noteOn[9][60], 0);
  EXPECT_EQ(keysMarked(), 2);
  EXPECT_EQ(e.levels[0], 0);
  EXPECT_EQ(e.levels[19], 0);
}

TEST_F(SequencerTest, NoteTransposedOutOfRangeIsLeftOut) {
  struct Case {
    std::int32_t offset;
    std::uint8_t inRange;  // the key of a note that still fits
    std::uint8_t outOfRange;
    const char* sentOn;
  };
  const Case cases[] = {{10, 100, 120, "short 906e32"}, {-70, 100, 60, "short 901e32"},
                        {1, 126, 127, "short 907f32"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    fresh();
    event(0, {0x90, c.inRange, 50});
    event(0, {0x90, c.outOfRange, 90});
    event(40, {0x80, c.outOfRange, 64});
    ready();
    qmid::setKey(e, c.offset);
    fake.midi.clearEntries();
    ASSERT_EQ(qmid::start(e), 1);

    ASSERT_TRUE(fake.timer.fire());
    EXPECT_EQ(sent(), (Strings{c.sentOn}));
    EXPECT_EQ(e.levels[0], 50);
    EXPECT_EQ(keysMarked(), 1);

    fake.midi.clearEntries();
    ASSERT_TRUE(fake.timer.fire());
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(e.levels[0], 50);
    EXPECT_EQ(keysMarked(), 1);
    EXPECT_EQ(e.ended, 1);
  }
}

TEST_F(SequencerTest, EachNoteFeedsItsMeterBand) {
  struct Case {
    int channel;
    int key;
    int band;
  };
  std::vector<Case> cases;
  for (int c = 0; c < 16; ++c)
    if (c != 9) cases.push_back({c, 60, c < 9 ? c : c - 1});
  for (int key : {35, 36}) cases.push_back({9, key, 15});
  for (int key : {42, 44, 46}) cases.push_back({9, key, 16});
  for (int key : {41, 43, 45, 47, 48, 50}) cases.push_back({9, key, 17});
  for (int key : {38, 40}) cases.push_back({9, key, 18});
  for (int key : {0, 34, 37, 39, 49, 51, 60, 127}) cases.push_back({9, key, 19});

  for (const Case& c : cases) {
    SCOPED_TRACE("channel " + std::to_string(c.channel) + " key " + std::to_string(c.key));
    fresh();
    event(0, {static_cast<std::uint8_t>(0x90 | c.channel), static_cast<std::uint8_t>(c.key), 77});
    event(40, {static_cast<std::uint8_t>(0x80 | c.channel), static_cast<std::uint8_t>(c.key), 64});
    ready();
    ASSERT_EQ(qmid::start(e), 1);
    ASSERT_TRUE(fake.timer.fire());
    std::vector<int> expected(qmid::kBands, 0);
    expected[c.band] = 77;
    EXPECT_EQ(levels(), expected);
    ASSERT_TRUE(fake.timer.fire());
    EXPECT_EQ(levels(), std::vector<int>(qmid::kBands, 0));
  }
}

TEST_F(SequencerTest, SeekChasesEverythingButNotes) {
  event(0, {0xC0, 5});
  event(0, {0x90, 60, 100});
  event(100, {0xB0, 7, 100});
  event(100, {0x91, 62, 100});
  event(200, {0xE0, 0, 64});
  sysex(300, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  sysex(350, {0xF0, 0x41, 0x10, 0xF7});
  event(400, {0x80, 60, 64});
  event(1000, {0x90, 62, 100});
  event(1000, {0xC0, 6});
  ready();

  EXPECT_EQ(qmid::seek(e, 500), 1);
  EXPECT_EQ(sent(), (Strings{"short c00500", "short b00764", "short e00040", "long f07e7f0901f7",
                             "long f04110f7"}));
  EXPECT_EQ(e.position, 400);  // the last record at or before the target
  EXPECT_EQ(e.seeking, 0);
  EXPECT_EQ(e.ended, 0);
  EXPECT_EQ(keysMarked(), 0);
  EXPECT_EQ(levels(), std::vector<int>(qmid::kBands, 0));
  EXPECT_TRUE(cues().empty());  // no lyrics, so no seek cues either

  fake.midi.clearEntries();
  ASSERT_EQ(qmid::start(e), 1);
  EXPECT_TRUE(cues().empty());  // the clock is not at 0: no start cue
  ASSERT_TRUE(fake.timer.fire(29));
  EXPECT_TRUE(sent().empty());
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short 903e64", "short c00600"}));
}

TEST_F(SequencerTest, SeekPostsOnlyItsOwnCues) {
  karaoke();
  const LyricLine* line = e.lines;
  const LyricSyllable* syllable = e.syllables;
  struct Case {
    std::uint32_t target;
    std::int32_t position;
    Cues cues;  // those of the seek, then the start cue if the clock landed on 0
  };
  const Case cases[] = {
      {100, 0, {cue(100000, &line[0]), cue(QMID_CUE_SEEK_SYLLABLE, &syllable[0]), cue(0, &e)}},
      {6600,
       6200,
       {cue(100001, &line[1]), cue(QMID_CUE_SEEK_SYLLABLE, &syllable[3]), cue(2, &line[2])}},
      {7100, 6200, {cue(100002, &line[2]), cue(QMID_CUE_SEEK_SYLLABLE, &syllable[4])}},
      {38000, 7500, {cue(100002, &line[2]), cue(QMID_CUE_SEEK_SYLLABLE, &syllable[4])}},
      {40500, 7500, {}},  // every line has been passed
      {200, 200, {cue(100000, &line[0]), cue(QMID_CUE_SEEK_SYLLABLE, &syllable[0])}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    qmid::pause(e);
    fake.windows.clearPosted();
    EXPECT_EQ(qmid::seek(e, c.target), 1);
    EXPECT_EQ(e.position, c.position);
    ASSERT_EQ(qmid::start(e), 1);
    EXPECT_EQ(cues(), c.cues);
  }
}

TEST_F(SequencerTest, SeekPastTheLastRecordEndsAtTheNextTick) {
  event(0, {0xC0, 5});
  event(300, {0xB0, 7, 1});
  ready();
  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_TRUE(fake.timer.fire(20));
  ASSERT_EQ(e.ended, 1);

  qmid::pause(e);
  fake.midi.clearEntries();
  EXPECT_EQ(qmid::seek(e, 100000), 1);
  EXPECT_EQ(e.position, 300);
  EXPECT_EQ(sent(), (Strings{"short c00500", "short b00701"}));
  ASSERT_EQ(qmid::start(e), 1);
  EXPECT_EQ(e.ended, 0);

  fake.midi.clearEntries();
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(e.ended, 1);
  EXPECT_EQ(e.position, 320);
  EXPECT_TRUE(sent().empty());
}

TEST_F(SequencerTest, StopAndPauseSilenceTheOutput) {
  event(0, {0x90, 60, 100});
  event(5000, {0x80, 60, 64});
  ready();

  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_TRUE(fake.timer.fire());
  fake.midi.clearEntries();
  fake.windows.clearPosted();
  EXPECT_EQ(qmid::pause(e), 1);
  EXPECT_FALSE(fake.timer.running());
  EXPECT_EQ(e.timerId, 0u);
  EXPECT_EQ(fake.midi.entries(), silenced());
  EXPECT_TRUE(cues().empty());
  EXPECT_EQ(e.ended, 0);

  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_TRUE(fake.timer.fire());
  fake.midi.clearEntries();
  EXPECT_EQ(qmid::stop(e), 1);
  EXPECT_FALSE(fake.timer.running());
  EXPECT_EQ(fake.midi.entries(), silenced());
  EXPECT_EQ(cues(), (Cues{cue(0, nullptr), cue(1, nullptr)}));
  EXPECT_EQ(e.ended, 1);
}

TEST_F(SequencerTest, SetKeySilencesWhileTheTimerRuns) {
  event(0, {0x90, 60, 100});
  event(0, {0x90, 64, 100});
  event(100, {0x90, 67, 100});
  ready();
  ASSERT_EQ(qmid::start(e), 1);
  ASSERT_TRUE(fake.timer.fire());
  fake.midi.clearEntries();

  qmid::setKey(e, -3);
  EXPECT_EQ(fake.midi.entries(), silenced());
  EXPECT_EQ(fake.sleep.sleeps, 0);
  EXPECT_TRUE(fake.timer.running());
  EXPECT_EQ(fake.timer.kills, 0);

  fake.midi.clearEntries();
  ASSERT_TRUE(fake.timer.fire(4));
  EXPECT_EQ(sent(), (Strings{"short 904064"}));  // 67 - 3
}

TEST_F(SequencerTest, WaitIdleGivesUpAfterElevenSleeps) {
  qmid::waitIdle(e);
  EXPECT_EQ(fake.sleep.sleeps, 0);

  e.busy = 1;
  qmid::waitIdle(e);
  EXPECT_EQ(fake.sleep.sleeps, 11);
  EXPECT_EQ(fake.sleep.total, 1100u);

  // Pause still silences the output after giving up.
  fake.midi.clearEntries();
  EXPECT_EQ(qmid::pause(e), 1);
  EXPECT_EQ(fake.sleep.sleeps, 22);
  EXPECT_EQ(fake.midi.entries(), silenced());
  e.busy = 0;
}

TEST_F(SequencerTest, EmptySongEndsAtTheFirstTick) {
  ready();
  ASSERT_EQ(qmid::start(e), 1);
  EXPECT_EQ(e.ended, 0);
  ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(e.ended, 1);
  EXPECT_EQ(e.position, 20);
  EXPECT_TRUE(sent().empty());
}

TEST_F(SequencerTest, StartWithoutATimerLeavesEndedAsItWas) {
  event(0, {0xC0, 5});
  ready();
  fake.timer.failStart = true;
  for (std::int32_t ended : {0, 1}) {
    SCOPED_TRACE(ended);
    e.ended = ended;
    EXPECT_EQ(qmid::start(e), QMID_ERR_TIMER);
    EXPECT_EQ(e.ended, ended);
    EXPECT_EQ(e.timerId, 0u);
  }
  fake.timer.failStart = false;
  EXPECT_EQ(qmid::start(e), 1);
  EXPECT_EQ(e.ended, 0);
  EXPECT_NE(e.timerId, 0u);

  // A second start replaces the running timer.
  EXPECT_EQ(qmid::start(e), 1);
  EXPECT_EQ(fake.timer.kills, 1);
  EXPECT_TRUE(fake.timer.running());
}

// A timer whose first tick comes before start() has returned, as a real one may.
class EagerTimer : public platform::TimerService {
 public:
  std::uint32_t start(std::uint32_t, platform::TimerCallback callback, void* user) override {
    callback(user);
    return 7;
  }
  void kill(std::uint32_t) override {}
};

TEST_F(SequencerTest, TickThatEndsTheSongDuringStartIsNotLost) {
  ready();  // no records: the first tick ends the song
  EagerTimer eager;
  platform::Services withEager = platform::services();
  withEager.timer = &eager;
  const platform::Services previous = platform::install(withEager);
  EXPECT_EQ(qmid::start(e), 1);
  EXPECT_EQ(e.ended, 1);
  qmid::pause(e);
  platform::install(previous);
}

TEST_F(SequencerTest, ClosedWindowGetsNoCuesAndPlayGoesOn) {
  karaoke();
  ASSERT_EQ(qmid::start(e), 1);
  while (e.position < 1000) ASSERT_TRUE(fake.timer.fire());
  ASSERT_EQ(cues(), (Cues{cue(0, &e), cue(1, &e.lines[1])}));

  fake.windows.destroy(window);
  fake.midi.clearEntries();
  while (e.position < 8000) ASSERT_TRUE(fake.timer.fire());
  EXPECT_EQ(sent(), (Strings{"short b00750", "short b0075a"}));
  qmid::stop(e);
  EXPECT_EQ(cues().size(), 2u);
}

}  // namespace
