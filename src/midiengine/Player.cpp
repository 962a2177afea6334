// Play, beginSong and unloadSong over the library's one engine object and play mode.
#include "Player.h"

#include <cstring>

#include "Download.h"

namespace qmid {

namespace {
MidiEngine engine;  // zero-filled static storage, cleared before first use by openOutput
std::atomic<std::int32_t> mode{MCI_MODE_NOT_READY};
std::atomic<std::int32_t> caller{0};
}  // namespace

MidiEngine& theEngine() { return engine; }
std::atomic<std::int32_t>& playMode() { return mode; }
std::atomic<std::int32_t>& callerId() { return caller; }

// A download thread may be loading or starting the song meanwhile: the stop and the cancel
// flag go in together between its steps, the thread is waited for, and the song store is
// released only once nothing else can touch it.
void unloadSong() {
  {
    std::unique_lock<std::mutex> lock = lockAgainstDownload();
    stop(engine);
    cancelDownload();
  }
  joinDownload();
  // The lock keeps the thread from starting after the cancel; this only makes sure that no
  // timer outlives the release.
  if (engine.timerId != 0) stop(engine);
  release(engine);
  mode = MCI_MODE_NOT_READY;
}

std::int32_t beginSong(platform::WindowHandle window, const char* source) {
  unloadSong();
  if (!openOutput(engine, window)) return QMID_ERR_DEVICE;
  if (source && std::strstr(source, "://")) return startDownload(window, source);
  return loadFile(engine, source);
}

std::int32_t play(platform::WindowHandle window, const char* source, std::int32_t id) {
  if (mode != MCI_MODE_NOT_READY) return 0;
  caller = id;
  std::int32_t result = beginSong(window, source);
  // A download has set the mode itself, before its thread could finish.
  if (result == QMID_LOADING) return result;
  if (result > 0) {
    mode = MCI_MODE_OPEN;
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
