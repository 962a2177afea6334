// Shared by the plug-in tests: the real modules that Debian packages install, a private
// folder for settings and WAV files, a WAV reader, and bounded polling.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace plugintest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Module files from the packages that scripts/install-deps.sh installs, at most six.
inline std::vector<std::string> realModules() {
  std::vector<std::string> found;
  FILE* p = popen("dpkg -L tuxmath-data monsterz-data vor ballz-data 2>/dev/null", "r");
  if (!p) return found;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string path(line);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    for (const char* e :
         {".mod", ".s3m", ".xm", ".it", ".mptm", ".669", ".mtm", ".stm", ".med", ".okt"}) {
      std::error_code ec;
      if (ext == e && fs::is_regular_file(path, ec)) found.push_back(path);
    }
  }
  pclose(p);
  std::sort(found.begin(), found.end());
  if (found.size() > 6) found.resize(6);
  return found;
}

// A gtest-safe name for a module file ("game2_mod").
inline std::string moduleTestName(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// A fresh folder that becomes XDG_CONFIG_HOME's parent; removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "npmod32-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string file(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Points the plug-in's settings at dir/config and writes the given values there, if any.
inline void useSettings(const TempDir& dir,
                        const std::vector<std::pair<std::string, std::uint32_t>>& values = {}) {
  const fs::path config = dir.path() / "config";
  fs::create_directories(config / "Hexmoor");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  if (values.empty()) return;
  std::ofstream ini(config / "Hexmoor" / "MOD Plugin.ini");
  ini << "[Software\\Hexmoor\\MOD Plugin]\n";
  for (const auto& [name, value] : values) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", value);
    ini << name << "=dword:" << hex << "\n";
  }
}

struct Wav {
  bool headerComplete = false;  // the RIFF and data sizes agree with the file's length
  std::uint32_t rate = 0;
  std::uint16_t channels = 0, bits = 0;
  std::vector<std::int16_t> samples;  // interleaved

  double seconds() const { return channels && rate ? double(samples.size()) / channels / rate : 0; }
  double rms() const {
    double sum = 0;
    for (std::int16_t s : samples) sum += double(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / samples.size());
  }
  // Energy of left minus right, relative to the total: 0 for mono content.
  double sideShare() const {
    double side = 0, all = 0;
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
      const double l = samples[i], r = samples[i + 1];
      side += (l - r) * (l - r);
      all += l * l + r * r;
    }
    return all > 0 ? side / (2 * all) : 0;
  }
};

inline std::uint32_t le(const std::vector<unsigned char>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

inline Wav readWav(const std::string& path) {
  Wav w;
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> b{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
  if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
      std::string(b.begin() + 8, b.begin() + 16) != "WAVEfmt " ||
      std::string(b.begin() + 36, b.begin() + 40) != "data")
    return w;
  w.channels = static_cast<std::uint16_t>(le(b, 22, 2));
  w.rate = le(b, 24, 4);
  w.bits = static_cast<std::uint16_t>(le(b, 34, 2));
  const std::uint32_t data = le(b, 40, 4);
  w.headerComplete = le(b, 4, 4) == b.size() - 8 && data == b.size() - 44;
  const std::size_t n = std::min<std::size_t>(data, b.size() - 44) / 2;
  w.samples.resize(n);
  for (std::size_t i = 0; i < n; ++i)
    w.samples[i] = static_cast<std::int16_t>(le(b, 44 + 2 * i, 2));
  return w;
}

// Polls until done() or the time is up; says whether done() came true.
inline bool waitFor(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace plugintest
