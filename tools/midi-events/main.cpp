// midi-events: prints one line per event operation that the reader calls for a MIDI file,
// merged in time order (as the player loads it) or, with --tracks, track after track.
#include <cstdio>
#include <cstring>

#include "EventPrinter.h"
#include "MergedMidiReader.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: midi-events [--tracks] FILE\n"
               "Prints \"<track> <tick> <ms> <operation> <arguments>\" for every event the\n"
               "reader reports; errors and warnings go to standard error.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool tracks = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tracks") == 0)
      tracks = true;
    else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 || path)
      return usage();
    else
      path = argv[i];
  }
  if (!path) return usage();
  if (std::FILE* probe = std::fopen(path, "rb")) {
    std::fclose(probe);
  } else {
    std::fprintf(stderr, "midi-events: cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }

  int result;
  if (tracks) {
    midifile::EventPrinter<midifile::MidiFileReader> reader(path, nullptr,
                                                            midifile::ByteSource::kWholeFile);
    result = reader.readFile();
  } else {
    midifile::EventPrinter<midifile::MergedMidiReader> reader(path, nullptr,
                                                              midifile::ByteSource::kWholeFile);
    result = reader.readFile();
  }
  std::fflush(stdout);
  return result == 1 ? 0 : 1;
}
