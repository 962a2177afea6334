// Reads every saved fuzzer crash input with the merged and the plain reader, from memory and
// through the file window. Passing means no crash; the sanitizer build catches the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MergedMidiReader.h"
#include "MidiFileReader.h"

namespace {

namespace fs = std::filesystem;
using midifile::MergedMidiReader;
using midifile::MidiFileReader;

template <class Reader>
class Quiet : public Reader {
 public:
  using Reader::Reader;
  void error(const char*) override {}
  void warning(const char*) override {}
  void onLargePause(std::uint32_t) override {}
};

std::vector<fs::path> savedInputs() {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::directory_iterator(FUZZ_REGRESSIONS_DIR))
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
      paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::vector<std::uint8_t> contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The routings the fuzzer uses: none, everything raw, every controller to one operation, raw
// system exclusive and system messages.
constexpr std::uint32_t kRoutings[] = {0, 0x7F8, midifile::kRouteAllControllers,
                                       midifile::kRouteSysexRaw | midifile::kRouteSystem};

template <class Reader>
void readFromMemory(const std::vector<std::uint8_t>& bytes, std::uint32_t flags) {
  // An exact-size heap block owned by the reader, so that any read past the end is caught.
  void* block = bytes.empty() ? nullptr : std::malloc(bytes.size());
  if (block) std::memcpy(block, bytes.data(), bytes.size());
  Quiet<Reader> reader(block, static_cast<std::int32_t>(bytes.size()), true);
  reader.routingFlags = flags;
  const int result = reader.readFile();
  EXPECT_TRUE(result == 0 || result == 1);
}

template <class Reader>
void readFromFile(const fs::path& path, std::uint8_t mode) {
  Quiet<Reader> reader(path.c_str(), nullptr, mode);
  const int result = reader.readFile();
  EXPECT_TRUE(result == 0 || result == 1);
}

TEST(FuzzRegressions, SavedCrashInputsReadWithoutFault) {
  const std::vector<fs::path> paths = savedInputs();
  if (paths.empty()) GTEST_SKIP() << "no saved crash inputs in " << FUZZ_REGRESSIONS_DIR;
  for (const fs::path& path : paths) {
    SCOPED_TRACE(path.filename().string());
    const std::vector<std::uint8_t> bytes = contents(path);
    for (std::uint32_t flags : kRoutings) {
      readFromMemory<MergedMidiReader>(bytes, flags);
      readFromMemory<MidiFileReader>(bytes, flags);
    }
    readFromFile<MergedMidiReader>(path, midifile::ByteSource::kWindowed);
    readFromFile<MidiFileReader>(path, midifile::ByteSource::kWindowed);
    readFromFile<MergedMidiReader>(path, midifile::ByteSource::kWholeFile);
  }
}

}  // namespace
