// What the reader's operations do when a subclass leaves them alone.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MergedMidiReader.h"
#include "MidiFileReader.h"
#include "SmfBuilder.h"

namespace {

using midifile::MidiFileReader;
using smf::Bytes;
using smf::Track;

// Owns a copy of the bytes for a reader built over memory.
template <class Reader>
class Over : public Reader {
 public:
  explicit Over(const Bytes& bytes) : Over(bytes, copy(bytes)) {}

 private:
  Over(const Bytes& bytes, void* block)
      : Reader(block, static_cast<std::int32_t>(bytes.size()), true) {}
  static void* copy(const Bytes& bytes) {
    void* block = std::malloc(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    return block;
  }
};

class ControllerOnly : public Over<MidiFileReader> {
 public:
  using Over::Over;
  std::vector<std::array<int, 3>> seen;
  void onController(int channel, int controller, int value) override {
    seen.push_back({channel, controller, value});
  }
};

const Bytes kOneNote = smf::song(0, 96, {Track().noteOn(0, 0, 60, 100)});

TEST(Callbacks, ControllerOperationsForwardWithTheirNumber) {
  struct Forwarder {
    const char* name;
    void (MidiFileReader::*operation)(int, int);
    int controller;
  };
  const Forwarder forwarders[] = {
      {"onBankSelectMsb", &MidiFileReader::onBankSelectMsb, 0},
      {"onModulation", &MidiFileReader::onModulation, 1},
      {"onBreath", &MidiFileReader::onBreath, 2},
      {"onFootController", &MidiFileReader::onFootController, 4},
      {"onPortamentoTime", &MidiFileReader::onPortamentoTime, 5},
      {"onDataEntryMsb", &MidiFileReader::onDataEntryMsb, 6},
      {"onVolume", &MidiFileReader::onVolume, 7},
      {"onPan", &MidiFileReader::onPan, 10},
      {"onExpression", &MidiFileReader::onExpression, 11},
      {"onBankSelectLsb", &MidiFileReader::onBankSelectLsb, 32},
      {"onSustain", &MidiFileReader::onSustain, 64},
      {"onReverbDepth", &MidiFileReader::onReverbDepth, 91},
      {"onChorusDepth", &MidiFileReader::onChorusDepth, 93},
      {"onDataIncrement", &MidiFileReader::onDataIncrement, 96},
      {"onDataDecrement", &MidiFileReader::onDataDecrement, 97},
      {"onRpnLsb", &MidiFileReader::onRpnLsb, 100},
      {"onRpnMsb", &MidiFileReader::onRpnMsb, 101},
  };
  int i = 0;
  for (const Forwarder& f : forwarders) {
    SCOPED_TRACE(f.name);
    ControllerOnly reader(kOneNote);
    const int channel = i % 16, value = 127 - i;
    (reader.*f.operation)(channel, value);
    EXPECT_EQ(reader.seen, (std::vector<std::array<int, 3>>{{channel, f.controller, value}}));
    ++i;
  }
}

TEST(Callbacks, ControllerOnlySubclassSeesDecodedControllers) {
  ControllerOnly reader(smf::song(0, 96,
                                  {Track()
                                       .event(0, {0xB3, 0x07, 0x64})
                                       .event(0, {0xB3, 0x0A, 0x40})
                                       .event(0, {0xB3, 0x65, 0x05})
                                       .event(0, {0xB3, 0x65, 0x00})
                                       .event(0, {0xB3, 0x03, 0x01})}));
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.seen, (std::vector<std::array<int, 3>>{
                             {3, 7, 100}, {3, 10, 64}, {3, 101, 5}, {3, 101, 0}, {3, 3, 1}}));
}

// The default pitch-bend range replays the three messages as they stand in the file, zero
// deltas included, without moving the clock.
class ControllerAndDelta : public Over<MidiFileReader> {
 public:
  using Over::Over;
  std::vector<std::string> log;
  void onController(int channel, int controller, int value) override {
    add("ctl " + std::to_string(channel) + " " + std::to_string(controller) + " " +
        std::to_string(value));
  }
  void onDeltaTime(std::uint32_t ticks) override { add("delta " + std::to_string(ticks)); }
  void onNoteOn(int, int key, int) override { add("note " + std::to_string(key)); }

