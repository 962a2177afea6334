// The sequencer: a 20 ms periodic tick advances the song clock by the tempo ratio and sends
// every due record to the output, with transposition, meter levels and karaoke cues.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MidiEngine.h"

namespace qmid {

namespace {

constexpr std::uint32_t kLongFlag = 0x80000000u;
constexpr int kDrumChannel = 9;
constexpr int kIdleSleeps = 11;
constexpr std::uint32_t kIdleSleepMs = 100;

platform::Services& os() { return platform::services(); }

bool windowAlive(const MidiEngine& e) {
  return e.playerWindow && os().windows->isWindow(e.playerWindow);
}

void post(const MidiEngine& e, std::uintptr_t wParam, const void* lParam) {
  os().windows->post(e.playerWindow, MSG_KARAOKE, wParam,
                     reinterpret_cast<std::intptr_t>(lParam));
}

int channelBand(int channel) { return channel < kDrumChannel ? channel : channel - 1; }

// Notes go out transposed, except on the drum channel where a key is an instrument.
void playNote(MidiEngine& e, std::uint32_t message) {
  const int status = message & 0xFF;
  const int channel = status & 0x0F;
  int key = (message >> 8) & 0xFF;
  const int velocity = (message >> 16) & 0xFF;
  const bool on = (status & 0xF0) == 0x90;
  int band;
  if (channel == kDrumChannel) {
    band = drumBand(key);
  } else {
    key += e.keyOffset.load(std::memory_order_relaxed);
    // A key moved out of the MIDI range cannot be sent; its note is left out.
    if (key < 0 || key > 127) return;
    band = channelBand(channel);
    message = static_cast<std::uint32_t>(status) | (static_cast<std::uint32_t>(key) << 8) |
              (static_cast<std::uint32_t>(velocity) << 16);
  }
  e.levels[band] = on ? velocity : 0;
  e.noteOn[channel][key] = on ? 1 : 0;
  sendShort(e, message);
}

}  // namespace

int drumBand(int key) {
  switch (key) {
    case 35: case 36: return 15;
    case 42: case 44: case 46: return 16;
    case 41: case 43: case 45: case 47: case 48: case 50: return 17;
    case 38: case 40: return 18;
    default: return 19;
  }
}

int openOutput(MidiEngine& e, platform::WindowHandle window) {
  clear(e);
  std::string why;
  std::unique_ptr<platform::MidiOutput> device = os().midiOut->openDefault(why);
  if (device) {
    e.outputDevice = device.release();
  } else {
    std::fprintf(stderr, "qmid: cannot open the MIDI output: %s\n",
                 why.empty() ? "no device" : why.c_str());
  }
  e.playerWindow = window;
  return e.outputDevice ? 1 : 0;
}

void sendShort(MidiEngine& e, std::uint32_t message) {
  if (e.outputDevice) e.outputDevice->shortMessage(message);
}

void sendLong(MidiEngine& e, std::int32_t count, const std::uint8_t* bytes) {
  if (!e.outputDevice || count <= 0) return;
  // A record holds the bytes after the file's length field; on the wire an exclusive message
  // starts with F0. Bytes that already start with F0 (an escaped whole message) go as they are.
  if (bytes[0] == 0xF0) {
    e.outputDevice->longMessage(bytes, static_cast<std::size_t>(count));
    return;
  }
  // Only the player's thread (chasing, with the timer killed) or the timer's thread get here.
  static std::vector<std::uint8_t> wire;
  wire.resize(static_cast<std::size_t>(count) + 1);
  wire[0] = 0xF0;
  std::memcpy(wire.data() + 1, bytes, static_cast<std::size_t>(count));
  e.outputDevice->longMessage(wire.data(), wire.size());
}

void resetOutput(MidiEngine& e) {
  if (e.outputDevice) e.outputDevice->reset();
}

void allNotesOff(MidiEngine& e) {
  for (std::uint32_t status = 0xB0; status <= 0xBF; ++status) sendShort(e, status | (123u << 8));
}

void waitIdle(MidiEngine& e) {
  for (int sleeps = 0; e.busy && sleeps < kIdleSleeps; ++sleeps) os().sleep->sleepMs(kIdleSleepMs);
}

static void killTimer(MidiEngine& e) {
  const std::uint32_t id = e.timerId.exchange(0);
  if (id != 0) os().timer->kill(id);
}

std::int32_t start(MidiEngine& e) {
  if (e.timerId != 0) {
    killTimer(e);
    waitIdle(e);
  }
  if (e.position == 0 && windowAlive(e)) post(e, 0, &e);
  // Cleared before the first tick can look at it; put back if no timer comes.
  const std::int32_t endedBefore = e.ended.exchange(0);
  const std::uint32_t id = os().timer->start(kTickMs, &onTimer, &e);
  if (id == 0) {
    e.ended = endedBefore;
    return QMID_ERR_TIMER;
  }
  e.timerId = id;
  return 1;
}

std::int32_t pause(MidiEngine& e) {
  killTimer(e);
  waitIdle(e);
  allNotesOff(e);
  resetOutput(e);
  return 1;
}

std::int32_t stop(MidiEngine& e) {
  killTimer(e);
  waitIdle(e);
  e.ended = 1;
  allNotesOff(e);
  resetOutput(e);
  if (windowAlive(e)) {
    post(e, 0, nullptr);
    post(e, 1, nullptr);
  }
  return 1;
}

void onTimer(void* user) {
  MidiEngine& e = *static_cast<MidiEngine*>(user);
  if (e.seeking) return;
  advanceClock(e, kTickMs);
  dispatch(e, static_cast<std::uint32_t>(e.position.load()), false);
}

void advanceClock(MidiEngine& e, std::uint32_t ms) {
  const auto step = static_cast<std::int32_t>(ms * e.tempoRatio.load() + 0.5);
  // The clock is compared unsigned, so it wraps instead of overflowing.
  e.position = static_cast<std::int32_t>(static_cast<std::uint32_t>(e.position.load()) +
                                         static_cast<std::uint32_t>(step));
}

std::uint32_t dispatch(MidiEngine& e, std::uint32_t time, bool chase) {
  e.busy = 1;
  if (e.ended || !e.events || e.eventCursor >= e.eventWords) {
    e.ended = 1;
    e.busy = 0;
    return 0;
  }
  if (e.lines && e.lineCursor < e.lineCount) {
    while (e.lines[e.lineCursor].startTime <= time) {
      if (e.lineCursor > 0 && !chase && windowAlive(e))
        post(e, static_cast<std::uintptr_t>(e.lineCursor), &e.lines[e.lineCursor]);
      if (++e.lineCursor >= e.lineCount) break;
    }
  }
  if (e.syllables && e.syllableCursor < e.syllableCount) {
    while (e.syllables[e.syllableCursor].time <= time) {
      const LyricSyllable& syllable = e.syllables[e.syllableCursor];
      if (syllable.line > 0 && !chase && windowAlive(e)) post(e, QMID_CUE_SYLLABLE, &syllable);
      if (++e.syllableCursor >= e.syllableCount) break;
    }
  }

  std::uint32_t lastTime = 0;
  const std::uint32_t* record = e.events + e.eventCursor;
  if (record[0] > time) {
    e.busy = 0;
    return 0;
  }
  for (;;) {
    lastTime = record[0];
    const std::uint32_t word = record[2];
    if (word & kLongFlag) {
      const std::int32_t count = static_cast<std::int32_t>(word & 0xFFFFFF);
      sendLong(e, count, reinterpret_cast<const std::uint8_t*>(record + 3));
      e.eventCursor += recordWords(count);
    } else {
      const std::uint32_t message = word & 0xFFFFFF;
      const int kind = message & 0xF0;
      if (kind == 0x80 || kind == 0x90) {
        if (!chase) playNote(e, message);
      } else {
        sendShort(e, message);
      }
      e.eventCursor += 4;
    }
    if (e.eventCursor >= e.eventWords) {
      e.ended = 1;
      e.busy = 0;
      return lastTime;
    }
    record = e.events + e.eventCursor;
    if (record[0] > time) {
      e.busy = 0;
      return lastTime;
    }
  }
}

std::int32_t seek(MidiEngine& e, std::uint32_t time) {
  e.seeking = 1;
  rewind(e);
  e.ended = 0;
  e.position = static_cast<std::int32_t>(dispatch(e, time, true));
  if (e.lineCount > 1 && e.lineCursor < e.lineCount && e.syllableCursor < e.syllableCount &&
      e.lines && e.syllables) {
    const std::int32_t i = e.syllableCursor - 1 < 1 ? 0 : e.syllableCursor - 1;
    const std::int32_t line = e.syllables[i].line;
    if (line >= 0 && line < e.lineCount && windowAlive(e)) {
      post(e, QMID_CUE_SEEK_LINE + static_cast<std::uintptr_t>(line), &e.lines[line]);
      post(e, QMID_CUE_SEEK_SYLLABLE, &e.syllables[i]);
      if (line < e.lineCount - 1 && e.lines[line + 1].leadIn == 0)
        post(e, static_cast<std::uintptr_t>(line + 1), &e.lines[line + 1]);
    }
  }
  e.seeking = 0;
  return 1;
}

void setTempo(MidiEngine& e, std::int32_t beatsPerMinute) {
  e.tempo = beatsPerMinute;
  // Before a song has its own tempo there is nothing to scale against; a tempo below zero
  // stops the clock instead of running it backwards.
  if (e.initialTempo <= 0) return;
  const float ratio = static_cast<float>(beatsPerMinute) / static_cast<float>(e.initialTempo);
  e.tempoRatio = ratio < 0.0f ? 0.0f : ratio;
}

void setKey(MidiEngine& e, std::int32_t semitones) {
  waitIdle(e);
  allNotesOff(e);
  resetOutput(e);
  e.keyOffset = semitones;
}

}  // namespace qmid
