// libFuzzer target of the MIDI file reader: every input is read by the merged and the plain
// reader, from memory and through the file window, with several routings, and the callbacks
// trap as soon as the reader breaks a promise its clients rely on.
#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "MergedMidiReader.h"
#include "MidiFileReader.h"

namespace {

using midifile::MergedMidiReader;
using midifile::MidiFileReader;

// libFuzzer may run with the target's standard error closed; the sanitizer report channel
// survives that, so the broken rule is named there before the trap.
[[noreturn]] __attribute__((noinline)) void broken(const char* rule) {
  char line[160];
  std::snprintf(line, sizeof line, "midifile_fuzz: broken rule: %s", rule);
  __sanitizer_report_error_summary(line);
  __builtin_trap();
}

#define REQUIRE(condition, rule)  \
  do {                            \
    if (!(condition)) broken(rule); \
  } while (0)

// The bytes every delivered pointer must agree with.
struct Input {
  const std::uint8_t* bytes;
  std::int32_t size;
  bool inPlace;  // a memory source hands out pointers into the caller's block
};

template <class Reader>
class Checked final : public Reader {
 public:
  template <class... Args>
  explicit Checked(const Input& input, Args... args) : Reader(args...), input_(input) {}

  int run(std::uint32_t flags) {
    this->routingFlags = flags;
    const int result = this->readFile();
    REQUIRE(result == 0 || result == 1, "readFile returns 1 or 0");
    REQUIRE(endOfFileCalls_ == result, "onEndOfFile comes exactly once, and only on success");
    REQUIRE(this->position >= 0, "position is never negative");
    return result;
  }

  void error(const char*) override {}
  void warning(const char*) override {}

  void onHeader(int format, int, int) override {
    REQUIRE(format >= 0 && format <= 2, "only formats 0, 1 and 2 are reported");
  }
  void onTrackStart(int trackNumber, std::uint32_t, int channel) override {
    REQUIRE(openTrack_ == 0, "a track starts only after the previous one ended");
    REQUIRE(channel >= -2 && channel <= 15, "the track channel is -2, -1 or a channel");
    openTrack_ = trackNumber;
    // Both readers start every clock over here: the plain one per track, the merged one
    // before its merge, after the last chunk header.
    clock_ = Clock{};
  }
  void onTrackEnd(int trackNumber) override {
    REQUIRE(openTrack_ == trackNumber, "onTrackEnd closes the track that started");
    openTrack_ = 0;
  }
  void onDeltaTime(std::uint32_t ticks) override {
    clock_.pendingTicks += ticks;
    if (this->timeDivisor != 0 && ticks != 0)
      clock_.millisecondBound += std::uint64_t{this->tempo} * ticks / this->timeDivisor + 1;
  }
  void onEndOfFile() override {
    REQUIRE(endOfFileCalls_ == 0, "onEndOfFile comes once");
    ++endOfFileCalls_;
  }
  void onLargePause(std::uint32_t ticks) override {
    REQUIRE(ticks >= 0x1000000, "a large pause is 2^24 ticks or more");
  }

