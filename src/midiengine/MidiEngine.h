// The one engine object of QMID: the song store (texts, lyric tables, event list) and the
// state of the output and the sequencer, with the plain functions that work on it.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <type_traits>

#include "Platform.h"
#include "qmid.h"

namespace qmid {

constexpr int kBands = 20;
constexpr int kTrackNames = 100;
constexpr int kTextSize = 256;
constexpr std::int32_t kEventBlockWords = 10000;
// The most blocks a list can have: appendEvent gives up before the word count could overflow.
constexpr std::int32_t kMaxEventBlocks = INT32_MAX / kEventBlockWords - 2;
constexpr int kSyllableBlock = 100;
constexpr int kLineBlock = 10;
constexpr std::uint32_t kTickMs = 20;

// Values that the timer thread, the player's thread or a download thread share are atomic;
// the song's content is written before the timer starts and only read while it runs.
struct MidiEngine {
  char title[kTextSize];  // first member: the start cue hands the player this object's address
  char copyright[kTextSize];
  char trackNames[kTrackNames][kTextSize];
  std::int32_t syllableCount;
  std::int32_t syllableCursor;
  std::int32_t lineCount;
  std::int32_t lineCursor;
  LyricSyllable* syllables;
  LyricLine* lines;
  std::int32_t lineTextLength;
  std::uint32_t lastLineTime;
  std::int32_t eventCursor;
  std::int32_t eventWords;
  std::uint32_t* events;
  std::int32_t eventRoom;  // words allocated; the growth rule's block always fits in it
  std::int32_t initialTempo;
  std::atomic<std::int32_t> levels[kBands];
  std::int32_t trackNameCount;
  std::atomic<std::int32_t> tempo;
  std::atomic<float> tempoRatio;
  std::atomic<std::int32_t> keyOffset;
  platform::MidiOutput* outputDevice;
  platform::WindowHandle playerWindow;
  std::atomic<std::int32_t> position;
  std::int32_t songLength;
  std::atomic<std::int32_t> seeking;
  std::atomic<std::int32_t> ended;
  std::atomic<std::uint32_t> timerId;
  std::atomic<std::int32_t> busy;
  std::atomic<std::int32_t> noteOn[16][128];
};

static_assert(std::is_standard_layout<MidiEngine>::value, "the player reads the title at offset 0");

// Song store.
void clear(MidiEngine& engine);
void rewind(MidiEngine& engine);
void release(MidiEngine& engine);
std::int32_t recordWords(std::int32_t byteCount);
// Reallocates the event list to `words`; on failure frees it (events becomes none), false.
bool resizeEvents(MidiEngine& engine, std::int32_t words);
void appendEvent(MidiEngine& engine, std::uint32_t time, int status, std::int32_t count,
                 const std::uint8_t* data);

// Loading (the loader class is in SongLoader.h).
std::int32_t loadFile(MidiEngine& engine, const char* path);
std::int32_t loadMemory(MidiEngine& engine, const void* block, std::int32_t size);

// Lyrics and song texts, fed by the loader's text events.
void captureText(MidiEngine& engine, int type, std::int32_t length, const std::uint8_t* data,
                 int track, std::uint32_t time);

// Sequencer.
int openOutput(MidiEngine& engine, platform::WindowHandle window);
void sendShort(MidiEngine& engine, std::uint32_t message);
void sendLong(MidiEngine& engine, std::int32_t count, const std::uint8_t* bytes);
void resetOutput(MidiEngine& engine);
void allNotesOff(MidiEngine& engine);
std::int32_t start(MidiEngine& engine);
std::int32_t pause(MidiEngine& engine);
std::int32_t stop(MidiEngine& engine);
void onTimer(void* engine);
void advanceClock(MidiEngine& engine, std::uint32_t ms);
std::uint32_t dispatch(MidiEngine& engine, std::uint32_t time, bool chase);
std::int32_t seek(MidiEngine& engine, std::uint32_t time);
void setTempo(MidiEngine& engine, std::int32_t beatsPerMinute);
void setKey(MidiEngine& engine, std::int32_t semitones);
void waitIdle(MidiEngine& engine);
int drumBand(int key);

// The one-line information text; returns 1, or 0 when no song is loaded.
std::int32_t fileInfo(const MidiEngine& engine, bool songLoaded, char* buffer, std::int32_t size);

}  // namespace qmid
