// The song store: emptying, rewinding and releasing the engine object, and the event list.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "MidiEngine.h"

namespace qmid {

void clear(MidiEngine& e) {
  e.title[0] = 0;
  e.copyright[0] = 0;
  for (auto& name : e.trackNames) name[0] = 0;
  e.syllableCount = 1;
  e.syllableCursor = 0;
  e.lineCount = 1;
  e.lineCursor = 0;
  e.syllables = nullptr;
  e.lines = nullptr;
  e.lineTextLength = 0;
  e.lastLineTime = 0;
  e.eventCursor = 0;
  e.eventWords = 0;
  e.events = nullptr;
  e.eventRoom = 0;
  e.initialTempo = 0;
  for (auto& level : e.levels) level = 0;
  e.trackNameCount = 0;
  e.tempo = 0;
  e.tempoRatio = 1.0f;
  e.keyOffset = 0;
  e.outputDevice = nullptr;
  e.playerWindow = nullptr;
  e.position = 0;
  e.songLength = 0;
  e.seeking = 0;
  e.ended = 0;
  e.timerId = 0;
  e.busy = 0;
  for (auto& channel : e.noteOn)
    for (auto& key : channel) key = 0;
}

void rewind(MidiEngine& e) {
  e.syllableCursor = 0;
  e.lineCursor = 0;
  e.lineTextLength = 0;
  e.lastLineTime = 0;
  e.eventCursor = 0;
  e.position = 0;
}

void release(MidiEngine& e) {
  delete e.outputDevice;
  std::free(e.syllables);
  std::free(e.lines);
  std::free(e.events);
  clear(e);
}

std::int32_t recordWords(std::int32_t byteCount) {
  return byteCount == 0 ? 4 : 3 + (byteCount + 3) / 4;
}

bool resizeEvents(MidiEngine& e, std::int32_t words) {
  void* resized = std::realloc(e.events, static_cast<std::size_t>(words) * sizeof(std::uint32_t));
  if (!resized) {
    std::free(e.events);
    e.events = nullptr;
    e.eventRoom = 0;
    return false;
  }
  e.events = static_cast<std::uint32_t*>(resized);
  e.eventRoom = words;
  return true;
}

void appendEvent(MidiEngine& e, std::uint32_t time, int status, std::int32_t count,
                 const std::uint8_t* data) {
  // The header word holds 24 bits of length; a longer message cannot be stored.
  if (count < 0 || count >= (1 << 24) || (count > 0 && !data)) return;
  const std::int32_t words = recordWords(count);
  if (!e.events) return;
  if (e.eventWords > INT32_MAX - 2 * kEventBlockWords - words) {
    std::free(e.events);
    e.events = nullptr;
    return;
  }
  const std::int32_t blocksAfter = (e.eventWords + words) / kEventBlockWords;
  if (blocksAfter != e.eventWords / kEventBlockWords) {
    const std::int32_t newWords = (blocksAfter + 1) * kEventBlockWords;
    if (newWords > e.eventRoom && !resizeEvents(e, newWords)) return;
  }
  e.eventWords += words;
  std::uint32_t* record = e.events + e.eventCursor;
  record[0] = time;
  record[1] = 0;
  if (count < 3) {
    std::uint32_t message = static_cast<std::uint32_t>(status) & 0xFF;
    if (count >= 1) message |= std::uint32_t{data[0]} << 8;
    if (count == 2) message |= std::uint32_t{data[1]} << 16;
    record[2] = message;
  } else {
    record[2] = 0x80000000u | static_cast<std::uint32_t>(count);
    std::memcpy(record + 3, data, static_cast<std::size_t>(count));
  }
  e.eventCursor += words;
}

}  // namespace qmid
