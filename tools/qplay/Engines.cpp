// SongEngine over QMIDEngine_* and QMODEngine_*.
#include "Engines.h"

#include "qmid.h"
#include "qmod.h"

namespace qplay {

namespace {

class MidiEngine : public SongEngine {
 public:
  SourceKind kind() const override { return SourceKind::Midi; }
  std::int32_t start(QWinHandle window, const std::string& source, std::int32_t callerId) override {
    return QMIDEngine_Play(window, source.c_str(), callerId);
  }
  std::int32_t deviceFailure() const override { return QMID_ERR_DEVICE; }
  void stop() override { QMIDEngine_Stop(); }
  std::int32_t mode() override { return QMIDEngine_GetMode(); }
  std::int32_t position() override { return QMIDEngine_GetPosition(); }
  std::int32_t length() override { return QMIDEngine_GetLength(); }
  void pause() override { QMIDEngine_Pause(); }
  void resume() override { QMIDEngine_Resume(); }
  void seek(std::int32_t ms) override { QMIDEngine_Seek(static_cast<std::uint32_t>(ms)); }
  std::string info() override {
    char text[1024] = {};
    QMIDEngine_GetFileInfo(text, sizeof text);
    return text;
  }
  bool hasControls() const override { return true; }
  std::int32_t tempo() override { return QMIDEngine_GetTempo(); }
  void setTempo(std::int32_t bpm) override { QMIDEngine_SetTempo(bpm); }
  std::int32_t key() override { return QMIDEngine_GetKey(); }
  void setKey(std::int32_t semitones) override { QMIDEngine_SetKey(semitones); }
  bool spectrum(std::int32_t* bands) override { return QMIDEngine_GetSpectrum(bands) == 1; }
};

class ModuleEngine : public SongEngine {
 public:
  SourceKind kind() const override { return SourceKind::Module; }
  std::int32_t start(QWinHandle window, const std::string& source, std::int32_t callerId) override {
    // 44.1 kHz, volume ramping and 8-tap interpolation; Amiga emulation costs five times the
    // CPU and full stereo separation is harsh on headphones.
    const ModuleSettings settings = {44100, 1, 1, 0, 0, 0};
    std::int32_t result = QMODEngine_Open(window, source.c_str(), callerId, &settings);
    if (result != 1) return result;
    result = QMODEngine_Play();
    if (result != 1) QMODEngine_Close();
    return result;
  }
  std::int32_t deviceFailure() const override { return QMOD_ERR_PLAY; }
  void stop() override { QMODEngine_Close(); }
  std::int32_t mode() override { return QMODEngine_GetMode(); }
  std::int32_t position() override { return QMODEngine_GetPosition(); }
  std::int32_t length() override { return QMODEngine_GetLength(); }
  void pause() override { QMODEngine_Pause(); }
  void resume() override { QMODEngine_Resume(); }
  void seek(std::int32_t ms) override { QMODEngine_Seek(static_cast<std::uint32_t>(ms)); }
  std::string info() override { return {}; }
};

}  // namespace

std::unique_ptr<SongEngine> makeEngine(SourceKind kind) {
  if (kind == SourceKind::Midi) return std::make_unique<MidiEngine>();
  return std::make_unique<ModuleEngine>();
}

}  // namespace qplay
