// The engine's static state and the play-mode flow behind the exports: Play, beginSong and
// unloadSong. Tests and tools reach the engine object through here.
#pragma once

#include <atomic>
#include <cstdint>

#include "MidiEngine.h"

namespace qmid {

MidiEngine& theEngine();
std::atomic<std::int32_t>& playMode();
std::atomic<std::int32_t>& callerId();

std::int32_t play(platform::WindowHandle window, const char* source, std::int32_t caller);
std::int32_t beginSong(platform::WindowHandle window, const char* source);
void unloadSong();

}  // namespace qmid
