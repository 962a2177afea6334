// Default behaviour of the reader's event operations: most do nothing, the controller
// operations forward to onController, and the pitch-bend range replays its three messages.
#include "MidiFileReader.h"

namespace midifile {

void MidiFileReader::onHeader(int, int, int) {}
void MidiFileReader::onTrackStart(int, std::uint32_t, int) {}
void MidiFileReader::onTrackEnd(int) {}
void MidiFileReader::onDeltaTime(std::uint32_t) {}
void MidiFileReader::onRawEventInSource(int, std::FILE*, std::int32_t, std::int32_t) {}
void MidiFileReader::onRawEvent(int, std::int32_t, const std::uint8_t*) {}
void MidiFileReader::onMetaInSource(int, std::FILE*, std::int32_t, std::int32_t) {}
void MidiFileReader::onMeta(int, std::int32_t, const std::uint8_t*) {}
void MidiFileReader::onText(int, std::int32_t, const char*, const std::uint8_t*) {}
void MidiFileReader::onEndOfTrack() {}
void MidiFileReader::onChannelPrefix(int) {}
void MidiFileReader::onPort(int) {}
void MidiFileReader::onSequenceNumber(int) {}
void MidiFileReader::onSmpteOffset(int, int, int, int, int, int) {}
void MidiFileReader::onTimeSignature(int, std::uint32_t, int, int) {}
void MidiFileReader::onTempo(std::uint32_t) {}
void MidiFileReader::onKeySignature(int, int) {}
void MidiFileReader::onProgramChange(int, int) {}
void MidiFileReader::onController(int, int, int) {}
void MidiFileReader::onBankSelectMsb(int channel, int value) { onController(channel, 0, value); }
void MidiFileReader::onModulation(int channel, int value) { onController(channel, 1, value); }
void MidiFileReader::onBreath(int channel, int value) { onController(channel, 2, value); }
void MidiFileReader::onFootController(int channel, int value) { onController(channel, 4, value); }
void MidiFileReader::onPortamentoTime(int channel, int value) { onController(channel, 5, value); }
void MidiFileReader::onDataEntryMsb(int channel, int value) { onController(channel, 6, value); }
void MidiFileReader::onVolume(int channel, int value) { onController(channel, 7, value); }
void MidiFileReader::onPan(int channel, int value) { onController(channel, 10, value); }
void MidiFileReader::onExpression(int channel, int value) { onController(channel, 11, value); }
void MidiFileReader::onBankSelectLsb(int channel, int value) { onController(channel, 32, value); }
void MidiFileReader::onSustain(int channel, int value) { onController(channel, 64, value); }
void MidiFileReader::onReverbDepth(int channel, int value) { onController(channel, 91, value); }
void MidiFileReader::onChorusDepth(int channel, int value) { onController(channel, 93, value); }
void MidiFileReader::onDataIncrement(int channel, int value) { onController(channel, 96, value); }
void MidiFileReader::onDataDecrement(int channel, int value) { onController(channel, 97, value); }
void MidiFileReader::onRpnLsb(int channel, int value) { onController(channel, 100, value); }
void MidiFileReader::onRpnMsb(int channel, int value) { onController(channel, 101, value); }

// The replayed deltas are reports only; the clock already stands at the event's time.
void MidiFileReader::onPitchBendRange(int channel, int value) {
  onRpnMsb(channel, 0);
  onDeltaTime(0);
  onRpnLsb(channel, 0);
  onDeltaTime(0);
  onDataEntryMsb(channel, value);
}

void MidiFileReader::onNoteOn(int, int, int) {}
void MidiFileReader::onNoteOff(int, int, int) {}
void MidiFileReader::onPitchBend(int, int) {}
void MidiFileReader::onPolyPressure(int, int, int) {}
void MidiFileReader::onChannelPressure(int, int) {}
void MidiFileReader::onSongPosition(int) {}
void MidiFileReader::onSongSelect(int) {}
void MidiFileReader::onTuneRequest() {}
void MidiFileReader::onClock() {}
void MidiFileReader::onStart() {}
void MidiFileReader::onContinue() {}
void MidiFileReader::onStop() {}
void MidiFileReader::onActiveSensing() {}
void MidiFileReader::onSysexInSource(std::FILE*, std::int32_t, std::int32_t) {}
void MidiFileReader::onSysex(std::int32_t, const std::uint8_t*) {}
void MidiFileReader::onXgSystemOn() {}
void MidiFileReader::onGmSystemOn() {}
void MidiFileReader::onGsReset() {}
void MidiFileReader::onGsReset7F() {}
void MidiFileReader::onEndOfFile() {}
void MidiFileReader::onLargePause(std::uint32_t) { warning("Unrealistic large pause found"); }
void MidiFileReader::onProgress(int) {}

const std::uint8_t* MidiFileReader::peek(std::int32_t count) { return peekAt(position, count); }

}  // namespace midifile
