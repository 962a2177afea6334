// Writes WAV files: header first with the sizes so far, samples as they come, sizes again at
// the end.
#include "WavWriter.h"

#include <cerrno>
#include <cstring>

namespace synth {

namespace {

constexpr std::uint32_t kHeaderBytes = 44;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBytesPerSample = 2;
// The RIFF size field counts in 32 bits.
constexpr std::uint32_t kMaxDataBytes = 0xFFFFFFFFu - kHeaderBytes;

void put16(unsigned char*& at, std::uint16_t v) {
  *at++ = static_cast<unsigned char>(v);
  *at++ = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char*& at, std::uint32_t v) {
  put16(at, static_cast<std::uint16_t>(v));
  put16(at, static_cast<std::uint16_t>(v >> 16));
}

void putTag(unsigned char*& at, const char* tag) {
  std::memcpy(at, tag, 4);
  at += 4;
}

}  // namespace

std::unique_ptr<WavWriter> WavWriter::open(const std::string& path, std::uint32_t sampleRate,
                                           std::string& why) {
  if (path.empty()) {
    why = "the wav output needs a file: QMID_MIDI_OUT=wav:PATH";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    why = "cannot write " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<WavWriter> writer(new WavWriter(file, path, sampleRate));
  writer->writeHeader();
  if (writer->failed_) {
    why = "cannot write " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return writer;
}

WavWriter::WavWriter(std::FILE* file, std::string path, std::uint32_t sampleRate)
    : file_(file), path_(std::move(path)), sampleRate_(sampleRate) {}

WavWriter::~WavWriter() {
  // Also after a failed write: the header then covers what did reach the file.
  const bool failedBefore = failed_;
  if (std::fseek(file_, 0, SEEK_SET) == 0) writeHeader();
  if (std::fclose(file_) != 0 && !failedBefore)
    std::fprintf(stderr, "qmid: cannot write %s: %s\n", path_.c_str(), std::strerror(errno));
}

void WavWriter::writeHeader() {
  unsigned char header[kHeaderBytes];
  unsigned char* at = header;
  putTag(at, "RIFF");
  put32(at, kHeaderBytes - 8 + dataBytes_);
  putTag(at, "WAVE");
  putTag(at, "fmt ");
  put32(at, 16);
  put16(at, 1);  // integer PCM
  put16(at, kChannels);
  put32(at, sampleRate_);
  put32(at, sampleRate_ * kChannels * kBytesPerSample);
  put16(at, kChannels * kBytesPerSample);
  put16(at, 8 * kBytesPerSample);
  putTag(at, "data");
  put32(at, dataBytes_);
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) failed_ = true;
}

void WavWriter::append(const std::int16_t* samples, std::size_t count) {
  if (failed_ || count == 0) return;
  std::size_t bytes = count * kBytesPerSample;
  if (bytes > kMaxDataBytes - dataBytes_) {
    // Past 4 GB (six and a half hours) the format can say no more.
    bytes = (kMaxDataBytes - dataBytes_) / (kChannels * kBytesPerSample) * (kChannels * kBytesPerSample);
    count = bytes / kBytesPerSample;
  }
  // The file is little-endian, as are the machines this builds for.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "samples are written as they lie");
  if (std::fwrite(samples, kBytesPerSample, count, file_) != count) {
    failed_ = true;
    std::fprintf(stderr, "qmid: cannot write %s: %s\n", path_.c_str(), std::strerror(errno));
    return;
  }
  dataBytes_ += static_cast<std::uint32_t>(bytes);
}

}  // namespace synth
