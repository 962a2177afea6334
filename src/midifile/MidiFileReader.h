// Reads a Standard MIDI File front to back and reports everything through virtual operations
// that a subclass overrides. The virtual operations are declared in their fixed slot order.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ByteSource.h"

namespace midifile {

// Bits of MidiFileReader::routingFlags.
enum RoutingFlag : std::uint32_t {
  kRouteAllControllers = 0x001,  // every control change to onController
  kRouteSkipTrackEvents = 0x002,  // track bodies are not read
  kRouteUnused = 0x004,
  kRouteSysexRaw = 0x008,  // no stored-pattern recognition for system exclusive
  kRouteNotes = 0x010,
  kRoutePolyPressure = 0x020,
  kRouteControlChange = 0x040,
  kRouteProgramChange = 0x080,
  kRouteChannelPressure = 0x100,
  kRoutePitchBend = 0x200,
  kRouteSystem = 0x400,
};

class MidiFileReader : public ByteSource {
 public:
  MidiFileReader(const char* fileName, std::FILE* stream, std::uint8_t mode);
  MidiFileReader(const void* block, std::int32_t length, bool owns);
  ~MidiFileReader() override = default;

  // Reading steps (slots 3 to 6).
  virtual int readFile();
  virtual int readHeader();
  virtual int readTrack(int trackNumber);
  virtual int readEvent(std::int32_t trackEnd);

  // Event operations (slots 7 to 65). Data pointers are valid only during the call.
  virtual void onHeader(int format, int trackCount, int division);
  virtual void onTrackStart(int trackNumber, std::uint32_t length, int channel);
  virtual void onTrackEnd(int trackNumber);
  virtual void onDeltaTime(std::uint32_t ticks);
  virtual void onRawEventInSource(int status, std::FILE* stream, std::int32_t position,
                                  std::int32_t length);
  virtual void onRawEvent(int status, std::int32_t count, const std::uint8_t* data);
  virtual void onMetaInSource(int type, std::FILE* stream, std::int32_t position,
                              std::int32_t length);
  virtual void onMeta(int type, std::int32_t length, const std::uint8_t* data);
  virtual void onText(int type, std::int32_t length, const char* name, const std::uint8_t* data);
  virtual void onEndOfTrack();
  virtual void onChannelPrefix(int channel);
  virtual void onPort(int port);
  virtual void onSequenceNumber(int number);
  virtual void onSmpteOffset(int rate, int hours, int minutes, int seconds, int frames,
                             int subframes);
  virtual void onTimeSignature(int numerator, std::uint32_t denominator, int clocksPerClick,
                               int notated32ndsPerQuarter);
  virtual void onTempo(std::uint32_t microsecondsPerQuarter);
  virtual void onKeySignature(int sharpsFlats, int minor);
  virtual void onProgramChange(int channel, int program);
  virtual void onController(int channel, int controller, int value);
  virtual void onBankSelectMsb(int channel, int value);
  virtual void onModulation(int channel, int value);
  virtual void onBreath(int channel, int value);
  virtual void onFootController(int channel, int value);
  virtual void onPortamentoTime(int channel, int value);
  virtual void onDataEntryMsb(int channel, int value);
  virtual void onVolume(int channel, int value);
  virtual void onPan(int channel, int value);
  virtual void onExpression(int channel, int value);
  virtual void onBankSelectLsb(int channel, int value);
  virtual void onSustain(int channel, int value);
  virtual void onReverbDepth(int channel, int value);
  virtual void onChorusDepth(int channel, int value);
  virtual void onDataIncrement(int channel, int value);
  virtual void onDataDecrement(int channel, int value);
  virtual void onRpnLsb(int channel, int value);
  virtual void onRpnMsb(int channel, int value);
  virtual void onPitchBendRange(int channel, int value);
  virtual void onNoteOn(int channel, int key, int velocity);
  virtual void onNoteOff(int channel, int key, int velocity);
  virtual void onPitchBend(int channel, int value);
  virtual void onPolyPressure(int channel, int key, int pressure);
  virtual void onChannelPressure(int channel, int pressure);
  virtual void onSongPosition(int position);
  virtual void onSongSelect(int song);
  virtual void onTuneRequest();
  virtual void onClock();
  virtual void onStart();
  virtual void onContinue();
  virtual void onStop();
  virtual void onActiveSensing();
  virtual void onSysexInSource(std::FILE* stream, std::int32_t position, std::int32_t length);
  virtual void onSysex(std::int32_t length, const std::uint8_t* data);
  virtual void onXgSystemOn();
  virtual void onGmSystemOn();
  virtual void onGsReset();
  virtual void onGsReset7F();
  virtual void onEndOfFile();
  virtual void onLargePause(std::uint32_t ticks);
  virtual void onProgress(int percent);

  // Slot 66: every look at the bytes at position goes through here.
  virtual const std::uint8_t* peek(std::int32_t count);

  // Reading primitives at position.
  const std::uint8_t* consume(std::int32_t count);
  int skip(std::int32_t count);
  void setPosition(std::int32_t p);
  int readByte();
  std::uint32_t readUInt16();
  std::uint32_t readUInt24();
  std::uint32_t readUInt32();
  std::uint32_t readVarLen();
  std::int32_t findHeader();
  int scanTrackChannel(std::uint32_t length);
  void ticksToMilliseconds(std::uint32_t ticks, std::uint32_t& milliseconds,
                           std::uint32_t& remainder) const;
  std::int32_t readSysexLength(std::int32_t limit);

  // Open to subclasses and to the owner after a read.
  std::uint32_t routingFlags = 0;
  int format = 0;
  int trackCount = 0;
  int division = 0;
  int currentTrack = 0;
  int trackChannel = -1;
  std::uint32_t trackTicks = 0;
  std::uint32_t trackMilliseconds = 0;
  std::uint32_t millisecondRemainder = 0;
  std::uint32_t timeDivisor = 0;
  std::uint32_t tempo = 0;
  int lastProgress = 0;
  int runningStatus = -1;
  std::uint32_t trackLength = 0;
  bool trackEnded = false;
  bool abortRequested = false;
  std::int32_t eventStart = 0;
  std::int32_t position = 0;
  std::uint8_t lastVarLenBytes = 0;

 protected:
  // Reports a position-relative progress percentage when it changed.
  void reportProgress(int percent);

 private:
  int readChannelMessage(int status);
  void dispatchController(int channel, int controller, int value);
  int readSystemExclusive(std::int32_t trackEnd);
  int readMeta();
  void reportCommand(const char* format, int status);
};

// Stored system exclusive patterns, each without its leading 0xF0 and ending with 0xF7.
extern const std::uint8_t kGmSystemOn[5];
extern const std::uint8_t kGsReset[10];
extern const std::uint8_t kGsReset7F[10];
extern const std::uint8_t kXgSystemOn[8];

// 1 when the count bytes at data are the stored pattern (device numbers 0x10..0x1F all match).
// A pattern that starts with 0xF0 is compared from its second byte.
int matchSysex(const std::uint8_t* pattern, const std::uint8_t* data, std::int32_t count);

// Source position past which a chunk of the given length would end, clamped to 32 bits.
std::int32_t chunkEnd(std::int32_t dataStart, std::uint32_t length);

}  // namespace midifile
