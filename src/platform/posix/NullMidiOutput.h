// A MIDI output that accepts everything and sounds nothing.
#pragma once

#include "Platform.h"

namespace platform {

class NullMidiOutput : public MidiOutput {
 public:
  void shortMessage(std::uint32_t) override {}
  void longMessage(const std::uint8_t*, std::size_t) override {}
  void reset() override {}
};

}  // namespace platform
