// MIDI messages as the synthesizer's calls.
#pragma once

#include <fluidsynth.h>

#include <cstddef>
#include <cstdint>

namespace synth {

// A packed message: status in bits 0-7, data bytes in bits 8-15 and 16-23.
void playShort(fluid_synth_t* synth, std::uint32_t message);
// An exclusive message, with or without its F0 ... F7 framing.
void playExclusive(fluid_synth_t* synth, const std::uint8_t* bytes, std::size_t count);
// All notes and sounds off on every channel.
void silence(fluid_synth_t* synth);

}  // namespace synth
