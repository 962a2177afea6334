// qmid-dump: loads a MIDI file with the engine's own loader (nothing is played) and prints
// what the song store holds: the event list, texts, lyric tables and the information text.
#include <cstdio>
#include <cstring>
#include <string>

#include "EventPrinter.h"
#include "MidiEngine.h"
#include "posix/NullMidiOutput.h"
#include "posix/SystemServices.h"

namespace {

class NullOutputService : public platform::MidiOutputService {
 public:
  std::unique_ptr<platform::MidiOutput> openDefault(std::string&) override {
    return std::make_unique<platform::NullMidiOutput>();
  }
};

class EnglishLabels : public platform::StringService {
 public:
  std::string load(std::uint32_t id) override {
    return platform::labelText(id, platform::Language::English);
  }
};

std::string escaped(const char* text, std::size_t length) {
  std::string out;
  midifile::appendEscaped(out, reinterpret_cast<const std::uint8_t*>(text),
                          static_cast<std::int32_t>(length));
  return out;
}

std::string escaped(const char* text) { return escaped(text, std::strlen(text)); }

int usage() {
  std::fprintf(stderr, "usage: qmid-dump [--summary] FILE\n");
  return 2;
}

std::int32_t countRecords(const qmid::MidiEngine& e) {
  std::int32_t count = 0;
  for (std::int32_t w = 0; w < e.eventWords; ++count) {
    const std::uint32_t header = e.events[w + 2];
    w += (header & 0x80000000u) ? qmid::recordWords(header & 0xFFFFFF) : 4;
  }
  return count;
}

void printRecords(const qmid::MidiEngine& e) {
  std::string line;
  for (std::int32_t w = 0; w < e.eventWords;) {
    const std::uint32_t* record = e.events + w;
    if (record[2] & 0x80000000u) {
      const std::int32_t n = record[2] & 0xFFFFFF;
      line = "record " + std::to_string(record[0]) + " long " + std::to_string(n) + " ";
      midifile::appendHex(line, reinterpret_cast<const std::uint8_t*>(record + 3), n);
      w += qmid::recordWords(n);
    } else {
      char text[64];
      std::snprintf(text, sizeof text, "record %u %02x %02x %02x", record[0], record[2] & 0xFF,
                    (record[2] >> 8) & 0xFF, (record[2] >> 16) & 0xFF);
      line = text;
      w += 4;
    }
    std::puts(line.c_str());
  }
}

void printSong(const qmid::MidiEngine& e) {
  printRecords(e);
  std::printf("title %s\n", escaped(e.title).c_str());
  std::printf("copyright %s\n", escaped(e.copyright).c_str());
  std::printf("trackNameCount %d\n", e.trackNameCount);
  for (int k = 1; k <= e.trackNameCount && k <= qmid::kTrackNames; ++k)
    if (e.trackNames[k - 1][0]) std::printf("trackName %d %s\n", k, escaped(e.trackNames[k - 1]).c_str());
  std::printf("lineCount %d\n", e.lineCount);
  for (int i = 0; e.lines && i < e.lineCount; ++i)
    std::printf("line %d %u %d %s\n", i, e.lines[i].startTime, e.lines[i].leadIn,
                escaped(e.lines[i].text).c_str());
  std::printf("syllableCount %d\n", e.syllableCount);
  for (int i = 0; e.syllables && i < e.syllableCount; ++i) {
    const LyricSyllable& s = e.syllables[i];
    std::printf("syllable %d %u %d %d %d\n", i, s.time, s.line, s.offset, s.length);
  }
  char info[4096];
  qmid::fileInfo(e, true, info, sizeof info);
  std::printf("info %s\n", escaped(info).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool summary = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--summary") == 0)
      summary = true;
    else if (argv[i][0] == '-' || path)
      return usage();
    else
      path = argv[i];
  }
  if (!path) return usage();

  NullOutputService output;
  EnglishLabels labels;
  platform::Services services = platform::services();
  services.midiOut = &output;
  services.strings = &labels;
  platform::install(services);

  static qmid::MidiEngine engine;
  qmid::openOutput(engine, nullptr);
  const std::int32_t result = qmid::loadFile(engine, path);
  if (result < 0) {
    std::fprintf(stderr, "qmid-dump: cannot load %s: %d\n", path, static_cast<int>(result));
    qmid::release(engine);
    return 1;
  }
  std::printf("songLength %u\n", static_cast<std::uint32_t>(engine.songLength));
  std::printf("initialTempo %d\n", engine.initialTempo);
  std::printf("eventWords %d\n", engine.eventWords);
  if (summary)
    std::printf("records %d\n", countRecords(engine));
  else
    printSong(engine);
  qmid::release(engine);
  return 0;
}
