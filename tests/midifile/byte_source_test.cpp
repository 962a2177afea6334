// ByteSource: the windowed, whole-file and in-place memory read strategies, write mode,
// and the default error and warning texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ByteSource.h"

namespace {

using midifile::ByteSource;
using Bytes = std::vector<std::uint8_t>;

// Every position gets a byte that differs from its neighbours and from the positions
// 256 apart, so a window served from the wrong place shows.
std::uint8_t patternAt(std::int32_t i) { return static_cast<std::uint8_t>(i * 7 + (i >> 8) * 13); }

Bytes pattern(std::int32_t length, std::int32_t from = 0) {
  Bytes out;
  for (std::int32_t i = 0; i < length; ++i) out.push_back(patternAt(from + i));
  return out;
}

Bytes bytesAt(const std::uint8_t* p, std::int32_t count) { return Bytes(p, p + count); }

class ByteSourceFile : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/bytesource-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return dir_ + "/" + name; }

  std::string write(const char* name, const Bytes& bytes) const {
    const std::string p = path(name);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  static Bytes read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string dir_;
};

// The test keeps the stream, so ftell shows where the source last read and how much.
TEST_F(ByteSourceFile, WindowIsReadOnceAndRefilledExactlyAtTheRequest) {
  const Bytes content = pattern(3000);
  std::FILE* f = std::fopen(write("song.mid", content).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteSource source("song.mid", f, ByteSource::kWindowed);
    EXPECT_EQ(source.size(), 3000);
    EXPECT_EQ(source.capacity(), 1024u);
    EXPECT_EQ(source.stream(), f);

    const std::uint8_t* window = source.peekAt(0, 4);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(std::ftell(f), 1024);
    EXPECT_EQ(bytesAt(window, 4), pattern(4));
    EXPECT_EQ(source.peekAt(500, 4), window + 500);
    EXPECT_EQ(source.peekAt(1020, 4), window + 1020);
    EXPECT_EQ(std::ftell(f), 1024) << "requests inside the window read nothing";

    // Straddles the window end: refilled from the request itself, not from an aligned start.
    const std::uint8_t* p = source.peekAt(1022, 4);
    EXPECT_EQ(p, window);
    EXPECT_EQ(std::ftell(f), 1022 + 1024);
    EXPECT_EQ(bytesAt(p, 1024), pattern(1024, 1022));

    p = source.peekAt(2990, 10);
    EXPECT_EQ(p, window);
    EXPECT_EQ(std::ftell(f), 3000) << "the last refill reads only the 10 bytes left";
    EXPECT_EQ(bytesAt(p, 10), pattern(10, 2990));
    EXPECT_EQ(source.peekAt(2995, 10), nullptr);

    // Back to an earlier place.
    p = source.peekAt(100, 8);
    EXPECT_EQ(std::ftell(f), 1124);
    EXPECT_EQ(bytesAt(p, 8), pattern(8, 100));
  }
  // The caller's stream is left open.
  EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
  EXPECT_EQ(std::fclose(f), 0);
}

TEST_F(ByteSourceFile, RequestsOutOfReachFailWithoutTouchingTheFile) {
  std::FILE* f = std::fopen(write("song.mid", pattern(3000)).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteSource source(nullptr, f, ByteSource::kWindowed);
    ASSERT_NE(source.peekAt(0, 4), nullptr);
    const long before = std::ftell(f);
    struct Case {
      std::int32_t position, count;
    };
    for (Case c : {Case{0, 1025}, Case{-1, 1}, Case{2999, 2}, Case{3000, 1}, Case{INT32_MAX, 1}}) {
      EXPECT_EQ(source.peekAt(c.position, c.count), nullptr) << c.position << "," << c.count;
      EXPECT_EQ(std::ftell(f), before) << c.position << "," << c.count;
    }
    // Zero bytes at the end lie outside the window; the refill has nothing to read.
    EXPECT_EQ(source.peekAt(3000, 0), nullptr);

    EXPECT_EQ(source.available(-1), 0);
    EXPECT_EQ(source.available(0), 1024);
    EXPECT_EQ(source.available(2990), 10);
    EXPECT_EQ(source.available(3000), 0);
  }
  std::fclose(f);
}

