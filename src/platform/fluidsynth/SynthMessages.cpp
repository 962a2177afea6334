// Maps channel and exclusive messages onto the synthesizer.
#include "SynthMessages.h"

namespace synth {

void playShort(fluid_synth_t* synth, std::uint32_t message) {
  const int status = message & 0xFF;
  const int channel = status & 0x0F;
  const int data1 = (message >> 8) & 0x7F;
  const int data2 = (message >> 16) & 0x7F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, channel, data1);
      break;
    case 0x90:
      if (data2 == 0) {
        fluid_synth_noteoff(synth, channel, data1);
      } else {
        fluid_synth_noteon(synth, channel, data1, data2);
      }
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, channel, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth, channel, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth, channel, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, channel, data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7);
      break;
    case 0xF0:
      if (status == 0xF0) {
        // A short exclusive message that the song stored in a short record.
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(message >> 8),
                                      static_cast<std::uint8_t>(message >> 16)};
        playExclusive(synth, bytes, sizeof bytes);
      }
      // Other system messages mean nothing to a synthesizer that keeps its own time.
      break;
    default:
      break;  // a data byte where a status belongs: not a message
  }
}

void playExclusive(fluid_synth_t* synth, const std::uint8_t* bytes, std::size_t count) {
  if (!bytes) return;
  // The synthesizer ignores an exclusive message that still carries its framing.
  if (count > 0 && bytes[0] == 0xF0) {
    ++bytes;
    --count;
  }
  if (count > 0 && bytes[count - 1] == 0xF7) --count;
  if (count == 0 || count > 0x7FFFFFFF) return;
  fluid_synth_sysex(synth, reinterpret_cast<const char*>(bytes), static_cast<int>(count), nullptr,
                    nullptr, nullptr, 0);
}

void silence(fluid_synth_t* synth) {
  fluid_synth_all_notes_off(synth, -1);
  fluid_synth_all_sounds_off(synth, -1);
}

}  // namespace synth
