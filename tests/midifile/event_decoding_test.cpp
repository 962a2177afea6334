// Decoding of single events: each case is one track body read by the plain reader, compared
// as the list of event lines (without the track/tick/ms prefix) plus error and warning lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingReader.h"

namespace {

using smf::Bytes;
using smf::Track;

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Drops the "<track> <tick> <ms> " prefix and the lines that frame every read.
std::vector<std::string> eventLines(const std::vector<std::string>& lines) {
  static const char* const kFrame[] = {"onHeader",    "onTrackStart", "onTrackEnd",
                                       "onDeltaTime", "onProgress",   "onEndOfFile"};
  std::vector<std::string> out;
  for (const auto& line : lines) {
    if (startsWith(line, "error: ") || startsWith(line, "warning: ")) {
      out.push_back(line);
      continue;
    }
    std::size_t p = 0;
    for (int k = 0; k < 3; ++k) p = line.find(' ', p) + 1;
    const std::string rest = line.substr(p);
    const std::string op = rest.substr(0, rest.find(' '));
    bool frame = false;
    for (const char* f : kFrame) frame = frame || op == f;
    if (!frame) out.push_back(rest);
  }
  return out;
}

// The first n space-separated words, for lines that end in long hex dumps.
std::string head(const std::string& line, int n) {
  std::size_t p = 0;
  for (int k = 0; k < n; ++k) {
    p = line.find(' ', p + (k ? 1 : 0));
    if (p == std::string::npos) return line;
  }
  return line.substr(0, p);
}

struct DecodeCase {
  const char* name;
  Track body;
  std::uint32_t flags;
  int result;
  std::vector<std::string> expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

// The only track ends where the source ends, so look-aheads past the last event hit the end of
// the data (and the sanitizer, if they read on).
const DecodeCase kCases[] = {
    // Channel messages and running status.
    {"RunningStatus",
     Track().event(0, {0x90, 0x3C, 0x64}).event(0, {0x40, 0x64}),
     0,
     1,
     {"onNoteOn 0 60 100", "onNoteOn 0 64 100"}},
    {"DataByteWithoutRunningStatus",
     Track().event(0, {0x40, 0x64}),
     0,
     0,
     {"error: illegal midi command 40"}},
    {"MetaDoesNotSetRunningStatus",
     Track().event(0, {0xFF, 0x01, 0x01, 0x41}).event(0, {0x3C, 0x64}),
     0,
     0,
     {"onText 1 1 text A", "error: illegal midi command 3C"}},
    {"NoteOnVelocityZeroIsNoteOff",
     Track().event(0, {0x90, 0x3C, 0x00}),
     0,
     1,
     {"onNoteOff 0 60 0"}},
    {"NoteOff", Track().event(0, {0x80, 0x3C, 0x40}), 0, 1, {"onNoteOff 0 60 64"}},
    {"NoteOnHighestChannel", Track().event(0, {0x9F, 0x3C, 0x7F}), 0, 1, {"onNoteOn 15 60 127"}},
    {"PolyPressure", Track().event(0, {0xA2, 0x3C, 0x10}), 0, 1, {"onPolyPressure 2 60 16"}},
    {"ProgramChange",
     Track().event(0, {0xC4, 0x05}).event(0, {0x06}),
     0,
     1,
     {"onProgramChange 4 5", "onProgramChange 4 6"}},
    {"ChannelPressure", Track().event(0, {0xD5, 0x40}), 0, 1, {"onChannelPressure 5 64"}},
    {"PitchBendCentre", Track().event(0, {0xE0, 0x00, 0x40}), 0, 1, {"onPitchBend 0 8192"}},
    {"PitchBendExtremes",
     Track().event(0, {0xE7, 0x7F, 0x7F}).event(0, {0x01, 0x00}),
     0,
     1,
     {"onPitchBend 7 16383", "onPitchBend 7 1"}},

    // System common and real-time messages.
    {"SongPosition", Track().event(0, {0xF2, 0x7F, 0x7F}), 0, 1, {"onSongPosition 16383"}},
    {"SongSelect", Track().event(0, {0xF3, 0x05}), 0, 1, {"onSongSelect 5"}},
    {"MessagesWithoutData",
     Track()
         .event(0, {0xF6})
         .event(0, {0xF8})
         .event(0, {0xFA})
         .event(0, {0xFB})
         .event(0, {0xFC})
         .event(0, {0xFE}),
     0,
     1,
     {"onTuneRequest", "onClock", "onStart", "onContinue", "onStop", "onActiveSensing"}},
    {"RealTimeKeepsRunningStatus",
     Track().event(0, {0x91, 0x3C, 0x64}).event(0, {0xF8}).event(0, {0x40, 0x64}),
     0,
     1,
     {"onNoteOn 1 60 100", "onClock", "onNoteOn 1 64 100"}},
    {"UnexpectedF1", Track().event(0, {0xF1, 0x00}), 0, 0, {"error: unexpected command byte F1"}},
    {"UnexpectedF4", Track().event(0, {0xF4}), 0, 0, {"error: unexpected command byte F4"}},
    {"UnexpectedF5", Track().event(0, {0xF5}), 0, 0, {"error: unexpected command byte F5"}},
    {"UnexpectedF9", Track().event(0, {0xF9}), 0, 0, {"error: unexpected command byte F9"}},
    {"UnexpectedFD",
     Track().event(0, {0x90, 0x3C, 0x64}).event(0, {0xFD}),
     0,
     0,
     {"onNoteOn 0 60 100", "error: unexpected command byte FD"}},

    // Control changes.
    {"Volume", Track().event(0, {0xB0, 0x07, 0x64}), 0, 1, {"onVolume 0 100"}},
    {"ControllerWithoutOperation",
     Track().event(0, {0xB0, 0x03, 0x10}),
     0,
     1,
     {"onController 0 3 16"}},
    {"AllControllersBit", Track().event(0, {0xB0, 0x07, 0x64}), 0x001, 1, {"onController 0 7 100"}},
    {"EveryNamedController",
     Track()
         .event(0, {0xB3, 0x00, 0x01})
         .event(0, {0x01, 0x02})
         .event(0, {0x02, 0x03})
         .event(0, {0x03, 0x7F})
         .event(0, {0x04, 0x04})
         .event(0, {0x05, 0x05})
         .event(0, {0x06, 0x06})
         .event(0, {0x07, 0x07})
         .event(0, {0x08, 0x7E})
         .event(0, {0x0A, 0x08})
         .event(0, {0x0B, 0x09})
         .event(0, {0x20, 0x0A})
         .event(0, {0x40, 0x0B})
         .event(0, {0x5B, 0x0C})
         .event(0, {0x5D, 0x0D})
         .event(0, {0x60, 0x0E})
         .event(0, {0x61, 0x0F})
         .event(0, {0x64, 0x10})
         .event(0, {0x65, 0x11})
         .event(0, {0x79, 0x00}),
     0,
     1,
     {"onBankSelectMsb 3 1",  "onModulation 3 2",
      "onBreath 3 3",         "onController 3 3 127",
      "onFootController 3 4", "onPortamentoTime 3 5",
      "onDataEntryMsb 3 6",   "onVolume 3 7",
      "onController 3 8 126", "onPan 3 8",
      "onExpression 3 9",     "onBankSelectLsb 3 10",
      "onSustain 3 11",       "onReverbDepth 3 12",
      "onChorusDepth 3 13",   "onDataIncrement 3 14",
      "onDataDecrement 3 15", "onRpnLsb 3 16",
      "onRpnMsb 3 17",        "onController 3 121 0"}},
    {"ControlValueWarning",
     Track().event(0, {0xB0, 0x07, 0x80}),
     0,
     1,
     {"warning: invalid control value used", "onVolume 0 128"}},
    {"ControlValueWarningWhenRaw",
     Track().event(0, {0xB0, 0x07, 0x80}),
     0x040,
     1,
     {"warning: invalid control value used", "onRawEvent 176 2 0780"}},
    {"ProgramWarning",
     Track().event(0, {0xC0, 0x80}),
     0,
     1,
     {"warning: invalid program used", "onProgramChange 0 128"}},
    {"ProgramWarningWhenRaw",
     Track().event(0, {0xC0, 0x80}),
     0x080,
     1,
     {"warning: invalid program used", "onRawEvent 192 1 80"}},

    // Pitch-bend range: only the complete sequence, written out with zero deltas, is one report.
    {"PitchBendRange",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onPitchBendRange 0 12"}},
    {"PitchBendRangeKeepsRunningStatus",
     Track()
         .event(0, {0xB5, 0x65, 0x00})
         .event(0, {0xB5, 0x64, 0x00})
         .event(0, {0xB5, 0x06, 0x02})
         .event(0, {0x40, 0x64}),
     0,
     1,
     {"onPitchBendRange 5 2", "onSustain 5 100"}},
    {"PitchBendRangeRunningStatusSecond",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeRunningStatusThird",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeDelayedSecond",
     Track().event(0, {0xB0, 0x65, 0x00}).event(1, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeDelayedThird",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(5, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeOtherRpnMsb",
     Track().event(0, {0xB0, 0x65, 0x01}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 1", "onRpnLsb 0 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeOtherRpnLsb",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x01}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 1", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeOtherChannelSecond",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB1, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 1 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeOtherChannelThird",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB1, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0", "onDataEntryMsb 1 12"}},
    {"PitchBendRangeOtherController",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x63, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0,
     1,
     {"onRpnMsb 0 0", "onController 0 99 0", "onDataEntryMsb 0 12"}},
    {"PitchBendRangeCutByEndOfData",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}),
     0,
     1,
     {"onRpnMsb 0 0", "onRpnLsb 0 0"}},
    {"PitchBendRangeWithAllControllersBit",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0x001,
     1,
     {"onController 0 101 0", "onController 0 100 0", "onController 0 6 12"}},
    {"PitchBendRangeWithControlChangeRaw",
     Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0xB0, 0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
     0x041,
     1,
     {"onRawEvent 176 2 6500", "onRawEvent 176 2 6400", "onRawEvent 176 2 060c"}},

    // System exclusive: stored patterns and their routing.
    {"GmSystemOn",
     Track().event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).event(0, {0xF8}),
     0,
     1,
     {"onGmSystemOn", "onClock"}},
    {"GmSystemOnOtherDevice",
     Track().event(0, {0xF0, 0x05, 0x7E, 0x10, 0x09, 0x01, 0xF7}).event(0, {0xF8}),
     0,
     1,
     {"onSysex 5 7e100901f7", "onClock"}},
    {"GsResetDevice17",
     Track()
         .event(0, {0xF0, 0x0A, 0x41, 0x17, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
         .event(0, {0xF8}),
     0,
     1,
     {"onGsReset", "onClock"}},
    {"GsResetDevice20",
     Track()
         .event(0, {0xF0, 0x0A, 0x41, 0x20, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
         .event(0, {0xF8}),
     0,
     1,
     {"onSysex 10 4120421240007f0041f7", "onClock"}},
    {"GsReset7F",
     Track()
         .event(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7})
         .event(0, {0xF8}),
     0,
     1,
     {"onGsReset7F", "onClock"}},
    {"XgSystemOn",
     Track()
         .event(0, {0xF0, 0x08, 0x43, 0x1F, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
         .event(0, {0xF8}),
     0,
     1,
     {"onXgSystemOn", "onClock"}},
    {"StoredPatternsWithSysexRawBit",
     Track()
         .event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
         .event(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
         .event(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x7F, 0x42, 0xF7})
         .event(0, {0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
         .event(0, {0xF8}),
     0x008,
     1,
     {"onSysex 5 7e7f0901f7", "onSysex 10 4110421240007f0041f7", "onSysex 10 4110421240007f7f42f7",
      "onSysex 8 43104c00007e00f7", "onClock"}},
    {"SysexRawAndSystemBits",
     Track().event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).event(0, {0xF8}),
     0x408,
     1,
     {"onRawEvent 240 5 7e7f0901f7", "onRawEvent 248 0 -"}},
    {"SystemBitAloneStillRecognises",
     Track().event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).event(0, {0xF8}),
     0x400,
     1,
     {"onGmSystemOn", "onRawEvent 248 0 -"}},
    {"ShorterThanGmPattern",
     Track().event(0, {0xF0, 0x03, 0x7E, 0x7F, 0x09}).event(0, {0xF8}),
     0,
     1,
     {"onSysex 3 7e7f09", "onClock"}},
    {"LongerThanGmPattern",
     Track().event(0, {0xF0, 0x06, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF7}).event(0, {0xF8}),
     0,
     1,
     {"onSysex 6 7e7f0901f7f7", "onClock"}},
    {"SysexStartingWithF7",
     Track().event(0, {0xF7, 0x03, 0x01, 0x02, 0xF7}).event(0, {0xF8}),
     0,
     1,
     {"onSysex 3 0102f7", "onClock"}},
    {"SysexStartingWithF7Raw",
     Track().event(0, {0xF7, 0x03, 0x01, 0x02, 0xF7}).event(0, {0xF8}),
     0x408,
     1,
     {"onRawEvent 240 3 0102f7", "onRawEvent 248 0 -"}},
    {"SysexKeepsRunningStatus",
     Track()
         .event(0, {0x90, 0x3C, 0x64})
         .event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7})
         .event(0, {0x40, 0x64}),
     0,
     1,
     {"onNoteOn 0 60 100", "onSysex 3 0102f7", "onNoteOn 0 64 100"}},

    // System exclusive length rule.
    {"SysexLengthPastTrackEndTakenToF7",
     Track().event(0, {0xF0, 0x7F, 0x01, 0x02, 0xF7}).event(0, {0x90, 0x3C, 0x64}),
     0,
     1,
     {"onSysex 4 7f0102f7", "onNoteOn 0 60 100"}},
    {"SysexLengthPastTrackEndWithoutF7",
     Track().event(0, {0xF0, 0x7F, 0x01, 0x02, 0x03}),
     0,
     0,
     {"error: end of sysex not found"}},
    {"SysexDeclaredLengthNeedsNoF7",
     Track().event(0, {0xF0, 0x03, 0x01, 0x02, 0x03}).event(0, {0xF8}),
     0,
     1,
     {"onSysex 3 010203", "onClock"}},
    {"SysexOfLengthZero",
     Track().event(0, {0xF0, 0x00}).event(0, {0xF8}),
     0,
     0,
     {"error: end of sysex not found"}},

    // Ending exactly at the last byte of the source: a sysex is left in the source (it needs
    // strictly less than a peek can deliver), a meta event of the same extent is decoded.
    // Track data start at 22; delta, status and length put the data at 25.
    {"SysexEndingAtLastByte",
     Track().event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7}),
     0,
     1,
     {"onSysexInSource - 25 3"}},
    {"SysexEndingAtLastByteRaw",
     Track().event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7}),
     0x400,
     1,
     {"onRawEventInSource 240 - 25 3"}},
    {"MetaEndingAtLastByte",
     Track().event(0, {0xFF, 0x7F, 0x03, 0x01, 0x02, 0xF7}),
     0,
     1,
     {"onMeta 127 3 0102f7"}},

    // Meta events.
    {"Tempo", Track().event(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}), 0, 1, {"onTempo 500000"}},
    {"TempoWithShortLengthReadsThreeBytes",
     Track().event(0, {0xFF, 0x51, 0x02, 0x07, 0xA1}).event(0, {0x90, 0x3C, 0x64}),
     0,
     1,
     {"onTempo 499968", "onNoteOn 0 60 100"}},
    {"TempoWithLongLengthSkipsTheRest",
     Track().event(0, {0xFF, 0x51, 0x04, 0x0F, 0x42, 0x40, 0x99}).event(0, {0x90, 0x3C, 0x64}),
     0,
     1,
     {"onTempo 1000000", "onNoteOn 0 60 100"}},
    {"TimeSignature",
     Track().event(0, {0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08}),
     0,
     1,
     {"onTimeSignature 6 8 24 8"}},
    {"TimeSignaturePowerUsesFiveBits",
     Track().event(0, {0xFF, 0x58, 0x04, 0x04, 0x28, 0x18, 0x08}),
     0,
     1,
     {"onTimeSignature 4 256 24 8"}},
    {"TimeSignatureWrongLength",
     Track().event(0, {0xFF, 0x58, 0x03, 0x06, 0x03, 0x18}),
     0,
     1,
     {"onMeta 88 3 060318"}},
    {"KeySignature",
     Track().event(0, {0xFF, 0x59, 0x02, 0xFD, 0x01}),
     0,
     1,
     {"onKeySignature -3 1"}},
    {"KeySignatureLimits",
     Track().event(0, {0xFF, 0x59, 0x02, 0xF9, 0x00}).event(0, {0xFF, 0x59, 0x02, 0x07, 0x01}),
     0,
     1,
     {"onKeySignature -7 0", "onKeySignature 7 1"}},
    {"KeySignatureOutOfRange",
     Track()
         .event(0, {0xFF, 0x59, 0x02, 0x08, 0x00})
         .event(0, {0xFF, 0x59, 0x02, 0xF8, 0x00})
         .event(0, {0xFF, 0x59, 0x02, 0x00, 0x02}),
     0,
     1,
     {"onMeta 89 2 0800", "onMeta 89 2 f800", "onMeta 89 2 0002"}},
    {"SmpteOffset",
     Track()
         .event(0, {0xFF, 0x54, 0x05, 0x61, 0x00, 0x00, 0x00, 0x00})
         .event(0, {0xFF, 0x54, 0x05, 0x78, 0x3B, 0x3B, 0x1D, 0x63}),
     0,
     1,
     {"onSmpteOffset 3 1 0 0 0 0", "onSmpteOffset 3 24 59 59 29 99"}},
    {"SmpteOffsetWrongLength",
     Track().event(0, {0xFF, 0x54, 0x04, 0x61, 0x00, 0x00, 0x00}),
     0,
     1,
     {"onMeta 84 4 61000000"}},
    {"TrackName",
     Track().text(0, 0x03, "Piano").event(0, {0xF8}),
     0,
     1,
     {"onText 3 5 trackname Piano", "onClock"}},
    {"TextNames",
     Track()
         .text(0, 0x01, "a")
         .text(0, 0x02, "b")
         .text(0, 0x03, "c")
         .text(0, 0x04, "d")
         .text(0, 0x05, "e")
         .text(0, 0x06, "f")
         .text(0, 0x07, "g")
         .text(0, 0x08, "h")
         .text(0, 0x0F, "i"),
     0,
     1,
     {"onText 1 1 text a", "onText 2 1 copyright b", "onText 3 1 trackname c",
      "onText 4 1 instrument d", "onText 5 1 lyric e", "onText 6 1 marker f",
      "onText 7 1 cuepoint g", "onText 8 1 - h", "onText 15 1 - i"}},
    {"TextWithoutName", Track().event(0, {0xFF, 0x0A, 0x01, 0x41}), 0, 1, {"onText 10 1 - A"}},
    {"SequenceNumber",
     Track().event(0, {0xFF, 0x00, 0x02, 0x01, 0x02}).event(0, {0xFF, 0x00, 0x01, 0x05}),
     0,
     1,
     {"onSequenceNumber 258", "onMeta 0 1 05"}},
    {"ChannelPrefixAndPort",
     Track()
         .event(0, {0xFF, 0x20, 0x01, 0x05})
         .event(0, {0xFF, 0x21, 0x01, 0x02})
         .event(0, {0xFF, 0x21, 0x02, 0x00, 0x01}),
     0,
     1,
     {"onChannelPrefix 5", "onPort 2", "onMeta 33 2 0001"}},
    {"EndOfTrackDoesNotEndTrack",
     Track().endOfTrack().event(0, {0x90, 0x3C, 0x64}),
     0,
     1,
     {"onEndOfTrack", "onNoteOn 0 60 100"}},
    {"UnknownMeta",
     Track().event(0, {0xFF, 0x7F, 0x02, 0xAB, 0xCD}).event(0, {0xFF, 0x60, 0x00}).event(0, {0xF8}),
     0,
     1,
     {"onMeta 127 2 abcd", "onMeta 96 0 -", "onClock"}},
    {"MetaKeepsRunningStatus",
     Track().event(0, {0x90, 0x3C, 0x64}).text(0, 0x01, "A").event(0, {0x40, 0x64}),
     0,
     1,
     {"onNoteOn 0 60 100", "onText 1 1 text A", "onNoteOn 0 64 100"}},
};

class EventDecodingTable : public testing::TestWithParam<DecodeCase> {};

TEST_P(EventDecodingTable, ReportsTheEvents) {
  const DecodeCase& c = GetParam();
  smf::RecordingReader reader(smf::song(0, 96, {c.body}));
  reader.routingFlags = c.flags;
  EXPECT_EQ(reader.readFile(), c.result);
  EXPECT_EQ(eventLines(reader.lines), c.expected);
}

INSTANTIATE_TEST_SUITE_P(EventDecoding, EventDecodingTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                           return std::string(info.param.name);
                         });

