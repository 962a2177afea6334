// Reader core: reading primitives, header search, file and track loops, channel pre-scan,
// delta-time conversion.
#include "MidiFileReader.h"

#include <climits>
#include <cstring>

namespace midifile {

namespace {
constexpr std::uint32_t kMThd = 0x4D546864;
constexpr std::uint32_t kMTrk = 0x4D54726B;
constexpr std::uint32_t kLargePause = 0x1000000;
}  // namespace

std::int32_t chunkEnd(std::int32_t dataStart, std::uint32_t length) {
  std::int64_t end = static_cast<std::int64_t>(dataStart) + length;
  return end > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(end);
}

MidiFileReader::MidiFileReader(const char* fileName, std::FILE* stream, std::uint8_t mode)
    : ByteSource(fileName, stream, mode) {}

MidiFileReader::MidiFileReader(const void* block, std::int32_t length, bool owns)
    : ByteSource(block, length, owns) {}

const std::uint8_t* MidiFileReader::consume(std::int32_t count) {
  const std::uint8_t* data = peek(count);
  if (data) {
    position += count;
    return data;
  }
  if (capacity() == 0) {
    error("out of memory");
  } else if (count > 0 && static_cast<std::uint32_t>(count) > capacity()) {
    warning("midi event larger than internal bufsize ignored");
  } else if (count >= 1) {
    error("unexpected end of file");
    trackEnded = true;
  }
  return nullptr;
}

int MidiFileReader::skip(std::int32_t count) {
  if (count < 0 || static_cast<std::int64_t>(position) + count > size()) return 0;
  position += count;
  return 1;
}

void MidiFileReader::setPosition(std::int32_t p) {
  if (p >= 0) position = p;
}

int MidiFileReader::readByte() {
  const std::uint8_t* data = consume(1);
  return data ? data[0] : -1;
}

std::uint32_t MidiFileReader::readUInt16() {
  const std::uint8_t* d = consume(2);
  return d ? (std::uint32_t{d[0]} << 8) | d[1] : 0;
}

std::uint32_t MidiFileReader::readUInt24() {
  const std::uint8_t* d = consume(3);
  return d ? (std::uint32_t{d[0]} << 16) | (std::uint32_t{d[1]} << 8) | d[2] : 0;
}

std::uint32_t MidiFileReader::readUInt32() {
  const std::uint8_t* d = consume(4);
  return d ? (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) |
                 (std::uint32_t{d[2]} << 8) | d[3]
           : 0;
}

std::uint32_t MidiFileReader::readVarLen() {
  lastVarLenBytes = 0;
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    int byte = readByte();
    if (byte < 0) {
      error("unexpected end of file");
      return 0;
    }
    ++lastVarLenBytes;
    value = (value << 7) | static_cast<std::uint32_t>(byte & 0x7F);
    if (!(byte & 0x80)) break;
  }
  return value;
}

std::int32_t MidiFileReader::findHeader() {
  const std::int32_t total = size();
  std::int32_t i = 0;
  while (total > 0 && i < total) {
    position = i;
    std::int32_t n = available(i);
    const std::uint8_t* window = peek(n);
    if (!window) break;
    if (n >= 4) {
      // Windows overlap by three bytes so that a header split across two of them is found.
      for (std::int32_t k = 0; k + 3 < n; ++k) {
        const void* hit = std::memchr(window + k, 'M', static_cast<std::size_t>(n - 3 - k));
        if (!hit) break;
        k = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - window);
        if (std::memcmp(window + k, "MThd", 4) == 0) {
          position = i + k;
          return position;
        }
      }
      i += n - 3;
    }
    if (total - i < 4) break;
  }
  position = 0;
  return -1;
}

int MidiFileReader::readHeader() {
  abortRequested = false;
  if (findHeader() < 0 || readUInt32() != kMThd) {
    error("missing midi header MThd");
    return 0;
  }
  if (readUInt32() != 6) {
    error("illegal midi header");
    return 0;
  }
  format = static_cast<int>(readUInt16());
  if (format > 2) {
    error("invalid midi version");
    return 0;
  }
  trackCount = static_cast<int>(readUInt16());
  division = static_cast<int>(readUInt16());
  tempo = 500000;
  timeDivisor = static_cast<std::uint32_t>(division) * 1000;
  onHeader(format, trackCount, division);
  return abortRequested ? 0 : 1;
}

int MidiFileReader::readFile() {
  abortRequested = false;
  eventStart = position;
  if (!readHeader()) return 0;
  eventStart = position;
  for (currentTrack = 1; currentTrack <= trackCount; ++currentTrack) {
    if (!readTrack(currentTrack)) return 0;
  }
  if (position >= size()) {
    lastProgress = 100;
    onProgress(100);
  }
  onEndOfFile();
  return 1;
}

