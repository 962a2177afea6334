// Decodes the one event at the read position and reports it through the event operations.
#include <climits>
#include <cstdio>

#include "MidiFileReader.h"

namespace midifile {

const std::uint8_t kGmSystemOn[5] = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
const std::uint8_t kGsReset[10] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const std::uint8_t kGsReset7F[10] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7};
const std::uint8_t kXgSystemOn[8] = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

namespace {
const char* const kTextNames[8] = {nullptr,      "text",   "copyright", "trackname",
                                   "instrument", "lyric",  "marker",    "cuepoint"};
}  // namespace

int matchSysex(const std::uint8_t* pattern, const std::uint8_t* data, std::int32_t count) {
  if (pattern[0] == 0xF0) ++pattern;
  std::int32_t length = 1;
  while (pattern[length - 1] != 0xF7) ++length;
  if (count != length) return 0;
  for (std::int32_t i = 0; i < length; ++i) {
    // Any device number 0x10..0x1F answers a pattern addressed to a device in that range.
    const bool deviceByte = i == 1 && pattern[i] >= 0x10 && pattern[i] <= 0x1F;
    if (deviceByte ? (data[i] & 0xF0) != (pattern[i] & 0xF0) : data[i] != pattern[i]) return 0;
  }
  return 1;
}

void MidiFileReader::reportCommand(const char* text, int status) {
  char message[48];
  std::snprintf(message, sizeof message, "%s %02X", text, static_cast<unsigned>(status & 0xFF));
  error(message);
}

int MidiFileReader::readEvent(std::int32_t trackEnd) {
  if (abortRequested) return 0;
  eventStart = position;
  int status;
  const std::uint8_t* next = peek(1);
  if (next && *next < 0x80 && runningStatus >= 0) {
    status = runningStatus;
  } else {
    status = readByte();
    if (status < 0) return 0;
  }
  if (status < 0x80) {
    reportCommand("illegal midi command", status);
    return 0;
  }
  if (status < 0xF0) {
    if (!readChannelMessage(status)) return 0;
    return position - eventStart;
  }

  const bool raw = routingFlags & kRouteSystem;
  switch (status) {
    case 0xF0:
    case 0xF7:
      if (!readSystemExclusive(trackEnd)) return 0;
      break;
    case 0xFF:
      readMeta();
      break;
    case 0xF2:
    case 0xF3: {
      const std::int32_t count = status == 0xF2 ? 2 : 1;
      const std::uint8_t* data = consume(count);
      if (!data) return 0;
      if (raw)
        onRawEvent(status, count, data);
      else if (status == 0xF2)
        onSongPosition(data[0] + data[1] * 128);
      else
        onSongSelect(data[0]);
      break;
    }
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
      if (raw) {
        onRawEvent(status, 0, nullptr);
        break;
      }
      switch (status) {
        case 0xF6: onTuneRequest(); break;
        case 0xF8: onClock(); break;
        case 0xFA: onStart(); break;
        case 0xFB: onContinue(); break;
        case 0xFC: onStop(); break;
        default: onActiveSensing(); break;
      }
      break;
    default:
      reportCommand("unexpected command byte", status);
      return 0;
  }
  return position - eventStart;
}

int MidiFileReader::readChannelMessage(int status) {
  const int channel = status & 0x0F;
  const int kind = status & 0xF0;
  const std::int32_t count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
  const std::uint8_t* data = consume(count);
  if (!data) return 0;
  runningStatus = status;
  const int first = data[0];
  const int second = count == 2 ? data[1] : 0;
  // Warned before routing, so raw receivers are told too.
  if (kind == 0xB0 && second >= 0x80) warning("invalid control value used");
  if (kind == 0xC0 && first >= 0x80) warning("invalid program used");

  switch (kind) {
    case 0x80:
      if (routingFlags & kRouteNotes) return onRawEvent(status, count, data), 1;
      onNoteOff(channel, first, second);
      break;
    case 0x90:
      if (routingFlags & kRouteNotes) return onRawEvent(status, count, data), 1;
      if (second > 0)
        onNoteOn(channel, first, second);
      else
        onNoteOff(channel, first, 0);
      break;
    case 0xA0:
      if (routingFlags & kRoutePolyPressure) return onRawEvent(status, count, data), 1;
      onPolyPressure(channel, first, second);
      break;
    case 0xB0:
      if (routingFlags & kRouteControlChange) return onRawEvent(status, count, data), 1;
      dispatchController(status, first, second);
      break;
    case 0xC0:
      if (routingFlags & kRouteProgramChange) return onRawEvent(status, count, data), 1;
      onProgramChange(channel, first);
      break;
    case 0xD0:
      if (routingFlags & kRouteChannelPressure) return onRawEvent(status, count, data), 1;
      onChannelPressure(channel, first);
      break;
    default:
      if (routingFlags & kRoutePitchBend) return onRawEvent(status, count, data), 1;
      onPitchBend(channel, first + second * 128);
      break;
  }
  return 1;
}

