// Reads the WAV files that the synthesizer renders and measures them: loudness of a stretch,
// onset of sound, pitch by zero crossings, harmonic make-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wav {

struct Audio {
  std::uint32_t sampleRate = 0;
  std::vector<float> mono;  // left and right averaged, full scale 1.0
  std::string problem;      // why the file is not a complete 16-bit stereo WAV; empty if it is

  double seconds() const { return sampleRate ? static_cast<double>(mono.size()) / sampleRate : 0; }
};

// Also checks that the header tells the file's true length.
Audio read(const std::string& path);

// Root mean square and peak of the stretch [fromMs, toMs).
double rms(const Audio& audio, double fromMs, double toMs);
double peak(const Audio& audio, double fromMs, double toMs);
// The time of the first sample at or above the level, from fromMs on; negative if none.
double onsetMs(const Audio& audio, double level, double fromMs = 0);
// Fundamental frequency from the spacing of rising zero crossings (with a little hysteresis).
double pitchHz(const Audio& audio, double fromMs, double toMs);
// Magnitudes of the first n harmonics of f0, normalised to sum 1.
std::vector<double> harmonics(const Audio& audio, double fromMs, double toMs, double f0, int n);
// Sum of absolute differences of two normalised spectra: 0 alike, 2 disjoint.
double distance(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace wav
