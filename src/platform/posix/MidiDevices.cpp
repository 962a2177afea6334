// The device table and the choice by QMID_MIDI_OUT.
#include "MidiDevices.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "NullMidiOutput.h"
#include "SmfRecorder.h"
#include "fluidsynth/SynthLibrary.h"

namespace platform {

namespace {

// The folder of the shared object (or program) that holds the device table.
std::string ownFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ownFolder), &info) || !info.dli_fname) return std::string();
  const std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string lastDlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// Loads the synthesizer library once (never unloaded: its synthesizer lives to the exit),
// next to this code first, then by the system's search.
SynthOpenFunction synthEntry(std::string& why) {
  static std::mutex mutex;
  static SynthOpenFunction entry = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (entry) return entry;
  void* library = nullptr;
  std::string reason;
  const std::string beside = ownFolder() + kSynthLibrary;
  if (::access(beside.c_str(), F_OK) == 0) {
    library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    // There but unusable (a missing dependency, say): that is the reason worth telling.
    if (!library) reason = lastDlError();
  }
  if (!library) {
    library = dlopen(kSynthLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library && reason.empty()) reason = lastDlError();
  }
  if (!library) {
    why = "cannot load the synthesizer: " + reason;
    return nullptr;
  }
  entry = reinterpret_cast<SynthOpenFunction>(dlsym(library, kSynthOpenSymbol));
  if (!entry) why = "cannot load the synthesizer: " + lastDlError();
  return entry;
}

std::unique_ptr<MidiOutput> openSynth(const char* wavPath, std::string& why) {
  const SynthOpenFunction open = synthEntry(why);
  if (!open) return nullptr;
  char reason[512] = "";
  std::unique_ptr<MidiOutput> port(open(wavPath, reason, sizeof reason));
  if (!port) why = reason[0] ? reason : "the synthesizer cannot be opened";
  return port;
}

const MidiDevice kDevices[] = {
    {"synth", "synth", [](const std::string&, std::string& why) {
       return openSynth(nullptr, why);
     }},
    {"null", "null", [](const std::string&, std::string&) -> std::unique_ptr<MidiOutput> {
       return std::make_unique<NullMidiOutput>();
     }},
    {"smf", "smf:PATH", &SmfRecorder::open},
    {"wav", "wav:PATH", [](const std::string& path, std::string& why) -> std::unique_ptr<MidiOutput> {
       if (path.empty()) {
         why = "the wav output needs a file: QMID_MIDI_OUT=wav:PATH";
         return nullptr;
       }
       return openSynth(path.c_str(), why);
     }},
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
