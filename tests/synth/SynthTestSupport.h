// What the synthesizer tests share: environment changes undone at the end of a test, files in
// the test's temporary folder, and the SoundFont they all use.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace synthtest {

// The small General MIDI SoundFont: the system's default link may point at a large one that
// takes most of a second to load.
constexpr char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

inline bool soundFontInstalled() { return ::access(kSoundFont, R_OK) == 0; }

// Sets and unsets variables; puts every one back as it was when destroyed.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  void set(const std::string& name, const std::string& value) {
    save(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    save(name);
    unsetenv(name.c_str());
  }

 private:
  void save(const std::string& name) {
    if (saved_.count(name)) return;
    const char* value = std::getenv(name.c_str());
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// Paths in the test's temporary folder, removed when destroyed.
class TempFiles {
 public:
  ~TempFiles() {
    for (const std::string& path : paths_) std::remove(path.c_str());
  }
  std::string path(const std::string& name) {
    paths_.push_back(::testing::TempDir() + "qmid_synth_" + std::to_string(::getpid()) + "_" + name);
    return paths_.back();
  }
  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string where = path(name);
    std::ofstream out(where, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return where;
  }

 private:
  std::vector<std::string> paths_;
};

}  // namespace synthtest
