// A large, dense, deterministic format 1 Standard MIDI File built in memory, for measuring
// the reader: a tempo track plus many note tracks with the usual mix of channel messages,
// system exclusive and lyrics. The same options always give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

struct LargeSmfOptions {
  // Track 1 holds the tempo map; the others are note tracks.
  int tracks = 50;
  // Song length in 4/4 bars; the defaults give about 10 MB and 3.5 million events.
  std::uint32_t bars = 940;
  std::uint64_t seed = 0x5EED0F5A11ADu;
};

struct LargeSmf {
  std::vector<std::uint8_t> bytes;
  // Every event written, end-of-track included; a reader that reports each of them once
  // reports this many.
  std::uint64_t events = 0;
  std::uint64_t tempoChanges = 0;
  std::uint32_t lengthTicks = 0;
};

LargeSmf makeLargeSmf(const LargeSmfOptions& options = {});

}  // namespace bench
