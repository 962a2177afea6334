// The readers allocate everything they need when they are constructed: reading a song, however
// long, touches the heap not once. This program replaces the global allocation functions (and,
// where the linker can wrap them, malloc, calloc and realloc in everything linked statically,
// the reader included) with counting versions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>

#include "MergedMidiReader.h"
#include "MidiFileReader.h"
#include "SmfBuilder.h"

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations{0};

void note() {
  if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#ifdef QUAVIX_WRAP_MALLOC
extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* p, std::size_t size);

void* __wrap_malloc(std::size_t size) {
  note();
  return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  note();
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, std::size_t size) {
  note();
  return __real_realloc(p, size);
}
}
#endif

namespace {

// Goes round the wrapper, so that one operator new counts once.
void* rawAllocate(std::size_t size) {
  note();
  if (size == 0) size = 1;
#ifdef QUAVIX_WRAP_MALLOC
  return __real_malloc(size);
#else
  return std::malloc(size);
#endif
}

void* rawAllocate(std::size_t size, std::align_val_t alignment) {
  note();
  const auto a = static_cast<std::size_t>(alignment);
  return std::aligned_alloc(a, (size + a - 1) / a * a);
}

template <class... Alignment>
void* allocateOrThrow(std::size_t size, Alignment... alignment) {
  void* p = rawAllocate(size, alignment...);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

// Under AddressSanitizer too: the program's own definitions win over the runtime's, and
// malloc/free underneath keep every block visible to it.
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return rawAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return rawAllocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocateOrThrow(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocateOrThrow(size, a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return rawAllocate(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return rawAllocate(size, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

class AllocationCount {
 public:
  AllocationCount() {
    allocations.store(0);
    armed.store(true);
  }
  ~AllocationCount() { armed.store(false); }
  long stop() {
    armed.store(false);
    return allocations.load();
  }
};

constexpr int kNoteTracks = 15;
constexpr int kNotesPerTrack = 150;
constexpr int kTempoChanges = 200;

// Tempo track plus note tracks with running status, controllers, the pitch-bend range idiom,
// program changes, pitch bends, recognised and plain sysex, lyrics and markers.
smf::Bytes buildSong() {
  smf::File file;
  file.header(1, kNoteTracks + 1, 96);

  smf::Track tempo;
  tempo.text(0, 0x03, "Allocation song").meta(0, 0x58, {4, 2, 24, 8}).meta(0, 0x59, {0, 0});
  for (int i = 0; i < kTempoChanges; ++i) {
    if (i % 50 == 0) tempo.text(0, 0x06, "Section " + std::to_string(i / 50));
    tempo.tempo(48, 400000 + static_cast<std::uint32_t>(i % 7) * 50000);
  }
  file.track(tempo.endOfTrack());

  for (int t = 0; t < kNoteTracks; ++t) {
    const auto ch = static_cast<std::uint8_t>(t);
    const auto note = static_cast<std::uint8_t>(0x90 | ch);
    const auto control = static_cast<std::uint8_t>(0xB0 | ch);
    smf::Track track;
    track.text(0, 0x03, "Track " + std::to_string(t + 2));
    if (t == 0) track.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    track.event(0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(t)})
        .event(0, {control, 7, 100})
        .event(0, {control, 101, 0})
        .event(0, {control, 100, 0})
        .event(0, {control, 6, 2});
    for (int i = 0; i < kNotesPerTrack; ++i) {
      const auto key = static_cast<std::uint8_t>(40 + (i * 7 + t) % 48);
      if (t == 0) track.text(6, 0x05, i % 8 == 7 ? "la\r" : "la ");
      track.event(t == 0 ? 0 : 6, {note, key, 100});
      track.event(6, {key, 0});  // running status
      if (i % 10 == 0) track.event(0, {control, 1, static_cast<std::uint8_t>(i % 128)});
      if (i % 15 == 0) track.event(0, {static_cast<std::uint8_t>(0xE0 | ch), 0, 0x50}).event(0, {0, 0x40});
      if (i % 50 == 25) track.sysex(0, {0x7D, 0x01, static_cast<std::uint8_t>(i), 0xF7});
    }
    file.track(track.endOfTrack());
  }
  return file.data;
}

template <class Reader>
class NoteCounter final : public Reader {
 public:
  using Reader::Reader;

  long notes = 0;
  long problems = 0;
  bool ended = false;

  void error(const char*) override { ++problems; }
  void warning(const char*) override { ++problems; }

 protected:
  void onNoteOn(int, int, int) override { ++notes; }
  void onNoteOff(int, int, int) override { ++notes; }
  void onEndOfFile() override { ended = true; }
};

enum class Source { kMemory, kWholeFile, kWindowedFile };

struct Case {
  const char* name;
  bool merged;
  Source source;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"MergedMemory", true, Source::kMemory},
    {"MergedWholeFile", true, Source::kWholeFile},
    {"MergedWindowedFile", true, Source::kWindowedFile},
    {"PlainMemory", false, Source::kMemory},
    {"PlainWholeFile", false, Source::kWholeFile},
    {"PlainWindowedFile", false, Source::kWindowedFile},
};

class ReaderAllocation : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    song_ = new smf::Bytes(buildSong());
    // One file per process: ctest runs the cases in parallel processes.
    path_ = new std::string(::testing::TempDir() + "reader_allocation_song." +
                            std::to_string(getpid()) + ".mid");
    std::FILE* f = std::fopen(path_->c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(song_->data(), 1, song_->size(), f), song_->size());
    ASSERT_EQ(std::fclose(f), 0);
  }
  static void TearDownTestSuite() {
    std::remove(path_->c_str());
    delete path_;
    delete song_;
  }

  // The reader is built before counting starts: construction is where it may allocate.
  template <class Reader>
  void readCounting(Source source) {
    NoteCounter<Reader>* reader;
    if (source == Source::kMemory)
      reader = new NoteCounter<Reader>(song_->data(), static_cast<std::int32_t>(song_->size()), false);
    else
      reader = new NoteCounter<Reader>(path_->c_str(), nullptr,
                                       source == Source::kWholeFile ? midifile::ByteSource::kWholeFile
                                                                    : midifile::ByteSource::kWindowed);
    AllocationCount count;
    const int result = reader->readFile();
    const long allocated = count.stop();

    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(reader->ended);
    EXPECT_EQ(reader->problems, 0);
    EXPECT_EQ(reader->notes, 2L * kNoteTracks * kNotesPerTrack);
    delete reader;
  }

  static smf::Bytes* song_;
  static std::string* path_;
};

smf::Bytes* ReaderAllocation::song_ = nullptr;
std::string* ReaderAllocation::path_ = nullptr;

// Without this the other test could pass because nothing is counted at all (a sanitizer
// runtime taking the allocation functions back, say).
TEST(ReaderAllocationCounter, SeesOperatorNewAndMalloc) {
  AllocationCount count;
  void* volatile block = ::operator new(8);
  ::operator delete(block);
  long expected = 1;
#ifdef QUAVIX_WRAP_MALLOC
  void* volatile raw = std::malloc(8);
  std::free(raw);
  ++expected;
#endif
  EXPECT_EQ(count.stop(), expected);
}

TEST_P(ReaderAllocation, ReadsTheWholeSongWithoutAllocating) {
  if (GetParam().merged)
    readCounting<midifile::MergedMidiReader>(GetParam().source);
  else
    readCounting<midifile::MidiFileReader>(GetParam().source);
}

INSTANTIATE_TEST_SUITE_P(Sources, ReaderAllocation, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