 private:
  void add(const std::string& what) {
    log.push_back(what + " @" + std::to_string(trackTicks) + "/" +
                  std::to_string(trackMilliseconds));
  }
};

TEST(Callbacks, DefaultPitchBendRangeReplaysTheSequence) {
  ControllerAndDelta reader(smf::song(0, 96,
                                      {Track()
                                           .event(5, {0xB2, 0x65, 0x00})
                                           .event(0, {0xB2, 0x64, 0x00})
                                           .event(0, {0xB2, 0x06, 0x0C})
                                           .noteOn(10, 2, 60, 100)}));
  ASSERT_EQ(reader.readFile(), 1);
  // Division 96, 500000 us per quarter: 5 ticks are 26 ms, 15 ticks 78 ms.
  EXPECT_EQ(reader.log,
            (std::vector<std::string>{"delta 5 @0/0", "ctl 2 101 0 @5/26", "delta 0 @5/26",
                                      "ctl 2 100 0 @5/26", "delta 0 @5/26", "ctl 2 6 12 @5/26",
                                      "delta 10 @5/26", "note 60 @15/78"}));
}

// A subclass that overrides nothing: the only output is the default error and warning texts.
template <class Reader>
void expectSilentExceptReports() {
  const Bytes file = smf::song(1, 96,
                               {Track()
                                    .tempo(0, 400000)
                                    .text(0, 0x03, "Name")
                                    .event(0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08})
                                    .event(0, {0xFF, 0x59, 0x02, 0x00, 0x00})
                                    .event(0, {0xFF, 0x54, 0x05, 0x61, 0x00, 0x00, 0x00, 0x00})
                                    .event(0, {0xFF, 0x7F, 0x01, 0x00})
                                    .event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                    .event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7})
                                    .noteOn(1, 0, 60, 100)
                                    .noteOff(0, 0, 60)
                                    .event(0, {0xA0, 0x3C, 0x10})
                                    .event(0, {0xB0, 0x07, 0x80})
                                    .event(0, {0xB0, 0x03, 0x10})
                                    .event(0, {0xB0, 0x65, 0x00})
                                    .event(0, {0xB0, 0x64, 0x00})
                                    .event(0, {0xB0, 0x06, 0x02})
                                    .event(1, {0xC0, 0x80})
                                    .event(0, {0xD0, 0x40})
                                    .event(0, {0xE0, 0x00, 0x40})
                                    .event(2, {0xF2, 0x01, 0x02})
                                    .event(0, {0xF3, 0x01})
                                    .event(0, {0xF6})
                                    .event(0, {0xF8})
                                    .event(0, {0xFA})
                                    .event(0, {0xFB})
                                    .event(0, {0xFC})
                                    .event(0, {0xFE})
                                    .endOfTrack(0)
                                    .noteOn(0x1000000, 0, 61, 100),
                                Track().event(10, {0x40, 0x64})});
  Over<Reader> reader(file);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = reader.readFile();
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err,
            "warning: invalid control value used\n"
            "warning: invalid program used\n"
            "warning: Unrealistic large pause found\n"
            "error: illegal midi command 40\n");
}

TEST(Callbacks, PlainReaderOverridingNothingOnlyReports) {
  expectSilentExceptReports<MidiFileReader>();
}

TEST(Callbacks, MergedReaderOverridingNothingOnlyReports) {
  expectSilentExceptReports<midifile::MergedMidiReader>();
}

TEST(Callbacks, DefaultLargePauseWarnsWithoutTheTicks) {
  Over<MidiFileReader> reader(kOneNote);
  testing::internal::CaptureStderr();
  reader.onLargePause(0x1234567);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: Unrealistic large pause found\n");
}

}  // namespace
