// WAV reading and the measurements of the rendering tests.
#include "WavAnalysis.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace wav {

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::size_t index(const Audio& audio, double ms) {
  const double i = ms * audio.sampleRate / 1000.0;
  if (i <= 0) return 0;
  return std::min(audio.mono.size(), static_cast<std::size_t>(i));
}

}  // namespace

Audio read(const std::string& path) {
  Audio audio;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 44) {
    audio.problem = "shorter than a header: " + std::to_string(b.size()) + " bytes";
    return audio;
  }
  const std::string riff(b.begin(), b.begin() + 4), wave(b.begin() + 8, b.begin() + 12),
      fmt(b.begin() + 12, b.begin() + 16), data(b.begin() + 36, b.begin() + 40);
  if (riff != "RIFF" || wave != "WAVE" || fmt != "fmt " || data != "data") {
    audio.problem = "not a canonical WAV header";
    return audio;
  }
  if (le16(b, 20) != 1 || le16(b, 22) != 2 || le16(b, 34) != 16) {
    audio.problem = "not 16-bit stereo PCM";
    return audio;
  }
  if (le32(b, 4) != b.size() - 8 || le32(b, 40) != b.size() - 44) {
    audio.problem = "header sizes " + std::to_string(le32(b, 4)) + "/" + std::to_string(le32(b, 40)) +
                    " for a file of " + std::to_string(b.size()) + " bytes";
    return audio;
  }
  audio.sampleRate = le32(b, 24);
  for (std::size_t at = 44; at + 4 <= b.size(); at += 4) {
    const auto left = static_cast<std::int16_t>(le16(b, at));
    const auto right = static_cast<std::int16_t>(le16(b, at + 2));
    audio.mono.push_back((left + right) / 65536.0f);
  }
  return audio;
}

double rms(const Audio& audio, double fromMs, double toMs) {
  const std::size_t from = index(audio, fromMs), to = index(audio, toMs);
  if (to <= from) return 0;
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += audio.mono[i] * audio.mono[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

double peak(const Audio& audio, double fromMs, double toMs) {
  double top = 0;
  for (std::size_t i = index(audio, fromMs), to = index(audio, toMs); i < to; ++i)
    top = std::max(top, static_cast<double>(std::fabs(audio.mono[i])));
  return top;
}

double onsetMs(const Audio& audio, double level, double fromMs) {
  for (std::size_t i = index(audio, fromMs); i < audio.mono.size(); ++i)
    if (std::fabs(audio.mono[i]) >= level) return 1000.0 * static_cast<double>(i) / audio.sampleRate;
  return -1;
}

double pitchHz(const Audio& audio, double fromMs, double toMs) {
  const std::size_t from = index(audio, fromMs), to = index(audio, toMs);
  const double hysteresis = 0.1 * peak(audio, fromMs, toMs);
  double first = -1, last = -1;
  int crossings = 0;
  bool armed = false;
  for (std::size_t i = from + 1; i < to; ++i) {
    const float a = audio.mono[i - 1], b = audio.mono[i];
    if (b < -hysteresis) armed = true;
    if (armed && a < 0 && b >= 0) {
      const double at = static_cast<double>(i - 1) + a / (a - b);  // where the line crosses zero
      if (first < 0) first = at;
      last = at;
      ++crossings;
      armed = false;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * audio.sampleRate / (last - first);
}

std::vector<double> harmonics(const Audio& audio, double fromMs, double toMs, double f0, int n) {
  const std::size_t from = index(audio, fromMs), to = index(audio, toMs);
  std::vector<double> out;
  double total = 0;
  for (int k = 1; k <= n; ++k) {
    const double w = 2 * M_PI * k * f0 / audio.sampleRate;
    double re = 0, im = 0;
    for (std::size_t i = from; i < to; ++i) {
      // A Hann window keeps neighbouring harmonics from leaking into each other.
      const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i - from) /
                                               static_cast<double>(to - from));
      re += hann * audio.mono[i] * std::cos(w * static_cast<double>(i));
      im += hann * audio.mono[i] * std::sin(w * static_cast<double>(i));
    }
    out.push_back(std::hypot(re, im));
    total += out.back();
  }
  for (double& m : out) m = total > 0 ? m / total : 0;
  return out;
}

double distance(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::fabs(a[i] - b[i]);
  return sum;
}

}  // namespace wav