  void onRawEventInSource(int, std::FILE* stream, std::int32_t position,
                          std::int32_t length) override {
    inSource(stream, position, length);
  }
  void onRawEvent(int status, std::int32_t count, const std::uint8_t* data) override {
    REQUIRE(status >= 0x80 && status <= 0xFF, "a raw event has a status byte");
    delivered(data, count);
  }
  void onMetaInSource(int, std::FILE* stream, std::int32_t position,
                      std::int32_t length) override {
    inSource(stream, position, length);
  }
  void onMeta(int type, std::int32_t length, const std::uint8_t* data) override {
    // A malformed key signature is the one payload handed over as a copy.
    delivered(data, length, type == 0x59 && length == 2);
  }
  void onText(int type, std::int32_t length, const char*, const std::uint8_t* data) override {
    REQUIRE(type >= 0x01 && type <= 0x0F, "text events are meta types 1 to 15");
    delivered(data, length);
  }
  void onEndOfTrack() override { event(); }
  void onChannelPrefix(int) override { event(); }
  void onPort(int) override { event(); }
  void onSequenceNumber(int) override { event(); }
  void onSmpteOffset(int, int, int, int, int, int) override { event(); }
  void onTimeSignature(int, std::uint32_t denominator, int, int) override {
    REQUIRE(denominator != 0 && (denominator & (denominator - 1)) == 0,
            "the time signature denominator is a power of two");
    event();
  }
  void onTempo(std::uint32_t microsecondsPerQuarter) override {
    REQUIRE(microsecondsPerQuarter == this->tempo, "onTempo reports the stored tempo");
    event();
  }
  void onKeySignature(int sharpsFlats, int minor) override {
    REQUIRE(sharpsFlats >= -7 && sharpsFlats <= 7 && (minor == 0 || minor == 1),
            "a key signature is reported only when valid");
    event();
  }
  // The controller operations without an override forward here, so this sees all of them.
  void onController(int channel, int, int) override { channelEvent(channel); }
  void onProgramChange(int channel, int) override { channelEvent(channel); }
  void onNoteOn(int channel, int, int velocity) override {
    REQUIRE(velocity > 0, "a note on has a velocity above 0");
    channelEvent(channel);
  }
  void onNoteOff(int channel, int, int) override { channelEvent(channel); }
  void onPitchBend(int channel, int) override { channelEvent(channel); }
  void onPolyPressure(int channel, int, int) override { channelEvent(channel); }
  void onChannelPressure(int channel, int) override { channelEvent(channel); }
  void onSongPosition(int) override { event(); }
  void onSongSelect(int) override { event(); }
  void onTuneRequest() override { event(); }
  void onClock() override { event(); }
  void onStart() override { event(); }
  void onContinue() override { event(); }
  void onStop() override { event(); }
  void onActiveSensing() override { event(); }
  void onSysexInSource(std::FILE* stream, std::int32_t position, std::int32_t length) override {
    inSource(stream, position, length);
  }
  void onSysex(std::int32_t length, const std::uint8_t* data) override { delivered(data, length); }
  void onXgSystemOn() override { event(); }
  void onGmSystemOn() override { event(); }
  void onGsReset() override { event(); }
  void onGsReset7F() override { event(); }

 private:
  struct Clock {
    std::uint32_t ticks = 0;
    std::uint32_t milliseconds = 0;
    std::uint64_t pendingTicks = 0;  // reported by onDeltaTime since the last event
    std::uint64_t millisecondBound = 0;  // most that those deltas may add at their tempos
    int lastTrack = 0;
    bool wrapped = false;
    bool seen[MergedMidiReader::kMaxTracks + 1] = {};
    std::uint32_t seenTick[MergedMidiReader::kMaxTracks + 1] = {};
  };

  // Everything an event operation may rely on: where the reader stands and what time it is.
  void event() {
    REQUIRE(endOfFileCalls_ == 0, "nothing is delivered after onEndOfFile");
    REQUIRE(this->eventStart >= 0 && this->eventStart <= this->position &&
                this->position <= this->size(),
            "an event lies inside the source");
    const int track = this->currentTrack;
    REQUIRE(track >= 1 && track <= this->trackCount, "currentTrack names a track of the file");
    // The plain reader reads one track at a time and may go past the merged reader's limit.
    const int slot = track <= MergedMidiReader::kMaxTracks ? track : 0;

    const std::uint32_t ticks = this->trackTicks;
    const std::uint32_t milliseconds = this->trackMilliseconds;
    REQUIRE(static_cast<std::uint32_t>(clock_.ticks + clock_.pendingTicks) == ticks,
            "the clock stands at the sum of the reported delta times");
    // Unsigned distance, so that a step back shows as a huge one.
    if (clock_.millisecondBound <= UINT32_MAX)
      REQUIRE(milliseconds - clock_.milliseconds <= clock_.millisecondBound,
              "milliseconds advance by no more than the tempo allows, and never back");

    // 32-bit tick sums may wrap on absurd files; only a track's own wrap may move time back,
    // and after one the order is that of the wrapped numbers, not checked further.
    if (clock_.seen[slot] && ticks < clock_.seenTick[slot]) clock_.wrapped = true;
    if (!clock_.wrapped && clock_.lastTrack != 0) {
      REQUIRE(ticks >= clock_.ticks, "events are delivered in tick order");
      REQUIRE(ticks != clock_.ticks || track >= clock_.lastTrack,
              "events of one tick come in track order");
    }
    clock_.seen[slot] = true;
    clock_.seenTick[slot] = ticks;
    clock_.lastTrack = track;
    clock_.ticks = ticks;
    clock_.milliseconds = milliseconds;
    clock_.pendingTicks = 0;
    clock_.millisecondBound = 0;
  }

