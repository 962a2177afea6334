// The two engines behind one set of calls, so that the player loop does not care which of them
// plays the current source. Each call goes straight to the engine's exports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Sources.h"
#include "qwin.h"

namespace qplay {

class SongEngine {
 public:
  virtual ~SongEngine() = default;
  virtual SourceKind kind() const = 0;
  // 1 when playing, QMID_LOADING while a URL downloads, else the engine's failure code.
  virtual std::int32_t start(QWinHandle window, const std::string& source, std::int32_t callerId) = 0;
  // The engine's result when no output device could be opened.
  virtual std::int32_t deviceFailure() const = 0;
  virtual void stop() = 0;
  virtual std::int32_t mode() = 0;
  virtual std::int32_t position() = 0;
  virtual std::int32_t length() = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual void seek(std::int32_t milliseconds) = 0;
  virtual std::string info() = 0;
  // Only the MIDI engine has these: tempo, key and the meter.
  virtual bool hasControls() const { return false; }
  virtual std::int32_t tempo() { return 0; }
  virtual void setTempo(std::int32_t) {}
  virtual std::int32_t key() { return 0; }
  virtual void setKey(std::int32_t) {}
  virtual bool spectrum(std::int32_t*) { return false; }
};

std::unique_ptr<SongEngine> makeEngine(SourceKind kind);

}  // namespace qplay
