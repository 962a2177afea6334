// Play, beginSong and unloadSong over the library's one engine object and play mode.
#include "Player.h"

#include <cstring>

namespace qmid {

namespace {
MidiEngine engine;  // zero-filled static storage, cleared before first use by openOutput
std::atomic<std::int32_t> mode{MCI_MODE_NOT_READY};
std::atomic<std::int32_t> caller{0};
}  // namespace

MidiEngine& theEngine() { return engine; }
std::atomic<std::int32_t>& playMode() { return mode; }
std::atomic<std::int32_t>& callerId() { return caller; }

void unloadSong() {
  stop(engine);
  release(engine);
  mode = MCI_MODE_NOT_READY;
}

std::int32_t beginSong(platform::WindowHandle window, const char* source) {
  unloadSong();
  if (!openOutput(engine, window)) return QMID_ERR_DEVICE;
  if (source && std::strstr(source, "://")) return QMID_ERR_NETWORK;  // downloads come later
  return loadFile(engine, source);
}

std::int32_t play(platform::WindowHandle window, const char* source, std::int32_t id) {
  if (mode != MCI_MODE_NOT_READY) return 0;
  caller = id;
  std::int32_t result = beginSong(window, source);
  if (result > 0) {
    mode = MCI_MODE_OPEN;
    if (result == QMID_LOADING) return result;
    result = start(engine);
    if (result > 0) {
      mode = MCI_MODE_PLAY;
      return result;
    }
  }
  unloadSong();
  return result;
}

}  // namespace qmid