void MidiFileReader::reportProgress(int percent) {
  if (percent == lastProgress) return;
  lastProgress = percent;
  onProgress(percent);
}

int MidiFileReader::readTrack(int trackNumber) {
  if (abortRequested) return 0;
  trackEnded = false;
  trackTicks = 0;
  millisecondRemainder = 0;
  trackMilliseconds = 0;
  runningStatus = -1;
  eventStart = position;
  if (readUInt32() != kMTrk) {
    error("missing midi track MTrk");
    return 0;
  }
  trackLength = readUInt32();
  trackChannel = scanTrackChannel(trackLength);
  onTrackStart(trackNumber, trackLength, trackChannel);

  const std::int32_t trackEnd = chunkEnd(position, trackLength);
  runningStatus = -1;
  if (!(routingFlags & kRouteSkipTrackEvents)) {
    while (!trackEnded && position < trackEnd) {
      // 64-bit so that sources past 21 MB do not overflow the percentage; a meta event that
      // claims more bytes than the source holds must not push it past 100.
      if (size() > 0) {
        const std::int64_t percent = std::int64_t{position} * 100 / size();
        reportProgress(static_cast<int>(percent < 100 ? percent : 100));
      }
      std::uint32_t delta = readVarLen();
      if (delta >= kLargePause) {
        onLargePause(delta);
        trackEnded = true;
        break;
      }
      onDeltaTime(delta);
      if (abortRequested) return 0;
      trackTicks += delta;
      ticksToMilliseconds(delta, trackMilliseconds, millisecondRemainder);
      if (readEvent(trackEnd) <= 0) {
        trackEnded = false;
        return 0;
      }
      if (abortRequested) return 0;
    }
  }
  trackEnded = false;
  position = trackEnd;
  eventStart = position;
  onTrackEnd(trackNumber);
  return 1;
}

int MidiFileReader::scanTrackChannel(std::uint32_t length) {
  if (routingFlags & kRouteSkipTrackEvents) return -1;
  const std::int32_t start = position;
  // The scan reports like any read but must not end the track it is only looking at.
  const bool endedBefore = trackEnded;
  std::int32_t available0 = available(start);
  std::int32_t n = length < static_cast<std::uint32_t>(available0) ? static_cast<std::int32_t>(length)
                                                                    : available0;
  if (!peek(n)) return -1;
  const std::int32_t scanEnd = start + n;

  int result = -1;
  int status = -1;
  while (position < scanEnd) {
    int channel = -1;
    readVarLen();
    const std::uint8_t* next = peek(1);
    int s = (next && *next < 0x80 && status >= 0) ? status : readByte();
    if (s < 0x80) break;
    bool stop = false;
    if (s < 0xF0) {
      channel = s & 0x0F;
      consume((s & 0xE0) == 0xC0 ? 1 : 2);
      status = s;
    } else {
      switch (s) {
        case 0xF0: {
          std::int32_t sysexLength = readSysexLength(scanEnd - position);
          stop = sysexLength <= 0 || !skip(sysexLength);
          break;
        }
        case 0xF2:
          consume(2);
          break;
        case 0xF3:
          consume(1);
          break;
        case 0xF6: case 0xF8: case 0xFA: case 0xFB: case 0xFC: case 0xFE:
          break;
        case 0xFF:
          readByte();
          skip(static_cast<std::int32_t>(readVarLen()));
          break;
        default:
          stop = true;
      }
    }
    if (stop) break;
    if (channel >= 0) {
      if (result < 0) {
        result = channel;
      } else if (channel != result) {
        result = -2;
        break;
      }
    }
  }
  position = start;
  trackEnded = endedBefore;
  return result;
}

void MidiFileReader::ticksToMilliseconds(std::uint32_t ticks, std::uint32_t& milliseconds,
                                         std::uint32_t& remainder) const {
  std::uint32_t ms = trackMilliseconds;
  std::uint32_t rest = millisecondRemainder;
  if (ticks != 0 && timeDivisor != 0) {
    const std::uint32_t perTick = tempo / timeDivisor;
    const std::uint32_t fraction = tempo % timeDivisor;
    if (ticks >= kLargePause) {
      ms += perTick * ticks;
      rest = 0;
    } else {
      // Same two numbers as adding perTick and fraction once per tick and carrying.
      const std::uint64_t fractions = std::uint64_t{rest} + std::uint64_t{fraction} * ticks;
      ms += static_cast<std::uint32_t>(std::uint64_t{perTick} * ticks + fractions / timeDivisor);
      rest = static_cast<std::uint32_t>(fractions % timeDivisor);
    }
  }
  milliseconds = ms;
  remainder = rest;
}

}  // namespace midifile
