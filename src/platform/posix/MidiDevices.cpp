// The device table and the choice by QMID_MIDI_OUT.
#include "MidiDevices.h"

#include <cstdlib>

#include "NullMidiOutput.h"
#include "SmfRecorder.h"

namespace platform {

namespace {

const MidiDevice kDevices[] = {
    {"null", "null", [](const std::string&, std::string&) -> std::unique_ptr<MidiOutput> {
       return std::make_unique<NullMidiOutput>();
     }},
    {"smf", "smf:PATH", &SmfRecorder::open},
};

}  // namespace

const MidiDevice* midiDevices(std::size_t& count) {
  count = sizeof kDevices / sizeof kDevices[0];
  return kDevices;
}

std::unique_ptr<MidiOutput> openMidiDevice(const std::string& choice, std::string& why) {
  const std::string::size_type colon = choice.find(':');
  const std::string name = choice.empty() ? kDevices[0].name : choice.substr(0, colon);
  const std::string argument = colon == std::string::npos ? std::string() : choice.substr(colon + 1);
  for (const MidiDevice& device : kDevices) {
    if (name == device.name) return device.create(argument, why);
  }
  why = "unknown MIDI output \"" + choice + "\" in QMID_MIDI_OUT; this build has:";
  for (const MidiDevice& device : kDevices) why += std::string(" ") + device.usage;
  return nullptr;
}

std::unique_ptr<MidiOutput> DeviceTableMidiOutput::openDefault(std::string& why) {
  const char* choice = std::getenv("QMID_MIDI_OUT");
  return openMidiDevice(choice ? choice : "", why);
}

}  // namespace platform
