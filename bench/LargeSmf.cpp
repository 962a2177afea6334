// Writes the benchmark song byte by byte. Deltas stay within a few 32nd notes so that no gap
// in the merged stream comes near the merged reader's long-pause stop.
#include "LargeSmf.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

namespace bench {

namespace {

constexpr int kDivision = 96;
constexpr std::uint32_t kStep = kDivision / 8;  // a 32nd note
constexpr std::uint32_t kStepsPerBar = 32;
constexpr std::uint32_t kBar = kStep * kStepsPerBar;

// splitmix64: small, fast, and the same sequence on every platform.
class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  int between(int low, int high) {
    return low + static_cast<int>(next() % static_cast<std::uint64_t>(high - low + 1));
  }
  bool percent(int chance) { return static_cast<int>(next() % 100) < chance; }

 private:
  std::uint64_t state_;
};

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t bytes[4];
  int n = 0;
  do {
    bytes[n++] = static_cast<std::uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v != 0 && n < 4);
  while (n > 1) out.push_back(static_cast<std::uint8_t>(bytes[--n] | 0x80));
  out.push_back(bytes[0]);
}

// One MTrk chunk, written straight into the file; the length is patched in at the end.
class TrackWriter {
 public:
  TrackWriter(std::vector<std::uint8_t>& out, std::uint64_t& events)
      : out_(out), events_(events) {
    out_.insert(out_.end(), {'M', 'T', 'r', 'k'});
    lengthAt_ = out_.size();
    put32(out_, 0);
  }

  // Running status unless restate: the pitch-bend range idiom is only recognised with every
  // status byte written out.
  void channel(std::uint32_t tick, int status, int a, int b = -1, bool restate = false) {
    delta(tick);
    if (restate || status != running_) out_.push_back(static_cast<std::uint8_t>(status));
    running_ = status;
    out_.push_back(static_cast<std::uint8_t>(a));
    if (b >= 0) out_.push_back(static_cast<std::uint8_t>(b));
  }

  void meta(std::uint32_t tick, int type, std::initializer_list<std::uint8_t> data) {
    meta(tick, type, data.begin(), data.size());
  }

  void meta(std::uint32_t tick, int type, const std::uint8_t* data, std::size_t length) {
    delta(tick);
    out_.push_back(0xFF);
    out_.push_back(static_cast<std::uint8_t>(type));
    putVarLen(out_, static_cast<std::uint32_t>(length));
    out_.insert(out_.end(), data, data + length);
    running_ = -1;  // a careful writer restates the status after meta and sysex events
  }

