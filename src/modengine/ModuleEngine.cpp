// The play-mode machine of QMOD over the plug-in binding: each function checks its mode,
// calls the plug-in and moves the mode.
#include "ModuleEngine.h"

namespace qmod {

ModuleEngine& theEngine() {
  static ModuleEngine engine{MCI_MODE_NOT_READY, nullptr, 0};
  return engine;
}

std::int32_t open(void* window, const char* path, const ModuleSettings* settings) {
  ModuleEngine& e = theEngine();
  if (e.mode != MCI_MODE_NOT_READY) return 0;
  const std::int32_t bound = bindAndCreate(e, window, settings);
  if (bound != 1) {
    closeRoutine();
    return bound;
  }
  // A missing path would be dereferenced inside the plug-in: it cannot name a module.
  if (!path || modplug::load(e.instance, path) == 0) {
    closeRoutine();
    return QMOD_ERR_LOAD;
  }
  e.mode = MCI_MODE_OPEN;
  e.length = toPlayerUnits(modplug::getMaxPosition(e.instance));
  return 1;
}

void closeRoutine() noexcept {
  ModuleEngine& e = theEngine();
  release(e);
  e.mode = MCI_MODE_NOT_READY;
}

std::int32_t close() noexcept {
  if (theEngine().mode != MCI_MODE_NOT_READY) closeRoutine();
  return 1;
}

std::int32_t play() noexcept {
  ModuleEngine& e = theEngine();
  if (e.mode != MCI_MODE_OPEN && e.mode != MCI_MODE_STOP && e.mode != MCI_MODE_PAUSE) return 0;
  if (!e.instance) return 0;
  if (modplug::play(e.instance) == 0) return QMOD_ERR_PLAY;
  e.mode = MCI_MODE_PLAY;
  return 1;
}

std::int32_t pause() noexcept {
  ModuleEngine& e = theEngine();
  if (e.mode != MCI_MODE_PLAY || !e.instance) return 0;
  modplug::stop(e.instance);  // keeps the position: a later play continues from it
  e.mode = MCI_MODE_PAUSE;
  return 1;
}

std::int32_t resume() noexcept {
  ModuleEngine& e = theEngine();
  if (e.mode != MCI_MODE_PAUSE || !e.instance) return 0;
  modplug::play(e.instance);
  e.mode = MCI_MODE_PLAY;
  return 1;
}

std::int32_t stop() noexcept {
  ModuleEngine& e = theEngine();
  if ((e.mode != MCI_MODE_PLAY && e.mode != MCI_MODE_PAUSE) || !e.instance) return 0;
  modplug::stop(e.instance);
  modplug::setCurrentPosition(e.instance, 0);
  e.mode = MCI_MODE_STOP;
  return 1;
}

std::int32_t seek(std::uint32_t position) noexcept {
  ModuleEngine& e = theEngine();
  if ((e.mode != MCI_MODE_PLAY && e.mode != MCI_MODE_PAUSE) || !e.instance) return 0;
  modplug::setCurrentPosition(e.instance, static_cast<std::int32_t>(position / 100u));
  return 1;
}

std::int32_t getMode() noexcept {
  ModuleEngine& e = theEngine();
  // The plug-in stops by itself at the end of the module; this poll is the only place that
  // notices, and it leaves the module rewound as Stop would.
  if (e.instance && modplug::isPlaying(e.instance) == 0 && e.mode == MCI_MODE_PLAY) stop();
  return e.mode;
}

std::int32_t getPosition() noexcept {
  ModuleEngine& e = theEngine();
  if (e.mode == MCI_MODE_NOT_READY || !e.instance) return 0;
  return toPlayerUnits(modplug::getCurrentPosition(e.instance));
}

std::int32_t getLength() noexcept {
  const ModuleEngine& e = theEngine();
  return e.mode == MCI_MODE_NOT_READY ? 0 : e.length;
}

std::int32_t isOpen() noexcept {
  return theEngine().mode != MCI_MODE_NOT_READY ? 1 : 0;
}

std::int32_t getFileInfo(char* buffer, std::int32_t size) noexcept {
  if (buffer && size > 0) buffer[0] = '\0';
  const ModuleEngine& e = theEngine();
  if (e.mode == MCI_MODE_NOT_READY) return 0;
  return e.instance ? 1 : 0;
}

}  // namespace qmod
