// The sixteen exports: each checks its mode guard, calls the engine and lets no exception out.
#include <new>

#include "Download.h"
#include "Player.h"

using qmid::playMode;
using qmid::theEngine;

namespace {

bool loaded() { return playMode() != MCI_MODE_NOT_READY; }

// While a download thread may still fill the song store and start the sequencer, the calls
// that read or change them are refused; once it is done, its writes are visible here.
bool songReady() { return loaded() && !qmid::downloadPending(); }

template <class Call>
std::int32_t guarded(Call call, std::int32_t onFailure) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return QMID_ERR_MEMORY;
  } catch (...) {
    return onFailure;
  }
}

}  // namespace

extern "C" {

QMID_API int32_t QMID_CALL QMIDEngine_IsOpen(void) { return loaded() ? 1 : 0; }

QMID_API int32_t QMID_CALL QMIDEngine_GetMode(void) {
  if (playMode() == MCI_MODE_PLAY && theEngine().ended) playMode() = MCI_MODE_STOP;
  return playMode();
}

QMID_API int32_t QMID_CALL QMIDEngine_GetPosition(void) {
  return loaded() ? theEngine().position.load() : 0;
}

QMID_API int32_t QMID_CALL QMIDEngine_GetLength(void) {
  return songReady() ? theEngine().songLength : 0;
}

QMID_API int32_t QMID_CALL QMIDEngine_Play(void* window, const char* source, int32_t callerId) {
  return guarded([&] { return qmid::play(window, source, callerId); }, QMID_ERR_DEVICE);
}

QMID_API int32_t QMID_CALL QMIDEngine_Pause(void) {
  if (playMode() != MCI_MODE_PLAY) return 0;
  playMode() = MCI_MODE_PAUSE;
  return guarded([] { return qmid::pause(theEngine()); }, 1);
}

QMID_API int32_t QMID_CALL QMIDEngine_Stop(void) {
  if (!loaded()) return 0;
  return guarded(
      [] {
        {
          std::unique_lock<std::mutex> lock = qmid::lockAgainstDownload();
          qmid::stop(theEngine());
          qmid::cancelDownload();
        }
        qmid::unloadSong();
        return 1;
      },
      1);
}

QMID_API int32_t QMID_CALL QMIDEngine_Resume(void) {
  if (playMode() != MCI_MODE_PAUSE) return 0;
  playMode() = MCI_MODE_PLAY;
  guarded([] { return qmid::start(theEngine()); }, 1);
  return 1;
}

QMID_API int32_t QMID_CALL QMIDEngine_Seek(uint32_t time) {
  if (!songReady()) return 0;
  guarded(
      [time] {
        qmid::pause(theEngine());
        qmid::seek(theEngine(), time);
        qmid::start(theEngine());
        return 1;
      },
      1);
  playMode() = MCI_MODE_PLAY;
  return 1;
}

QMID_API int32_t QMID_CALL QMIDEngine_GetTempo(void) { return loaded() ? theEngine().tempo.load() : 0; }

QMID_API void QMID_CALL QMIDEngine_SetTempo(int32_t beatsPerMinute) {
  if (songReady()) qmid::setTempo(theEngine(), beatsPerMinute);
}

QMID_API int32_t QMID_CALL QMIDEngine_GetKey(void) { return loaded() ? theEngine().keyOffset.load() : 0; }

QMID_API void QMID_CALL QMIDEngine_SetKey(int32_t semitones) {
  if (songReady()) guarded([semitones] { qmid::setKey(theEngine(), semitones); return 1; }, 1);
}

QMID_API int32_t QMID_CALL QMIDEngine_GetSpectrum(int32_t* bands) {
  if (!bands) return 0;
  for (int i = 0; i < qmid::kBands; ++i) bands[i] = 0;
  if (playMode() != MCI_MODE_PLAY) return 0;
  for (int i = 0; i < qmid::kBands; ++i) bands[i] = theEngine().levels[i] / 5;
  return 1;
}

QMID_API int32_t QMID_CALL QMIDEngine_IsKaraoke(void) {
  return songReady() && theEngine().lineCount > 1 ? 1 : 0;
}

QMID_API int32_t QMID_CALL QMIDEngine_GetFileInfo(char* buffer, int32_t size) {
  return qmid::fileInfo(theEngine(), songReady(), buffer, size);
}

}  // extern "C"