  void text(std::uint32_t tick, int type, const std::string& text) {
    meta(tick, type, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }

  void sysex(std::uint32_t tick, std::initializer_list<std::uint8_t> bodyWithF7) {
    delta(tick);
    out_.push_back(0xF0);
    putVarLen(out_, static_cast<std::uint32_t>(bodyWithF7.size()));
    out_.insert(out_.end(), bodyWithF7);
    running_ = -1;
  }

  void finish(std::uint32_t tick) {
    meta(tick, 0x2F, {});
    const std::size_t length = out_.size() - lengthAt_ - 4;
    for (int i = 0; i < 4; ++i)
      out_[lengthAt_ + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  }

 private:
  void delta(std::uint32_t tick) {
    putVarLen(out_, tick - last_);
    last_ = tick;
    ++events_;
  }

  std::vector<std::uint8_t>& out_;
  std::uint64_t& events_;
  std::size_t lengthAt_ = 0;
  std::uint32_t last_ = 0;
  int running_ = -1;
};

void writeTempoTrack(TrackWriter& w, Prng& rng, std::uint32_t bars, std::uint64_t& tempoChanges) {
  w.text(0, 0x03, "Benchmark Song");
  w.meta(0, 0x58, {4, 2, 24, 8});
  w.meta(0, 0x59, {0, 0});
  int tempo = 500000;
  for (std::uint32_t quarter = 0; quarter < bars * 4; ++quarter) {
    const std::uint32_t tick = quarter * kDivision;
    if (quarter % 64 == 0) w.text(tick, 0x06, "Section " + std::to_string(quarter / 64 + 1));
    // A drifting tempo between 80 and 150 beats per minute.
    tempo = std::clamp(tempo + rng.between(-8000, 8000), 400000, 750000);
    w.meta(tick, 0x51, {static_cast<std::uint8_t>(tempo >> 16), static_cast<std::uint8_t>(tempo >> 8),
                        static_cast<std::uint8_t>(tempo)});
    ++tempoChanges;
  }
}

struct Role {
  int onsetPercent;
  int minChord, maxChord, maxVoices;
  int minSteps, maxSteps;  // note length
  int lowKey, highKey;
  int controllerPercent;
  int bendPercent;
  bool sustainPedal;
};

constexpr Role kMelody{80, 1, 1, 1, 1, 3, 60, 79, 2, 1, false};
constexpr Role kDrums{95, 1, 4, 8, 1, 1, 35, 57, 0, 0, false};
constexpr Role kArpeggio{95, 1, 3, 6, 1, 3, 55, 84, 2, 0, false};
constexpr Role kPad{40, 3, 5, 15, 4, 16, 48, 72, 6, 0, true};
constexpr Role kLead{90, 1, 2, 3, 1, 2, 64, 96, 3, 2, false};
constexpr Role kBass{70, 1, 1, 1, 1, 4, 28, 52, 2, 1, false};

const char* const kSyllables[] = {"la ", "lo", "ve ", "shi", "ning ", "in ",  "the ", "night ",
                                  "we ", "sing ", "a",  "long ", "to ", "geth", "er ", "now "};

struct Voice {
  std::uint32_t offTick;
  int key;
};

// noteTrack counts the note tracks from 0; the first one carries the lyrics.
void writeNoteTrack(TrackWriter& w, Prng& rng, int noteTrack, std::uint32_t bars) {
  const int ch = noteTrack % 16;
  const bool lyrics = noteTrack == 0;
  const Role& role = lyrics ? kMelody
                     : ch == 9 ? kDrums
                               : (noteTrack % 4 == 0   ? kArpeggio
                                  : noteTrack % 4 == 1 ? kPad
                                  : noteTrack % 4 == 2 ? kLead
                                                       : kBass);
  const int note = 0x90 | ch;
  const int control = 0xB0 | ch;

  w.text(0, 0x03, "Track " + std::to_string(noteTrack + 2));
  if (lyrics) w.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  w.channel(0, control, 0, 0);
  w.channel(0, control, 32, 0);
  w.channel(0, 0xC0 | ch, rng.between(0, 127));
  w.channel(0, control, 7, rng.between(80, 120));
  w.channel(0, control, 10, rng.between(20, 108));
  w.channel(0, control, 91, 40);
  w.channel(0, control, 93, 10);
  w.channel(0, control, 101, 0, true);
  w.channel(0, control, 100, 0, true);
  w.channel(0, control, 6, 2, true);

  std::vector<Voice> voices;
  int bendLeft = 0;
  int bend = 8192;
  int syllable = 0;
  const std::uint32_t steps = bars * kStepsPerBar;
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint32_t tick = step * kStep;
    const std::uint32_t inBar = step % kStepsPerBar;

    for (auto it = voices.begin(); it != voices.end();) {
      if (it->offTick <= tick) {
        w.channel(tick, note, it->key, 0);
        it = voices.erase(it);
      } else {
        ++it;
      }
    }

    if (inBar == 0 && step != 0 && ch != 9 && (step / kStepsPerBar) % 64 == 0)
      w.channel(tick, 0xC0 | ch, rng.between(0, 127));
    if (inBar == 0 && step % (32 * kStepsPerBar) == 0 && noteTrack % 8 == 5)
      w.sysex(tick, {0x7D, 0x01, static_cast<std::uint8_t>(noteTrack),
                     static_cast<std::uint8_t>((step / kStepsPerBar) & 0x7F), 0xF7});
    if (role.sustainPedal && inBar == 0) w.channel(tick, control, 64, 127);
    if (role.sustainPedal && inBar == kStepsPerBar - 1) w.channel(tick, control, 64, 0);

    if (rng.percent(role.onsetPercent)) {
      const int chord = rng.between(role.minChord, role.maxChord);
      const std::uint32_t off =
          tick + static_cast<std::uint32_t>(rng.between(role.minSteps, role.maxSteps)) * kStep;
      for (int n = 0; n < chord && static_cast<int>(voices.size()) < role.maxVoices; ++n) {
        const int key = rng.between(role.lowKey, role.highKey);
        if (std::any_of(voices.begin(), voices.end(), [key](const Voice& v) { return v.key == key; }))
          continue;
        if (lyrics) w.text(tick, 0x05, kSyllables[syllable++ % 16]);
        w.channel(tick, note, key, rng.between(40, 120));
        voices.push_back({off, key});
      }
    }

    if (rng.percent(role.controllerPercent))
      w.channel(tick, control, rng.percent(50) ? 1 : 11, rng.between(0, 127));

    if (bendLeft == 0 && rng.percent(role.bendPercent)) bendLeft = rng.between(4, 12);
    if (bendLeft > 0) {
      bend = --bendLeft == 0 ? 8192 : std::clamp(bend + rng.between(-1500, 1500), 0, 16383);
      w.channel(tick, 0xE0 | ch, bend & 0x7F, bend >> 7);
    }
  }

  const std::uint32_t end = steps * kStep;
  for (const Voice& v : voices) w.channel(end, note, v.key, 0);
  if (role.sustainPedal) w.channel(end, control, 64, 0);
}

}  // namespace

LargeSmf makeLargeSmf(const LargeSmfOptions& options) {
  LargeSmf smf;
  const int tracks = std::clamp(options.tracks, 1, 0xFFFF);
  smf.lengthTicks = options.bars * kBar;
  smf.bytes.reserve(static_cast<std::size_t>(tracks) * options.bars * 200 + 64);

  auto& out = smf.bytes;
  out.insert(out.end(), {'M', 'T', 'h', 'd'});
  put32(out, 6);
  put16(out, 1);
  put16(out, static_cast<std::uint32_t>(tracks));
  put16(out, kDivision);

  Prng rng(options.seed);
  for (int t = 0; t < tracks; ++t) {
    TrackWriter w(out, smf.events);
    if (t == 0)
      writeTempoTrack(w, rng, options.bars, smf.tempoChanges);
    else
      writeNoteTrack(w, rng, t - 1, options.bars);
    w.finish(smf.lengthTicks);
  }
  return smf;
}

}  // namespace bench
