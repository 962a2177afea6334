// Song texts and karaoke lyrics from the text events of a loading song: "@T" title tags,
// copyright, track names, and syllables where "/" or "\" starts a new line.
#include <cstdlib>
#include <cstring>

#include "MidiEngine.h"

namespace qmid {

namespace {

constexpr std::uint32_t kLeadInMs = 5000;
constexpr std::uint32_t kPauseMs = 20000;

bool isBreakChar(char c) { return c == '\n' || c == '\r' || c == '\b'; }

// Removes LF, CR and backspace from the end, then from the start.
void trimBreaks(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && isBreakChar(text[length - 1])) text[--length] = 0;
  std::size_t start = 0;
  while (start < length && isBreakChar(text[start])) ++start;
  if (start > 0) std::memmove(text, text + start, length - start + 1);
}

void trimBlanks(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t')) text[--length] = 0;
}

// Replaces a stored text when the new one fits.
void storeText(char* field, const char* text) {
  if (std::strlen(text) >= static_cast<std::size_t>(kTextSize)) return;
  std::strcpy(field, text);
  trimBlanks(field);
}

// Grows a zero-filled table in blocks before one more entry is added; a table that cannot
// grow is given up, so that it is either big enough or missing.
template <class Record>
void growFor(Record*& table, std::int32_t count, std::int32_t block) {
  if (!table || (count + 1) / block == count / block) return;
  const std::size_t oldEntries = static_cast<std::size_t>(count / block + 1) * block;
  const std::size_t newEntries = static_cast<std::size_t>((count + 1) / block + 1) * block;
  void* grown = std::realloc(table, newEntries * sizeof(Record));
  if (!grown) {
    std::free(table);
    table = nullptr;
    return;
  }
  table = static_cast<Record*>(grown);
  std::memset(table + oldEntries, 0, (newEntries - oldEntries) * sizeof(Record));
}

void addTitleLine(MidiEngine& e, char* part) {
  trimBreaks(part);
  std::size_t length = std::strlen(e.title);
  if (length > 0 && length < kTextSize - 1) {
    e.title[length++] = '\n';
    e.title[length] = 0;
  }
  if (length + std::strlen(part) < kTextSize) std::strcat(e.title, part);
  trimBlanks(e.title);
}

void addSyllable(MidiEngine& e, const char* text, std::uint32_t time) {
  if (e.syllableCursor > 0 && e.syllables && e.syllables[e.syllableCursor].time == time) return;

  const bool lineBreak = text[0] == '/' || text[0] == '\\';
  if (lineBreak) {
    ++text;
    growFor(e.syllables, e.syllableCount, kSyllableBlock);
    growFor(e.lines, e.lineCount, kLineBlock);
    ++e.lineCount;
    ++e.syllableCount;
    ++e.lineCursor;
    ++e.syllableCursor;
    e.lineTextLength = 0;
  } else {
    growFor(e.syllables, e.syllableCount, kSyllableBlock);
    ++e.syllableCount;
    ++e.syllableCursor;
  }
  const std::int32_t length = static_cast<std::int32_t>(std::strlen(text));
  if (e.syllables) {
    LyricSyllable& syllable = e.syllables[e.syllableCursor];
    syllable.time = time;
    syllable.line = e.lineCursor;
    syllable.offset = e.lineTextLength;
    syllable.length = length;
  }
  if (e.lines) {
    LyricLine& line = e.lines[e.lineCursor];
    if (e.lineTextLength == 0) {
      if (length < kTextSize) std::strcpy(line.text, text);
    } else if (std::strlen(line.text) + static_cast<std::size_t>(length) < kTextSize) {
      std::strcat(line.text, text);
    }
    if (e.lineTextLength == 0) {
      if (e.lineCursor == 0) {
        line.leadIn = 1;
        line.startTime = 0;
      } else if (e.lineCursor == 1) {
        line.leadIn = 1;
        line.startTime = time > kLeadInMs ? time - kLeadInMs : 0;
        e.lastLineTime = time;
      } else {
        if (time - e.lastLineTime > kPauseMs) {
          line.leadIn = 1;
          line.startTime = time - kLeadInMs;
        } else {
          line.leadIn = 0;
          line.startTime = e.lastLineTime;
        }
        e.lastLineTime = time;
      }
    }
  }
  e.lineTextLength += length;
}

}  // namespace

void captureText(MidiEngine& e, int type, std::int32_t length, const std::uint8_t* data, int track,
                 std::uint32_t time) {
  if (!data) return;
  char text[512];
  const std::size_t limit = length < 511 ? static_cast<std::size_t>(length < 0 ? 0 : length) : 511;
  std::size_t n = 0;
  while (n < limit && data[n] != 0) {
    text[n] = static_cast<char>(data[n]);
    ++n;
  }
  text[n] = 0;
  trimBreaks(text);

  switch (type) {
    case 1:
    case 5:
      if (length >= 2 && text[0] == '@') {
        if (std::strlen(text) < 2) return;
        if (text[1] == 'T') addTitleLine(e, text + 2);
        return;
      }
      addSyllable(e, text, time);
      return;
    case 2:
      storeText(e.copyright, text);
      return;
    case 3:
      if (track < 1 || track > kTrackNames) return;
      storeText(e.trackNames[track - 1], text);
      if (track > e.trackNameCount) e.trackNameCount = track;
      return;
    default:
      return;
  }
}

}  // namespace qmid
