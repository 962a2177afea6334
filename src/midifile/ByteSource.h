// Random access to the bytes of one song, in a file or in memory, through a single
// peek primitive over a window; also writes a file through the same window.
#pragma once

#include <cstdint>
#include <cstdio>

namespace midifile {

class ByteSource {
 public:
  // mode for the file constructor
  static constexpr std::uint8_t kWindowed = 0;
  static constexpr std::uint8_t kWholeFile = 1;
  static constexpr std::uint8_t kWrite = 2;
  static constexpr std::uint32_t kWindowSize = 1024;

  ByteSource(const char* fileName, std::FILE* stream, std::uint8_t mode);
  // Read mode never writes through block; it is non-const only so that one pointer type serves
  // both directions.
  ByteSource(const void* block, std::int32_t length, bool owns);
  virtual ~ByteSource();

  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  virtual void error(const char* message);
  virtual void warning(const char* message);

  std::int32_t size() const { return size_; }
  std::uint32_t capacity() const { return capacity_; }
  std::FILE* stream() const { return stream_; }
  const char* name() const { return name_; }

  // How many bytes one peek at position can deliver at most.
  std::int32_t available(std::int32_t position) const;
  // count contiguous bytes at position, valid until the next peek; none when out of reach.
  // Inline for the common case of a read inside the window: every byte the reader looks at
  // comes through here.
  std::uint8_t* peekAt(std::int32_t position, std::int32_t count) {
    if (!writeMode_ && buffer_ && position >= windowStart_ && count >= 0 &&
        static_cast<std::int64_t>(position) + count <=
            static_cast<std::int64_t>(windowStart_) + windowLength_)
      return buffer_ + (position - windowStart_);
    return peekOutsideWindow(position, count);
  }
  // Writes a pending write-mode window back to the file.
  void flush();

 private:
  std::uint8_t* peekOutsideWindow(std::int32_t position, std::int32_t count);
  bool refill(std::int32_t position);

  const char* name_ = nullptr;
  std::FILE* stream_ = nullptr;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t windowLength_ = 0;
  std::int32_t windowStart_ = 0;
  bool writeMode_ = false;
  std::uint8_t fallback_[16] = {};
  bool ownsBuffer_ = false;
  bool ownsStream_ = false;
  std::int32_t size_ = 0;
};

}  // namespace midifile