TEST_F(ByteSourceFile, WholeFileIsReadAtConstructionAndNeverAgain) {
  const Bytes content = pattern(3000);
  std::FILE* f = std::fopen(write("song.mid", content).c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteSource source(nullptr, f, ByteSource::kWholeFile);
    EXPECT_EQ(std::ftell(f), 3000);
    EXPECT_EQ(source.capacity(), 3000u);
    EXPECT_EQ(source.available(10), 2990);

    std::rewind(f);
    const std::uint8_t* all = source.peekAt(0, 3000);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(bytesAt(all, 3000), content);
    EXPECT_EQ(source.peekAt(1022, 4), all + 1022);
    EXPECT_EQ(source.peekAt(2990, 10), all + 2990);
    EXPECT_EQ(source.peekAt(0, 3001), nullptr);
    EXPECT_EQ(source.peekAt(2995, 10), nullptr);
    EXPECT_EQ(std::ftell(f), 0);
  }
  std::fclose(f);
}

TEST_F(ByteSourceFile, EmptyFileInWholeFileModeGetsTheWindowAndServesNothing) {
  ByteSource source(write("empty.mid", {}).c_str(), nullptr, ByteSource::kWholeFile);
  EXPECT_NE(source.stream(), nullptr);
  EXPECT_EQ(source.size(), 0);
  EXPECT_EQ(source.capacity(), 1024u);
  EXPECT_EQ(source.peekAt(0, 1), nullptr);
  EXPECT_EQ(source.available(0), 0);
}

TEST_F(ByteSourceFile, FileThatCannotBeOpenedIsAnEmptySource) {
  write("regular-file", pattern(10));
  const std::string missing = path("regular-file/song.mid");
  for (std::uint8_t mode : {ByteSource::kWindowed, ByteSource::kWholeFile}) {
    ByteSource source(missing.c_str(), nullptr, mode);
    EXPECT_EQ(source.stream(), nullptr);
    EXPECT_EQ(source.size(), 0);
    EXPECT_EQ(source.capacity(), 16u);
    EXPECT_EQ(source.peekAt(0, 1), nullptr);
  }
}

TEST(ByteSourceMemory, BlockIsServedInPlace) {
  std::uint8_t* block = static_cast<std::uint8_t*>(std::malloc(100));
  std::memcpy(block, pattern(100).data(), 100);
  {
    ByteSource source(block, 100, false);
    EXPECT_EQ(source.size(), 100);
    EXPECT_EQ(source.capacity(), 100u);
    EXPECT_EQ(source.stream(), nullptr);
    EXPECT_EQ(source.peekAt(96, 4), block + 96);
    EXPECT_EQ(source.peekAt(0, 100), block);
    EXPECT_EQ(source.peekAt(97, 4), nullptr);
    EXPECT_EQ(source.peekAt(0, 101), nullptr);
    EXPECT_EQ(source.available(99), 1);
    EXPECT_EQ(source.available(100), 0);
  }
  // Not owned: still ours to use and free (the sanitizer reports a use after free otherwise).
  EXPECT_EQ(block[96], patternAt(96));
  std::free(block);

  // Owned: freed by the source (the leak checker reports it otherwise).
  ByteSource owning(std::malloc(10), 10, true);
  EXPECT_NE(owning.peekAt(0, 10), nullptr);
}

TEST(ByteSourceMemory, NoBlockOrEmptyBlockServesNothing) {
  std::uint8_t byte = 0;
  ByteSource none(nullptr, 100, false);
  ByteSource empty(&byte, 0, false);
  for (ByteSource* source : {&none, &empty}) {
    EXPECT_EQ(source->size(), 0);
    EXPECT_EQ(source->capacity(), 0u);
    EXPECT_EQ(source->peekAt(0, 1), nullptr);
    EXPECT_EQ(source->available(0), 0);
  }
}