// Meta events keep their dedicated operations under every routing bit but bit 1.
TEST(EventDecoding, MetaEventsAreNeverRoutedRaw) {
  smf::RecordingReader reader(smf::song(
      0, 96, {Track().tempo(0, 500000).text(0, 0x01, "A").event(0, {0xFF, 0x7F, 0x01, 0x00})}));
  reader.routingFlags = 0x7FD;
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(eventLines(reader.lines),
            (std::vector<std::string>{"onTempo 500000", "onText 1 1 text A", "onMeta 127 1 00"}));
}

// One body with every message kind; each routing set must send exactly the kinds it names to
// onRawEvent, with the full status byte, and leave the others alone.
struct RoutedItem {
  std::vector<std::uint8_t> bytes;
  std::uint32_t rawWhen;  // all of these bits route the item raw; 0 for never
  const char* dedicated;
  const char* raw;
};

const RoutedItem kItems[] = {
    {{0x91, 0x3C, 0x64}, 0x010, "onNoteOn 1 60 100", "onRawEvent 145 2 3c64"},
    {{0x91, 0x3C, 0x00}, 0x010, "onNoteOff 1 60 0", "onRawEvent 145 2 3c00"},
    {{0x81, 0x3C, 0x40}, 0x010, "onNoteOff 1 60 64", "onRawEvent 129 2 3c40"},
    {{0xA1, 0x3C, 0x10}, 0x020, "onPolyPressure 1 60 16", "onRawEvent 161 2 3c10"},
    {{0xB1, 0x07, 0x64}, 0x040, "onVolume 1 100", "onRawEvent 177 2 0764"},
    {{0xC1, 0x05}, 0x080, "onProgramChange 1 5", "onRawEvent 193 1 05"},
    {{0xD1, 0x40}, 0x100, "onChannelPressure 1 64", "onRawEvent 209 1 40"},
    {{0xE1, 0x00, 0x40}, 0x200, "onPitchBend 1 8192", "onRawEvent 225 2 0040"},
    {{0x01, 0x40}, 0x200, "onPitchBend 1 8193", "onRawEvent 225 2 0140"},  // running status
    {{0xF2, 0x01, 0x02}, 0x400, "onSongPosition 257", "onRawEvent 242 2 0102"},
    {{0xF3, 0x05}, 0x400, "onSongSelect 5", "onRawEvent 243 1 05"},
    {{0xF6}, 0x400, "onTuneRequest", "onRawEvent 246 0 -"},
    {{0xF8}, 0x400, "onClock", "onRawEvent 248 0 -"},
    {{0xFA}, 0x400, "onStart", "onRawEvent 250 0 -"},
    {{0xFB}, 0x400, "onContinue", "onRawEvent 251 0 -"},
    {{0xFC}, 0x400, "onStop", "onRawEvent 252 0 -"},
    {{0xFE}, 0x400, "onActiveSensing", "onRawEvent 254 0 -"},
    {{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
     0x408,
     "onGmSystemOn",
     "onRawEvent 240 5 7e7f0901f7"},
    {{0xF7, 0x03, 0x01, 0x02, 0xF7}, 0x408, "onSysex 3 0102f7", "onRawEvent 240 3 0102f7"},
    {{0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, 0, "onTempo 500000", nullptr},
    {{0xFF, 0x01, 0x01, 0x41}, 0, "onText 1 1 text A", nullptr},
    {{0xFF, 0x7F, 0x01, 0x00}, 0, "onMeta 127 1 00", nullptr},
    {{0x91, 0x3D, 0x64}, 0x010, "onNoteOn 1 61 100", "onRawEvent 145 2 3d64"},
};

class EventDecodingRouting : public testing::TestWithParam<std::uint32_t> {};

TEST_P(EventDecodingRouting, SendsExactlyTheNamedKindsRaw) {
  const std::uint32_t flags = GetParam();
  Track body;
  std::vector<std::string> expected;
  for (const RoutedItem& item : kItems) {
    body.event(0, item.bytes);
    const bool raw = item.rawWhen != 0 && (flags & item.rawWhen) == item.rawWhen;
    expected.push_back(raw ? item.raw : item.dedicated);
  }
  smf::RecordingReader reader(smf::song(0, 96, {body}));
  reader.routingFlags = flags;
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(eventLines(reader.lines), expected);
}

// 0x004 has no effect; 0x041 shows that raw control change wins over bit 0; 0x7F8 is the
// loader's set.
INSTANTIATE_TEST_SUITE_P(EventDecoding, EventDecodingRouting,
                         testing::Values(0x000u, 0x004u, 0x010u, 0x020u, 0x040u, 0x041u, 0x080u,
                                         0x100u, 0x200u, 0x400u, 0x408u, 0x7F8u));

// readEvent's result is the bytes the event occupied, which is what tells a caller where the
// next delta time starts.
class SizingReader : public smf::RecordingReader {
 public:
  using smf::RecordingReader::RecordingReader;
  std::vector<int> sizes;
  int readEvent(std::int32_t trackEnd) override {
    const int n = smf::RecordingReader::readEvent(trackEnd);
    sizes.push_back(n);
    return n;
  }
};

TEST(EventDecoding, EventSizes) {
  struct Case {
    const char* name;
    Track body;
    std::vector<int> sizes;
  };
  const Case cases[] = {
      {"pitch-bend range, then running status",
       Track()
           .event(0, {0xB0, 0x65, 0x00})
           .event(0, {0xB0, 0x64, 0x00})
           .event(0, {0xB0, 0x06, 0x0C})
           .event(0, {0x40, 0x64}),
       {11, 2}},
      {"broken pitch-bend range",
       Track().event(0, {0xB0, 0x65, 0x00}).event(0, {0x64, 0x00}).event(0, {0xB0, 0x06, 0x0C}),
       {3, 2, 3}},
      {"tempo with length 2",
       Track().event(0, {0xFF, 0x51, 0x02, 0x07, 0xA1}).event(0, {0xF8}),
       {5, 1}},
      {"sysex with prefix, then sysex taken to F7",
       Track()
           .event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7})
           .event(0, {0xF0, 0x7F, 0x01, 0xF7})
           .event(0, {0xC0, 0x01}),
       {5, 4, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizingReader reader(smf::song(0, 96, {c.body}));
    ASSERT_EQ(reader.readFile(), 1);
    EXPECT_EQ(reader.sizes, c.sizes);
  }
}

// A tempo event's value stays in the reader and times what follows.
TEST(EventDecoding, TempoIsStoredAndTimesLaterEvents) {
  smf::RecordingReader reader(smf::song(0, 96, {Track().tempo(0, 1000000).noteOn(96, 0, 60, 100)}));
  ASSERT_EQ(reader.readFile(), 1);
  EXPECT_EQ(reader.tempo, 1000000u);
  EXPECT_EQ(reader.only("onNoteOn"), std::vector<std::string>{"1 96 1000 onNoteOn 0 60 100"});
}

// The sysex length is limited by the track, not by the source: an F7 in the next track must
// not rescue it.
TEST(EventDecoding, SysexSearchForF7StopsAtTrackEnd) {
  smf::RecordingReader reader(smf::song(1, 96,
                                        {Track().event(0, {0xF0, 0x7F, 0x01, 0x02, 0x03}),
                                         Track().event(0, {0xF0, 0x01, 0xF7}).event(0, {0xF8})}));
  EXPECT_EQ(reader.readFile(), 0);
  EXPECT_EQ(eventLines(reader.lines), std::vector<std::string>{"error: end of sysex not found"});
}

class TempFile {
 public:
  explicit TempFile(const Bytes& bytes)
      : path_(testing::TempDir() + "event_decoding_" +
              testing::UnitTest::GetInstance()->current_test_info()->name() + ".mid") {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// A whole-file source behaves like memory: what ends at the last byte of the file is beyond
// what a sysex may occupy in the window, but not a meta event.
TEST(EventDecoding, WholeFileSourceEndsAtLastByte) {
  for (const bool sysex : {true, false}) {
    Track body;
    body.event(0, {0x90, 0x3C, 0x64});
    if (sysex)
      body.event(0, {0xF0, 0x03, 0x01, 0x02, 0xF7});
    else
      body.event(0, {0xFF, 0x7F, 0x03, 0x01, 0x02, 0xF7});
    TempFile file(smf::song(0, 96, {body}));
    smf::RecordingReader reader(file.path(), midifile::ByteSource::kWholeFile);
    ASSERT_EQ(reader.readFile(), 1);
    EXPECT_EQ(eventLines(reader.lines),
              (std::vector<std::string>{"onNoteOn 0 60 100",
                                        sysex ? "onSysexInSource - 29 3" : "onMeta 127 3 0102f7"}));
  }
}

// Through the 1024-byte window: a sysex must be shorter than the window to be decoded in it, a
// meta event may fill it; whatever is left in the source is skipped by its length.
TEST(EventDecoding, WindowedSourceLimits) {
  const std::int32_t dataStart = 22;
  Track body;
  std::vector<std::string> expected;
  auto sysex = [&](std::uint32_t length) {
    // length data bytes, the last being F7
    Bytes bytes{0xF0};
    const Bytes prefix = smf::varLen(length);
    bytes.insert(bytes.end(), prefix.begin(), prefix.end());
    const std::int32_t at = dataStart + static_cast<std::int32_t>(body.data.size()) + 1 +
                            static_cast<std::int32_t>(bytes.size());
    bytes.insert(bytes.end(), length - 1, 0x01);
    bytes.push_back(0xF7);
    body.event(0, bytes);
    return at;
  };
  auto meta = [&](std::uint32_t length) {
    const Bytes prefix = smf::varLen(length);
    const std::int32_t at = dataStart + static_cast<std::int32_t>(body.data.size()) + 3 +
                            static_cast<std::int32_t>(prefix.size());
    body.meta(0, 0x7F, Bytes(length, 0x02));
    return at;
  };
  expected.push_back("onSysexInSource - " + std::to_string(sysex(1500)) + " 1500");
  sysex(1023);
  expected.push_back("onSysex 1023");
  expected.push_back("onSysexInSource - " + std::to_string(sysex(1024)) + " 1024");
  meta(1024);
  expected.push_back("onMeta 127 1024");
  expected.push_back("onMetaInSource 127 - " + std::to_string(meta(1025)) + " 1025");
  body.noteOn(0, 0, 60, 100);
  expected.push_back("onNoteOn 0 60 100");
  expected.push_back("onMetaInSource 127 - " + std::to_string(meta(1100)) + " 1100");

  TempFile file(smf::song(0, 96, {body}));
  smf::RecordingReader reader(file.path(), midifile::ByteSource::kWindowed);
  ASSERT_EQ(reader.readFile(), 1);
  std::vector<std::string> got;
  for (const auto& line : eventLines(reader.lines))
    got.push_back(startsWith(line, "onSysex ")  ? head(line, 2)
                  : startsWith(line, "onMeta ") ? head(line, 3)
                                                : line);
  EXPECT_EQ(got, expected);
}

}  // namespace
