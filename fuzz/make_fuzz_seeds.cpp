// Writes the seed corpus of the reader's fuzzer: small files that between them reach every
// kind of event, both readers' track handling and the ways a file can be broken.
// Usage: make_fuzz_seeds DIRECTORY
#include <cstdio>
#include <string>
#include <vector>

#include "SmfBuilder.h"

namespace {

using smf::Bytes;
using smf::File;
using smf::Track;

std::string directory;
int failures = 0;

void write(const std::string& name, const Bytes& bytes) {
  const std::string path = directory + "/" + name;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", path.c_str());
    ++failures;
  }
  if (out) std::fclose(out);
}

Bytes prefix(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length < bytes.size() ? length : bytes.size()));
}

// Every channel message kind, with running status in between.
Track channelMessages(int channel) {
  const auto c = static_cast<std::uint8_t>(channel);
  Track t;
  t.event(0, {static_cast<std::uint8_t>(0xC0 | c), 0x13})
      .event(0, {static_cast<std::uint8_t>(0xB0 | c), 0x07, 0x64})
      .event(0, {0x0A, 0x20})  // running status
      .event(0, {static_cast<std::uint8_t>(0xB0 | c), 0x40, 0x7F})
      .noteOn(0, channel, 0x3C, 0x64)
      .event(96, {0x40, 0x64})  // running status
      .event(0, {0x3C, 0x00})   // note on with velocity 0
      .event(0, {static_cast<std::uint8_t>(0xA0 | c), 0x40, 0x30})
      .event(10, {static_cast<std::uint8_t>(0xD0 | c), 0x50})
      .event(10, {static_cast<std::uint8_t>(0xE0 | c), 0x00, 0x40})
      .noteOff(96, channel, 0x40);
  return t;
}

Bytes format0() {
  Track t = channelMessages(0);
  t.tempo(0, 400000).endOfTrack();
  return smf::song(0, 96, {t});
}

Bytes format1() {
  Track tempo;
  tempo.text(0, 0x03, "tempo map").tempo(0, 500000).tempo(192, 250000).tempo(384, 1000000)
      .endOfTrack();
  Track a = channelMessages(1);
  a.endOfTrack();
  Track b;
  b.noteOn(48, 2, 0x30, 0x50).event(48, {0x34, 0x50}).event(48, {0x37, 0x50})
      .noteOff(192, 2, 0x30).endOfTrack();
  return smf::song(1, 96, {tempo, a, b});
}

Bytes format2() {
  Track a = channelMessages(3);
  a.endOfTrack();
  Track b = channelMessages(4);
  b.endOfTrack();
  File file;
  file.header(2, 2, 480).track(a).track(b);
  return file;
}

Bytes systemExclusive() {
  Track t;
  t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})                                // GM on
      .sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})  // reset
      .sysex(0, {0x41, 0x17, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7})  // other device
      .sysex(0, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
      .sysex(0, {0x41, 0x20, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})  // no match
      .sysex(0, {0x7E, 0x7F, 0x09})                                            // pattern prefix
      .event(0, {0xF7, 0x02, 0x43, 0xF7})                                      // escape form
      .event(0, {0xF0, 0x7F, 0x01, 0x02, 0xF7})  // declared length past the track, F7 inside
      .endOfTrack();
  return smf::song(0, 96, {t});
}

Bytes metaEvents() {
  Track t;
  t.meta(0, 0x00, {0x00, 0x07});
  for (int type = 0x01; type <= 0x0F; ++type) t.text(0, type, "t" + std::to_string(type));
  t.meta(0, 0x20, {0x05})
      .meta(0, 0x21, {0x01})
      .meta(0, 0x51, {0x07, 0xA1, 0x20})
      .meta(0, 0x54, {0x61, 0x00, 0x00, 0x00, 0x00})
      .meta(0, 0x58, {0x06, 0x03, 0x18, 0x08})
      .meta(0, 0x59, {0xFD, 0x01})
      .meta(0, 0x59, {0x08, 0x00})  // out of range
      .meta(0, 0x7F, {0x00, 0x00, 0x41, 0x01})
      .meta(0, 0x00, {0x01, 0x02, 0x03})  // unexpected lengths
      .meta(0, 0x20, {})
      .meta(0, 0x51, {0x07, 0xA1})
      .meta(0, 0x2F, {})  // end of track in the middle
      .noteOn(0, 0, 0x3C, 0x40)
      .endOfTrack();
  return smf::song(0, 96, {t});
}

