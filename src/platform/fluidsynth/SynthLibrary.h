// The one entry point of libqmidsynth.so. The device table loads that library on the first
// open of a synthesizer output, so that a host which never plays does not load the synthesizer
// and the dozens of libraries behind it.
#pragma once

#include <cstddef>

#include "Platform.h"

namespace platform {

// Opens the synthesizer as a MIDI output: to the audio device when wavPath is null, else
// rendering in real time into that WAV file. Null on failure, with the reason in why (cut to
// whySize, always terminated). Deleting the port closes it.
using SynthOpenFunction = MidiOutput* (*)(const char* wavPath, char* why, std::size_t whySize);

constexpr char kSynthLibrary[] = "libqmidsynth.so";
constexpr char kSynthOpenSymbol[] = "qmidSynthOpen";

}  // namespace platform
