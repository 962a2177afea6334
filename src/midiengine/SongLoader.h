// The engine's reader: a merged reader whose events fill the song store of one engine.
#pragma once

#include "MergedMidiReader.h"
#include "MidiEngine.h"

namespace qmid {

class SongLoader : public midifile::MergedMidiReader {
 public:
  // Every channel and system message arrives raw; meta events keep their own operations.
  static constexpr std::uint32_t kRouting = 0x7F8;

  SongLoader(const char* fileName, MidiEngine& engine);
  SongLoader(const void* block, std::int32_t length, MidiEngine& engine);

  void error(const char*) override {}
  void warning(const char*) override {}
  void onRawEvent(int status, std::int32_t count, const std::uint8_t* data) override;
  void onText(int type, std::int32_t length, const char* name, const std::uint8_t* data) override;
  void onTempo(std::uint32_t microsecondsPerQuarter) override;

  MidiEngine& engine;
};

// Reads the whole song through the loader into the engine's store: 1 or QMID_ERR_MEMORY.
std::int32_t buildSong(MidiEngine& engine, SongLoader& loader);

}  // namespace qmid
