// Index pass over the track chunks, then a merge that always delivers the earliest pending
// event, lowest track first on equal ticks, with each track's own running status.
#include "MergedMidiReader.h"

#include <new>

namespace midifile {

namespace {
constexpr std::uint32_t kLargePause = 0x1000000;
}  // namespace

MergedMidiReader::MergedMidiReader(const char* fileName, std::FILE* stream, std::uint8_t mode)
    : MidiFileReader(fileName, stream, mode) {
  prepareTracks();
}

MergedMidiReader::MergedMidiReader(const void* block, std::int32_t length, bool owns)
    : MidiFileReader(block, length, owns) {
  prepareTracks();
}

MergedMidiReader::~MergedMidiReader() { trackCount = 0; }

void MergedMidiReader::prepareTracks() {
  if (!MidiFileReader::readHeader()) return;
  if (trackCount < 0 || trackCount > kMaxTracks) {
    trackCount = 0;
    return;
  }
  const std::size_t n = static_cast<std::size_t>(trackCount);
  trackNext.reset(new (std::nothrow) std::int32_t[n]);
  trackEnd.reset(new (std::nothrow) std::int32_t[n]);
  trackTick.reset(new (std::nothrow) std::uint32_t[n]);
  trackDone.reset(new (std::nothrow) std::uint8_t[n]);
  trackStatus.reset(new (std::nothrow) std::int32_t[n]);
  if (!trackNext || !trackEnd || !trackTick || !trackDone || !trackStatus) {
    trackNext.reset();
    trackEnd.reset();
    trackTick.reset();
    trackDone.reset();
    trackStatus.reset();
    trackCount = 0;
  }
}

int MergedMidiReader::indexTracks(std::uint32_t& longestLength, int& longestIndex) {
  const std::uint32_t savedFlags = routingFlags;
  routingFlags = kRouteSkipTrackEvents;
  longestLength = 0;
  longestIndex = 0;
  for (int i = 0; i < trackCount; ++i) {
    trackNext[i] = chunkEnd(position, 8);  // a clamped end of a huge chunk must not overflow
    currentTrack = i + 1;
    if (!readTrack(i + 1)) {
      routingFlags = savedFlags;
      return 0;
    }
    trackEnd[i] = chunkEnd(trackNext[i], trackLength);
    if (trackLength > longestLength) {
      longestLength = trackLength;
      longestIndex = i;
    }
    if (trackLength == 0) {
      trackDone[i] = 1;
      continue;
    }
    position = trackNext[i];
    trackTick[i] = readVarLen();
    if (trackTick[i] >= kLargePause) {
      onLargePause(trackTick[i]);
      trackEnded = true;
    }
    trackNext[i] = position;
    position = trackEnd[i];
  }
  routingFlags = savedFlags;
  return 1;
}

int MergedMidiReader::selectTrack() const {
  int candidate = -1;
  for (int i = 0; i < trackCount; ++i) {
    if (trackDone[i]) continue;
    if (candidate < 0 || trackTick[i] < trackTick[candidate]) candidate = i;
    if (trackTick[candidate] == trackTicks) break;  // nothing can come earlier
  }
  return candidate;
}

int MergedMidiReader::deliverTick(int i, std::uint32_t tick, std::uint32_t longestLength,
                                  int longestIndex) {
  while (!trackDone[i] && trackTick[i] == tick) {
    if (i == longestIndex && longestLength != 0) {
      // A delta that ran past the chunk's end leaves nothing of it to read.
      const std::uint64_t left =
          trackNext[i] < trackEnd[i] ? static_cast<std::uint32_t>(trackEnd[i] - trackNext[i]) : 0;
      const int percent = static_cast<int>((longestLength - left) * 100 / longestLength);
      if (percent > lastProgress) {
        lastProgress = percent;
        onProgress(percent);
      }
    }
    currentTrack = i + 1;
    runningStatus = trackStatus[i];
    position = trackNext[i];
    trackTicks = tick;
    if (readEvent(trackEnd[i]) < 1) return 0;
    if (position >= trackEnd[i]) {
      trackDone[i] = 1;
    } else {
      trackStatus[i] = runningStatus;
      const std::uint32_t delta = readVarLen();
      trackTick[i] += delta;
      // Left scheduled at its far tick, where the long-pause stop normally ends the merge.
      if (delta >= kLargePause) onLargePause(delta);
      trackNext[i] = position;
    }
  }
  return 1;
}

void MergedMidiReader::finish() {
  lastProgress = 100;
  onProgress(100);
  onEndOfFile();
}

int MergedMidiReader::readFile() {
  if (trackCount == 1) return MidiFileReader::readFile();
  if (!tracksPresent()) return 0;
  trackEnded = false;
  position = 0;
  eventStart = 0;
  if (!readHeader()) return 0;
  for (int i = 0; i < trackCount; ++i) {
    trackNext[i] = 0;
    trackEnd[i] = 0;
    trackTick[i] = 0;
    trackDone[i] = 0;
    trackStatus[i] = -1;
  }
  std::uint32_t longestLength = 0;
  int longestIndex = 0;
  if (!indexTracks(longestLength, longestIndex)) return 0;
  lastProgress = 0;
  trackTicks = 0;

  while (!trackEnded) {
    const int candidate = selectTrack();
    currentTrack = candidate + 1;
    if (candidate < 0) break;
    const std::uint32_t next = trackTick[candidate];
    const std::uint32_t gap = next - trackTicks;
    onDeltaTime(gap);
    if (timeDivisor != 0 &&
        std::uint64_t{tempo} * gap / timeDivisor > kLongPauseMilliseconds) {
      break;
    }
    ticksToMilliseconds(gap, trackMilliseconds, millisecondRemainder);
    for (int i = candidate; i < trackCount; ++i) {
      if (!deliverTick(i, next, longestLength, longestIndex)) return 0;
    }
  }
  finish();
  return 1;
}

}  // namespace midifile
