// Window management of ByteSource: refills in read mode, write-back in write mode.
#include "ByteSource.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "LargePages.h"

namespace midifile {

ByteSource::ByteSource(const char* fileName, std::FILE* stream, std::uint8_t mode)
    : name_(fileName), ownsBuffer_(true) {
  if (stream) {
    stream_ = stream;
    ownsStream_ = false;
  } else {
    ownsStream_ = true;
    if (fileName && mode == kWrite) {
      stream_ = std::fopen(fileName, "wb");
      writeMode_ = true;
    } else if (fileName) {
      stream_ = std::fopen(fileName, "rb");
    }
    if (!fileName && mode == kWrite) writeMode_ = true;
  }
  if (stream_ && mode != kWrite && std::fseek(stream_, 0, SEEK_END) == 0) {
    long end = std::ftell(stream_);
    // Positions are 32-bit: a larger file is read up to the first 2 GiB.
    size_ = end < 0 ? 0 : (end > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(end));
    std::fseek(stream_, 0, SEEK_SET);
    // A stream that opens but cannot be read (a folder) holds no bytes, whatever its end says.
    if (size_ > 0 && std::fgetc(stream_) == EOF && std::ferror(stream_)) size_ = 0;
    std::fseek(stream_, 0, SEEK_SET);
  }
  if (size_ > 0 && mode == kWholeFile) {
    capacity_ = static_cast<std::uint32_t>(size_);
    buffer_ = static_cast<std::uint8_t*>(std::malloc(capacity_));
    if (buffer_) {
      common::adviseLargePages(buffer_, capacity_);  // read in one go
      peekAt(0, size_);
    }
  }
  if (stream_ && !buffer_) {
    capacity_ = kWindowSize;
    buffer_ = static_cast<std::uint8_t*>(std::malloc(capacity_));
  }
  if (!buffer_) {
    buffer_ = fallback_;
    capacity_ = sizeof fallback_;
    ownsBuffer_ = false;
  }
}

ByteSource::ByteSource(const void* block, std::int32_t length, bool owns)
    : buffer_(static_cast<std::uint8_t*>(const_cast<void*>(block))), ownsBuffer_(owns) {
  if (block && length > 0) {
    size_ = length;
    capacity_ = static_cast<std::uint32_t>(length);
    windowLength_ = capacity_;
  }
}

ByteSource::~ByteSource() {
  flush();
  if (stream_ && ownsStream_) std::fclose(stream_);
  stream_ = nullptr;
  if (buffer_ && ownsBuffer_) std::free(buffer_);
  buffer_ = nullptr;
}

void ByteSource::error(const char* message) { std::fprintf(stderr, "error: %s\n", message); }

void ByteSource::warning(const char* message) { std::fprintf(stderr, "warning: %s\n", message); }

std::int32_t ByteSource::available(std::int32_t position) const {
  if (position < 0) return 0;
  if (writeMode_) return position <= size_ ? static_cast<std::int32_t>(capacity_) : 0;
  if (position >= size_) return 0;
  std::int64_t rest = static_cast<std::int64_t>(size_) - position;
  return rest < capacity_ ? static_cast<std::int32_t>(rest) : static_cast<std::int32_t>(capacity_);
}

bool ByteSource::refill(std::int32_t position) {
  windowStart_ = position;
  windowLength_ = static_cast<std::uint32_t>(available(position));
  if (std::fseek(stream_, position, SEEK_SET) != 0 ||
      std::fread(buffer_, windowLength_, 1, stream_) != 1) {
    windowLength_ = 0;
    return false;
  }
  return true;
}

std::uint8_t* ByteSource::peekOutsideWindow(std::int32_t position, std::int32_t count) {
  if (position < 0 || count < 0 || !buffer_ || capacity_ < static_cast<std::uint32_t>(count))
    return nullptr;
  const std::int64_t end = static_cast<std::int64_t>(position) + count;
  const std::int64_t windowEnd = static_cast<std::int64_t>(windowStart_) + windowLength_;

  if (!writeMode_) {
    if (end > size_) return nullptr;
    const bool inside = position >= windowStart_ && end <= windowEnd;
    if (!inside) {
      if (!stream_ || !refill(position)) return nullptr;
    }
    return buffer_ + (position - windowStart_);
  }

  if (position > size_ || end > INT32_MAX) return nullptr;  // no gaps in the written file
  const std::int64_t windowLimit = static_cast<std::int64_t>(windowStart_) + capacity_;
  if (stream_ && (position < windowStart_ || position > windowEnd || end > windowLimit)) {
    flush();
    // Moving on would drop bytes that could not be written; keep them for the next flush.
    if (windowLength_ > 0) return nullptr;
    windowStart_ = position;
    windowLength_ = static_cast<std::uint32_t>(count);
  } else {
    if (position < windowStart_ || end > windowLimit) return nullptr;
    if (end > windowEnd) windowLength_ = static_cast<std::uint32_t>(end - windowStart_);
  }
  if (end > size_) size_ = static_cast<std::int32_t>(end);
  return buffer_ + (position - windowStart_);
}

void ByteSource::flush() {
  if (!writeMode_ || !stream_ || windowLength_ == 0) return;
  if (std::fseek(stream_, windowStart_, SEEK_SET) == 0 &&
      std::fwrite(buffer_, windowLength_, 1, stream_) == 1 && std::fflush(stream_) == 0) {
    windowLength_ = 0;
  } else {
    error("write error (maybe disk full)");
  }
}

}  // namespace midifile
