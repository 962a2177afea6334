// The MIDI output devices of this build, chosen by QMID_MIDI_OUT ("name" or "name:argument"):
// the synthesizer on the audio device (the default), null, a recording to a Standard MIDI
// File, and the synthesizer rendering to a WAV file.
#pragma once

#include <string>

#include "Platform.h"

namespace platform {

struct MidiDevice {
  const char* name;
  const char* usage;  // how the name is written, for messages
  std::unique_ptr<MidiOutput> (*create)(const std::string& argument, std::string& why);
};

// The table of devices; the first entry is the default.
const MidiDevice* midiDevices(std::size_t& count);

// Opens the device that a QMID_MIDI_OUT value names (empty: the default device).
std::unique_ptr<MidiOutput> openMidiDevice(const std::string& choice, std::string& why);

class DeviceTableMidiOutput : public MidiOutputService {
 public:
  std::unique_ptr<MidiOutput> openDefault(std::string& why) override;
};

}  // namespace platform
