// Turns every event operation of a reader into one text line
// "<track> <tick> <ms> <operation>[ <argument>]...", for dump tools and tests.
// No operation forwards to another: a pitch-bend range is one line, a volume change one line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "MidiFileReader.h"

namespace midifile {

// Appends the bytes as lower-case hex without spaces, or "-" when there are none.
void appendHex(std::string& line, const std::uint8_t* data, std::int32_t length);
// Appends text bytes with control, non-ASCII and backslash bytes escaped as \xHH.
void appendEscaped(std::string& line, const std::uint8_t* data, std::int32_t length);

template <class Reader>
class EventPrinter : public Reader {
 public:
  using Reader::Reader;

 protected:
  // Receives each finished line without its newline.
  virtual void emitLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }

  void onHeader(int format, int trackCount, int division) override {
    print("onHeader", {format, trackCount, division});
  }
  void onTrackStart(int trackNumber, std::uint32_t length, int channel) override {
    print("onTrackStart", {trackNumber, length, channel});
  }
  void onTrackEnd(int trackNumber) override { print("onTrackEnd", {trackNumber}); }
  void onDeltaTime(std::uint32_t ticks) override { print("onDeltaTime", {ticks}); }
  void onRawEventInSource(int status, std::FILE*, std::int32_t position,
                          std::int32_t length) override {
    start("onRawEventInSource", {status});
    line_ += " -";
    finish({position, length});
  }
  void onRawEvent(int status, std::int32_t count, const std::uint8_t* data) override {
    start("onRawEvent", {status, count});
    finishHex(data, count);
  }
  void onMetaInSource(int type, std::FILE*, std::int32_t position, std::int32_t length) override {
    start("onMetaInSource", {type});
    line_ += " -";
    finish({position, length});
  }
  void onMeta(int type, std::int32_t length, const std::uint8_t* data) override {
    start("onMeta", {type, length});
    finishHex(data, length);
  }
  void onText(int type, std::int32_t length, const char* name, const std::uint8_t* data) override {
    start("onText", {type, length});
    line_ += ' ';
    line_ += name ? name : "-";
    line_ += ' ';
    appendEscaped(line_, data, length);
    emitLine(line_);
  }
  void onEndOfTrack() override { print("onEndOfTrack", {}); }
  void onChannelPrefix(int channel) override { print("onChannelPrefix", {channel}); }
  void onPort(int port) override { print("onPort", {port}); }
  void onSequenceNumber(int number) override { print("onSequenceNumber", {number}); }
  void onSmpteOffset(int rate, int hours, int minutes, int seconds, int frames,
                     int subframes) override {
    print("onSmpteOffset", {rate, hours, minutes, seconds, frames, subframes});
  }
  void onTimeSignature(int numerator, std::uint32_t denominator, int clocksPerClick,
                       int notated32ndsPerQuarter) override {
    print("onTimeSignature", {numerator, denominator, clocksPerClick, notated32ndsPerQuarter});
  }
  void onTempo(std::uint32_t microsecondsPerQuarter) override {
    print("onTempo", {microsecondsPerQuarter});
  }
  void onKeySignature(int sharpsFlats, int minor) override {
    print("onKeySignature", {sharpsFlats, minor});
  }
  void onProgramChange(int channel, int program) override {
    print("onProgramChange", {channel, program});
  }
  void onController(int channel, int controller, int value) override {
    print("onController", {channel, controller, value});
  }
  void onBankSelectMsb(int c, int v) override { print("onBankSelectMsb", {c, v}); }
  void onModulation(int c, int v) override { print("onModulation", {c, v}); }
  void onBreath(int c, int v) override { print("onBreath", {c, v}); }
  void onFootController(int c, int v) override { print("onFootController", {c, v}); }
  void onPortamentoTime(int c, int v) override { print("onPortamentoTime", {c, v}); }
  void onDataEntryMsb(int c, int v) override { print("onDataEntryMsb", {c, v}); }
  void onVolume(int c, int v) override { print("onVolume", {c, v}); }
  void onPan(int c, int v) override { print("onPan", {c, v}); }
  void onExpression(int c, int v) override { print("onExpression", {c, v}); }
  void onBankSelectLsb(int c, int v) override { print("onBankSelectLsb", {c, v}); }
  void onSustain(int c, int v) override { print("onSustain", {c, v}); }
  void onReverbDepth(int c, int v) override { print("onReverbDepth", {c, v}); }
  void onChorusDepth(int c, int v) override { print("onChorusDepth", {c, v}); }
  void onDataIncrement(int c, int v) override { print("onDataIncrement", {c, v}); }
  void onDataDecrement(int c, int v) override { print("onDataDecrement", {c, v}); }
  void onRpnLsb(int c, int v) override { print("onRpnLsb", {c, v}); }
  void onRpnMsb(int c, int v) override { print("onRpnMsb", {c, v}); }
  void onPitchBendRange(int c, int v) override { print("onPitchBendRange", {c, v}); }
  void onNoteOn(int c, int key, int velocity) override { print("onNoteOn", {c, key, velocity}); }
  void onNoteOff(int c, int key, int velocity) override { print("onNoteOff", {c, key, velocity}); }
  void onPitchBend(int c, int value) override { print("onPitchBend", {c, value}); }
  void onPolyPressure(int c, int key, int pressure) override {
    print("onPolyPressure", {c, key, pressure});
  }
  void onChannelPressure(int c, int pressure) override { print("onChannelPressure", {c, pressure}); }
  void onSongPosition(int position) override { print("onSongPosition", {position}); }
  void onSongSelect(int song) override { print("onSongSelect", {song}); }
  void onTuneRequest() override { print("onTuneRequest", {}); }
  void onClock() override { print("onClock", {}); }
  void onStart() override { print("onStart", {}); }
  void onContinue() override { print("onContinue", {}); }
  void onStop() override { print("onStop", {}); }
  void onActiveSensing() override { print("onActiveSensing", {}); }
  void onSysexInSource(std::FILE*, std::int32_t position, std::int32_t length) override {
    start("onSysexInSource", {});
    line_ += " -";
    finish({position, length});
  }
  void onSysex(std::int32_t length, const std::uint8_t* data) override {
    start("onSysex", {length});
    finishHex(data, length);
  }
  void onXgSystemOn() override { print("onXgSystemOn", {}); }
  void onGmSystemOn() override { print("onGmSystemOn", {}); }
  void onGsReset() override { print("onGsReset", {}); }
  void onGsReset7F() override { print("onGsReset7F", {}); }
  void onEndOfFile() override { print("onEndOfFile", {}); }
  void onLargePause(std::uint32_t ticks) override { print("onLargePause", {ticks}); }
  void onProgress(int percent) override { print("onProgress", {percent}); }

 private:
  // Every argument fits in 64 signed bits, whether it came in signed or unsigned.
  using Args = std::initializer_list<long long>;

  void start(const char* operation, Args args) {
    line_.clear();
    appendNumber(this->currentTrack);
    appendNumber(this->trackTicks);
    appendNumber(this->trackMilliseconds);
    line_ += operation;
    for (long long a : args) appendNumber(a, true);
  }
  void finish(Args args) {
    for (long long a : args) appendNumber(a, true);
    emitLine(line_);
  }
  void finishHex(const std::uint8_t* data, std::int32_t length) {
    line_ += ' ';
    appendHex(line_, data, length);
    emitLine(line_);
  }
  void print(const char* operation, Args args) {
    start(operation, args);
    emitLine(line_);
  }
  void appendNumber(long long value, bool leadingSpace = false) {
    if (leadingSpace) line_ += ' ';
    line_ += std::to_string(value);
    if (!leadingSpace) line_ += ' ';
  }

  std::string line_;
};

}  // namespace midifile