  void channelEvent(int channel) {
    REQUIRE(channel >= 0 && channel <= 15, "channels are 0 to 15");
    event();
  }

  // Data handed over by pointer are the count bytes just consumed.
  void delivered(const std::uint8_t* data, std::int32_t count, bool copyAllowed = false) {
    event();
    REQUIRE(count >= 0, "a data length is not negative");
    if (count == 0) return;
    REQUIRE(data != nullptr, "data are present when their length is above 0");
    const std::int64_t start = std::int64_t{this->position} - count;
    REQUIRE(start >= 0, "the data lie before the read position");
    const std::uint8_t* begin = input_.bytes;
    const std::uint8_t* end = input_.bytes + input_.size;
    const bool inside = data >= begin && data <= end && count <= end - data;
    REQUIRE(!input_.inPlace || inside || copyAllowed, "a memory source's data lie in its block");
    REQUIRE(std::memcmp(data, begin + start, static_cast<std::size_t>(count)) == 0,
            "the data are the bytes of the source at their place");
  }

  void inSource(std::FILE* stream, std::int32_t position, std::int32_t length) {
    event();
    REQUIRE(stream == this->stream(), "an event left in the source names the source's stream");
    REQUIRE(position >= 0 && position <= this->size(), "an event left in the source starts in it");
    REQUIRE(length > 0, "an event left in the source has a length");
  }

  Input input_;
  Clock clock_;
  int openTrack_ = 0;
  int endOfFileCalls_ = 0;
};

// The routings worth telling apart: none, everything raw as the song loader reads, every
// controller to one operation, raw system exclusive and system messages.
constexpr std::uint32_t kRoutings[] = {
    0,
    0x7F8,
    midifile::kRouteAllControllers,
    midifile::kRouteSysexRaw | midifile::kRouteSystem,
};

template <class Reader>
void fromMemory(std::uint8_t* copy, std::int32_t size, std::uint32_t flags) {
  Checked<Reader> reader(Input{copy, size, true}, copy, size, false);
  reader.run(flags);
}

// Through the 1024-byte window, which moves under the reader on inputs larger than that.
template <class Reader>
void throughWindow(std::uint8_t* copy, std::int32_t size, std::uint8_t mode) {
  std::FILE* stream = fmemopen(copy, static_cast<std::size_t>(size), "rb");
  if (!stream) return;
  {
    Checked<Reader> reader(Input{copy, size, false}, nullptr, stream, mode);
    reader.run(0);
  }
  std::fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 1 << 24) return 0;
  const auto length = static_cast<std::int32_t>(size);
  // Exact size, so that any read past the end lands outside the allocation.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
  std::memcpy(copy.get(), data, size);

  for (std::uint32_t flags : kRoutings) {
    fromMemory<MergedMidiReader>(copy.get(), length, flags);
    fromMemory<MidiFileReader>(copy.get(), length, flags);
  }
  throughWindow<MergedMidiReader>(copy.get(), length, midifile::ByteSource::kWindowed);
  throughWindow<MidiFileReader>(copy.get(), length, midifile::ByteSource::kWindowed);
  throughWindow<MergedMidiReader>(copy.get(), length, midifile::ByteSource::kWholeFile);
  return 0;
}