Bytes pitchBendRange() {
  Track t;
  t.event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C})
      .event(0, {0xB1, 0x65, 0x00}).event(0, {0x64, 0x00}).event(0, {0x06, 0x02})  // running
      .event(0, {0xB2, 0x65, 0x00}).event(1, {0xB2, 0x64, 0x00}).event(0, {0xB2, 0x06, 0x03})
      .event(0, {0xB3, 0x65, 0x01}).event(0, {0xB3, 0x64, 0x00}).event(0, {0xB3, 0x06, 0x04})
      .event(0, {0xB4, 0x65, 0x00})  // cut short by the end of the track
      .endOfTrack();
  return smf::song(0, 96, {t});
}

Bytes systemMessages() {
  Track t;
  t.event(0, {0xF2, 0x7F, 0x7F}).event(0, {0xF3, 0x05});
  for (std::uint8_t status : {0xF6, 0xF8, 0xFA, 0xFB, 0xFC, 0xFE}) t.event(1, {status});
  t.event(0, {0xF1});  // fails the read
  return smf::song(0, 96, {t});
}

// A wrapper in front of the header, which the reader skips by searching for it.
Bytes wrapped() {
  const Bytes song = format1();
  File inner;
  inner.raw({'R', 'M', 'I', 'D'}).chunk("data", song);
  File riff;
  riff.chunk("RIFF", inner);
  return riff;
}

Bytes largePause() {
  Track a;
  a.noteOn(0, 0, 0x3C, 0x40).event(0x0FFFFFFF, {0x80, 0x3C, 0x40}).endOfTrack();
  Track b;
  b.noteOn(0, 1, 0x40, 0x40).noteOff(9600, 1, 0x40).noteOn(9601, 1, 0x41, 0x40)
      .raw({0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x42, 0x40})  // five continuation bytes
      .endOfTrack();
  return smf::song(1, 480, {a, b});
}

Bytes manyTracks(int count) {
  File file;
  file.header(1, count, 96);
  for (int i = 0; i < count; ++i) {
    Track t;
    t.noteOn(static_cast<std::uint32_t>(i % 7), i % 16, 0x30 + i % 40, 0x40)
        .noteOff(static_cast<std::uint32_t>(i % 3), i % 16, 0x30 + i % 40)
        .endOfTrack();
    file.track(t);
  }
  return file;
}

// Larger than the 1024-byte window, with events that straddle its edges.
Bytes pastTheWindow() {
  Track t;
  t.text(0, 0x01, std::string(1100, 'x'));
  Bytes body(1500, 0x11);
  body.back() = 0xF7;
  t.sysex(0, body).meta(0, 0x7F, Bytes(700, 0x22));
  Track u = channelMessages(5);
  u.endOfTrack();
  return smf::song(1, 96, {t, u});
}

Bytes brokenChunks() {
  Track a = channelMessages(6);
  a.endOfTrack();
  File file;
  file.header(1, 3, 96)
      .track(a, static_cast<std::uint32_t>(a.data.size() + 3))  // overlaps the next chunk
      .track(a, 4)                                                // shorter than its events
      .chunk("XFIH", {0x00, 0x01})                                // not a track
      .track(a);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
    return 2;
  }
  directory = argv[1];

  write("format0.mid", format0());
  write("format1.mid", format1());
  write("format2.mid", format2());
  write("sysex.mid", systemExclusive());
  write("meta.mid", metaEvents());
  write("pitch-bend-range.mid", pitchBendRange());
  write("system.mid", systemMessages());
  write("riff-wrapper.rmi", wrapped());
  write("large-pause.mid", largePause());
  write("many-tracks.mid", manyTracks(64));
  write("past-the-window.mid", pastTheWindow());
  write("broken-chunks.mid", brokenChunks());

  const Bytes whole = format1();
  write("truncated-header.mid", prefix(whole, 11));
  write("truncated-event.mid", prefix(whole, whole.size() - 20));
  File zero;  // no clock at all: division 0
  zero.header(1, 2, 0).track(channelMessages(7)).track(channelMessages(8));
  write("division-zero.mid", zero);
  return failures == 0 ? 0 : 1;
}