void MidiFileReader::dispatchController(int status, int controller, int value) {
  const int channel = status & 0x0F;
  if (routingFlags & kRouteAllControllers) {
    onController(channel, controller, value);
    return;
  }
  switch (controller) {
    case 0: onBankSelectMsb(channel, value); break;
    case 1: onModulation(channel, value); break;
    case 2: onBreath(channel, value); break;
    case 4: onFootController(channel, value); break;
    case 5: onPortamentoTime(channel, value); break;
    case 6: onDataEntryMsb(channel, value); break;
    case 7: onVolume(channel, value); break;
    case 10: onPan(channel, value); break;
    case 11: onExpression(channel, value); break;
    case 32: onBankSelectLsb(channel, value); break;
    case 64: onSustain(channel, value); break;
    case 91: onReverbDepth(channel, value); break;
    case 93: onChorusDepth(channel, value); break;
    case 96: onDataIncrement(channel, value); break;
    case 97: onDataDecrement(channel, value); break;
    case 100: onRpnLsb(channel, value); break;
    case 101: {
      // RPN 0 (pitch-bend range) written out in full with zero deltas: one report.
      const std::uint8_t* p = value == 0 ? peek(8) : nullptr;
      if (p && p[0] == 0 && p[1] == status && p[2] == 0x64 && p[3] == 0 && p[4] == 0 &&
          p[5] == status && p[6] == 0x06) {
        const int range = p[7];
        consume(8);
        onPitchBendRange(channel, range);
      } else {
        onRpnMsb(channel, value);
      }
      break;
    }
    default: onController(channel, controller, value); break;
  }
}

std::int32_t MidiFileReader::readSysexLength(std::int32_t limit) {
  const std::int32_t start = position;
  if (limit <= 0) return 0;
  const std::int32_t room = available(start);
  const std::int32_t n = room < limit ? room : limit;
  const std::uint8_t* p = peek(n);
  if (!p) return 0;

  std::uint32_t value = 0;
  std::int32_t prefix = 0;
  for (std::int32_t k = 0; k < 4 && k < n; ++k) {
    value = (value << 7) | (p[k] & 0x7Fu);
    if (p[k] < 0x80) {
      prefix = k + 1;
      break;
    }
  }
  const std::uint32_t length = prefix ? value : static_cast<std::uint32_t>(limit);
  if (length <= static_cast<std::uint32_t>(limit)) {
    position = start + prefix;
    return static_cast<std::int32_t>(length);
  }
  // The declared length runs past the track: trust an 0xF7 instead.
  for (std::int32_t i = 1; i <= limit; ++i) {
    int byte = readByte();
    if (byte < 0) break;
    if (byte == 0xF7) {
      position = start;
      return i;
    }
  }
  position = start;
  return 0;
}

int MidiFileReader::readSystemExclusive(std::int32_t trackEnd) {
  const std::int64_t room = std::int64_t{trackEnd} - position;
  const std::int32_t length =
      readSysexLength(room < 0 ? 0 : static_cast<std::int32_t>(room > INT32_MAX ? INT32_MAX : room));
  if (length == 0) {
    error("end of sysex not found");
    return 0;
  }
  const std::int32_t start = position;
  const bool raw = routingFlags & kRouteSystem;
  if (length < available(start)) {
    const std::uint8_t* data = consume(length);
    if (!data) return 0;
    if (routingFlags & kRouteSysexRaw) {
      if (raw)
        onRawEvent(0xF0, length, data);
      else
        onSysex(length, data);
    } else if (matchSysex(kGmSystemOn, data, length)) {
      onGmSystemOn();
    } else if (matchSysex(kGsReset, data, length)) {
      onGsReset();
    } else if (matchSysex(kGsReset7F, data, length)) {
      onGsReset7F();
    } else if (matchSysex(kXgSystemOn, data, length)) {
      onXgSystemOn();
    } else {
      onSysex(length, data);
    }
    return 1;
  }
  skip(length);
  if (raw)
    onRawEventInSource(0xF0, stream(), start, length);
  else
    onSysexInSource(stream(), start, length);
  return 1;
}

int MidiFileReader::readMeta() {
  const int type = readByte();
  const std::uint32_t length = readVarLen();
  const std::int32_t start = position;
  const std::int32_t count = static_cast<std::int32_t>(length);  // at most 0x0FFFFFFF
  const std::int32_t end = chunkEnd(start, length);
  if (count > available(start)) {
    onMetaInSource(type, stream(), start, count);
    position = end;
    return 1;
  }
  if (type >= 0x01 && type <= 0x0F) {
    onText(type, count, type <= 7 ? kTextNames[type] : nullptr, consume(count));
  } else if (type == 0x2F) {
    onEndOfTrack();
  } else if (type == 0x51) {
    tempo = readUInt24();
    onTempo(tempo);
  } else if (type == 0x00 && count == 2) {
    onSequenceNumber(static_cast<int>(readUInt16()));
  } else if (type == 0x20 && count == 1) {
    onChannelPrefix(readByte());
  } else if (type == 0x21 && count == 1) {
    onPort(readByte());
  } else if (type == 0x54 && count == 5) {
    if (const std::uint8_t* d = consume(5)) onSmpteOffset(d[0] >> 5, d[0] & 0x1F, d[1], d[2], d[3], d[4]);
  } else if (type == 0x58 && count == 4) {
    if (const std::uint8_t* d = consume(4)) onTimeSignature(d[0], 1u << (d[1] & 31), d[2], d[3]);
  } else if (type == 0x59 && count == 2) {
    if (const std::uint8_t* d = consume(2)) {
      const int sharpsFlats = static_cast<std::int8_t>(d[0]);
      const int minor = static_cast<std::int8_t>(d[1]);
      if (sharpsFlats >= -7 && sharpsFlats <= 7 && (minor == 0 || minor == 1)) {
        onKeySignature(sharpsFlats, minor);
      } else {
        const std::uint8_t pair[2] = {d[0], d[1]};
        onMeta(0x59, 2, pair);
      }
    }
  } else {
    onMeta(type, count, consume(count));
  }
  position = end;
  return 1;
}

}  // namespace midifile
