// Loading a song from a file or a memory block into the song store.
#include "SongLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace qmid {

SongLoader::SongLoader(const char* fileName, MidiEngine& target)
    : MergedMidiReader(fileName, nullptr, midifile::ByteSource::kWholeFile), engine(target) {
  routingFlags = kRouting;
}

SongLoader::SongLoader(const void* block, std::int32_t length, MidiEngine& target)
    : MergedMidiReader(block, length, false), engine(target) {
  routingFlags = kRouting;
}

void SongLoader::onRawEvent(int status, std::int32_t count, const std::uint8_t* data) {
  appendEvent(engine, trackMilliseconds, status, count, data);
}

void SongLoader::onText(int type, std::int32_t length, const char*, const std::uint8_t* data) {
  captureText(engine, type, length, data, currentTrack, trackMilliseconds);
}

void SongLoader::onTempo(std::uint32_t microsecondsPerQuarter) {
  // A tempo of 0 has no beats per minute; the nominal tempo waits for a usable one.
  if (engine.initialTempo == 0 && microsecondsPerQuarter != 0)
    engine.initialTempo = static_cast<std::int32_t>(60000000u / microsecondsPerQuarter);
}

std::int32_t buildSong(MidiEngine& e, SongLoader& loader) {
  e.eventWords = 0;
  e.eventCursor = 0;
  e.events = nullptr;
  e.syllableCount = 1;
  e.syllableCursor = 0;
  e.lineCount = 1;
  e.lineCursor = 0;
  e.syllables = nullptr;
  e.lines = nullptr;
  e.lineTextLength = 0;
  e.lastLineTime = 0;

  e.syllables = static_cast<LyricSyllable*>(std::calloc(kSyllableBlock, sizeof(LyricSyllable)));
  e.lines = static_cast<LyricLine*>(std::calloc(kLineBlock, sizeof(LyricLine)));
  // Room for every record the file can hold, so that the list never moves while it fills:
  // a record of 4 words takes at least 2 bytes of the file. Untouched room costs no memory.
  const std::int64_t bound = 2 * static_cast<std::int64_t>(loader.size()) + kEventBlockWords;
  const std::int32_t room = static_cast<std::int32_t>(
      std::min<std::int64_t>(bound / kEventBlockWords + 1, kMaxEventBlocks) * kEventBlockWords);
  e.events = static_cast<std::uint32_t*>(std::calloc(static_cast<std::size_t>(room), sizeof(std::uint32_t)));
  e.eventRoom = room;
  if (!e.events) {
    e.events = static_cast<std::uint32_t*>(std::calloc(kEventBlockWords, sizeof(std::uint32_t)));
    e.eventRoom = kEventBlockWords;
  }
  if (!e.events) return QMID_ERR_MEMORY;
  if (platform::MemoryService* memory = platform::services().memory)
    memory->adviseLargeBlock(e.events, static_cast<std::size_t>(e.eventRoom) * sizeof(std::uint32_t));

  loader.readFile();  // whatever was read before a parse error stays in the song
  // Give back the room the song did not need: the list keeps the growth rule's size.
  const std::int32_t block = (e.eventWords / kEventBlockWords + 1) * kEventBlockWords;
  if (e.events && e.eventRoom > block) resizeEvents(e, block);
  e.songLength = static_cast<std::int32_t>(loader.trackMilliseconds);
  if (e.initialTempo == 0) e.initialTempo = 120;
  e.tempo = e.initialTempo;
  e.tempoRatio = 1.0f;
  if (!e.events) return QMID_ERR_MEMORY;
  rewind(e);
  return 1;
}

std::int32_t loadFile(MidiEngine& e, const char* path) {
  e.initialTempo = 0;
  if (!e.outputDevice) return QMID_ERR_DEVICE;
  SongLoader loader(path, e);
  if (loader.size() <= 0) return QMID_ERR_OPEN;
  return buildSong(e, loader);
}

std::int32_t loadMemory(MidiEngine& e, const void* block, std::int32_t size) {
  e.initialTempo = 0;
  if (!e.outputDevice) return QMID_ERR_DEVICE;
  SongLoader loader(block, size, e);
  if (loader.size() <= 0) return QMID_ERR_OPEN;
  return buildSong(e, loader);
}

}  // namespace qmid
