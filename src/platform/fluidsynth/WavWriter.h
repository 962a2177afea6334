// A 16-bit stereo PCM WAV file written as it grows; the header tells the true length once the
// writer is destroyed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace synth {

class WavWriter {
 public:
  static std::unique_ptr<WavWriter> open(const std::string& path, std::uint32_t sampleRate,
                                         std::string& why);
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Interleaved left/right samples.
  void append(const std::int16_t* samples, std::size_t count);

 private:
  WavWriter(std::FILE* file, std::string path, std::uint32_t sampleRate);
  void writeHeader();

  std::FILE* file_;
  std::string path_;
  std::uint32_t sampleRate_;
  std::uint32_t dataBytes_ = 0;
  bool failed_ = false;
};

}  // namespace synth