TEST_F(ByteSourceFile, WriteModeExtendsOneWindowAndFlushesItWhenItMustMove) {
  const std::string file = path("out.mid");
  {
    ByteSource sink(file.c_str(), nullptr, ByteSource::kWrite);
    ASSERT_NE(sink.stream(), nullptr);
    EXPECT_EQ(sink.size(), 0);

    std::uint8_t* window = sink.peekAt(0, 10);
    ASSERT_NE(window, nullptr);
    std::memcpy(window, pattern(10).data(), 10);
    ASSERT_EQ(sink.peekAt(10, 10), window + 10);
    std::memcpy(window + 10, pattern(10, 10).data(), 10);
    ASSERT_EQ(sink.peekAt(20, 5), window + 20);
    std::memcpy(window + 20, pattern(5, 20).data(), 5);
    EXPECT_EQ(sink.size(), 25);
    EXPECT_EQ(sink.available(25), 1024);
    EXPECT_EQ(sink.available(26), 0);

    EXPECT_EQ(sink.peekAt(30, 1), nullptr) << "would leave a gap";
    EXPECT_EQ(sink.peekAt(5, 3), window + 5);
    EXPECT_EQ(sink.size(), 25);

    // Past windowStart + 1024: the 25 bytes go to position 0 and the window restarts at 25.
    std::uint8_t* next = sink.peekAt(25, 1000);
    ASSERT_EQ(next, window);
    std::memcpy(next, pattern(1000, 25).data(), 1000);
    EXPECT_EQ(sink.size(), 1025);

    // Going back flushes the 1000 bytes and overwrites the start.
    std::uint8_t* start = sink.peekAt(0, 3);
    ASSERT_NE(start, nullptr);
    std::memcpy(start, "abc", 3);
    sink.flush();
    sink.flush();  // nothing pending: must not write the bytes again elsewhere

    // A window after an explicit flush starts where asked.
    std::uint8_t* tail = sink.peekAt(1025, 2);
    ASSERT_NE(tail, nullptr);
    std::memcpy(tail, "yz", 2);
    EXPECT_EQ(sink.size(), 1027);
  }
  // Destruction wrote the pending "yz".
  Bytes expected = pattern(1025);
  std::memcpy(expected.data(), "abc", 3);
  expected.push_back('y');
  expected.push_back('z');
  EXPECT_EQ(read(file), expected);
}

TEST_F(ByteSourceFile, WriteModeWithoutAFileServesOnlyTheFallbackBuffer) {
  write("regular-file", pattern(10));
  ByteSource sink(path("regular-file/out.mid").c_str(), nullptr, ByteSource::kWrite);
  EXPECT_EQ(sink.stream(), nullptr);
  EXPECT_EQ(sink.capacity(), 16u);
  ASSERT_NE(sink.peekAt(0, 10), nullptr);
  EXPECT_EQ(sink.peekAt(10, 10), nullptr) << "the window would outgrow the 16-byte buffer";
  EXPECT_EQ(sink.peekAt(0, 17), nullptr);
}

class RecordingSource : public ByteSource {
 public:
  using ByteSource::ByteSource;
  void error(const char* message) override { errors.emplace_back(message); }
  std::vector<std::string> errors;
};

TEST(ByteSourceReports, DefaultsWriteTheTextsToStandardError) {
  ByteSource source(nullptr, 0, false);
  testing::internal::CaptureStderr();
  source.error("bad chunk");
  source.warning("odd value 7");
  source.error("%s %d");  // the message is data, never a format
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "error: bad chunk\nwarning: odd value 7\nerror: %s %d\n");
}

// /dev/full accepts the open and the seek and fails the write.
TEST(ByteSourceReports, FailedWriteBackIsReportedAndRetried) {
  std::string stderrText;
  {
    RecordingSource sink("/dev/full", nullptr, ByteSource::kWrite);
    ASSERT_NE(sink.stream(), nullptr);
    std::uint8_t* window = sink.peekAt(0, 10);
    ASSERT_NE(window, nullptr);
    std::memset(window, 1, 10);
    sink.flush();
    sink.flush();
    EXPECT_EQ(sink.errors, (std::vector<std::string>{"write error (maybe disk full)",
                                                     "write error (maybe disk full)"}));
    // The subclass is gone when the destructor's flush fails: the default reports.
    testing::internal::CaptureStderr();
  }
  stderrText = testing::internal::GetCapturedStderr();
  EXPECT_EQ(stderrText, "error: write error (maybe disk full)\n");
}

}  // namespace

namespace {

// Regression: a folder opens as a stream whose end lies at 2^63; it used to become a 2 GiB
// source that every peek failed to read, and the loader took it for a song.
TEST(ByteSourceFileRegression, FolderOpenedAsAFileHoldsNoBytes) {
  for (std::uint8_t mode : {midifile::ByteSource::kWindowed, midifile::ByteSource::kWholeFile}) {
    midifile::ByteSource source(::testing::TempDir().c_str(), nullptr, mode);
    EXPECT_EQ(source.size(), 0) << "mode " << int{mode};
    EXPECT_EQ(source.peekAt(0, 1), nullptr);
  }
}

}  // namespace
