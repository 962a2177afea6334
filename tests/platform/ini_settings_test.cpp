// The INI settings store: where a key path lives, the file's text through writes and reads,
// writers in two processes at once, and stores that cannot be written. Every test points
// XDG_CONFIG_HOME (and HOME) into its own temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "posix/IniSettings.h"

namespace {

namespace fs = std::filesystem;

const char kKey[] = "Software\\Hexmoor\\MOD Plugin";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> folderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) value_ = value;
  }
  ~SavedVariable() {
    if (value_) {
      setenv(name_, value_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

class IniSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "ini_settings_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    root_ = pattern;
    config_ = root_ + "/config";
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    setenv("HOME", (root_ + "/home").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Writes values through one key, as the engine does.
  bool write(const char* name, std::uint32_t value, const char* key = kKey) {
    platform::SettingsKey handle = store_.createKey(key);
    if (!handle) return false;
    const bool written = store_.setValue(handle, name, value);
    store_.closeKey(handle);
    return written;
  }

  std::string file() const { return config_ + "/Hexmoor/MOD Plugin.ini"; }

  SavedVariable xdg_{"XDG_CONFIG_HOME"};
  SavedVariable home_{"HOME"};
  std::string root_;
  std::string config_;
  platform::IniSettings store_;
};

TEST_F(IniSettingsTest, KeyPathsMapToFilesUnderTheConfigurationFolder) {
  const struct {
    const char* key;
    const char* file;  // below the configuration folder; empty: no file
  } cases[] = {
      {"Software\\Hexmoor\\MOD Plugin", "/Hexmoor/MOD Plugin.ini"},
      {"software\\A\\B\\C", "/A/B/C.ini"},
      {"Software\\A", "/A.ini"},
      {"Maker\\Product", "/Maker/Product.ini"},
      {"Software", ""},
      {"", ""},
      {"Software\\\\B", ""},
      {"Software\\A\\", ""},
      {"Software\\..\\B", ""},
      {"Software\\A\\.", ""},
      {"Software\\A/B\\C", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(platform::iniSettingsFile(c.key), *c.file ? config_ + c.file : std::string());
  }
  EXPECT_EQ(platform::iniSettingsFile(nullptr), "");

  // A relative XDG_CONFIG_HOME is ignored; HOME is the fallback; without either, no file.
  setenv("XDG_CONFIG_HOME", "relative/config", 1);
  EXPECT_EQ(platform::iniSettingsFile(kKey), root_ + "/home/.config/Hexmoor/MOD Plugin.ini");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(platform::iniSettingsFile(kKey), root_ + "/home/.config/Hexmoor/MOD Plugin.ini");
  unsetenv("HOME");
  EXPECT_EQ(platform::iniSettingsFile(kKey), "");
  EXPECT_EQ(store_.createKey(kKey), nullptr);
}

TEST_F(IniSettingsTest, RoundTrip) {
  ASSERT_TRUE(write("Mixing_Rate", 44100));
  ASSERT_TRUE(write("Packing", 0));
  ASSERT_TRUE(write("Quality", 59));
  EXPECT_EQ(readFile(file()),
            "[Software\\Hexmoor\\MOD Plugin]\n"
            "Mixing_Rate=dword:0000ac44\n"
            "Packing=dword:00000000\n"
            "Quality=dword:0000003b\n");
  std::uint32_t value = 0;
  EXPECT_TRUE(platform::readIniSetting(kKey, "Mixing_Rate", value));
  EXPECT_EQ(value, 44100u);
  EXPECT_TRUE(platform::readIniSetting(kKey, "quality", value));
  EXPECT_EQ(value, 59u);
  EXPECT_TRUE(write("Quality", 0xFFFFFFFFu));
  EXPECT_TRUE(platform::readIniSetting(kKey, "Quality", value));
  EXPECT_EQ(value, 0xFFFFFFFFu);
  // Writing what the file already holds leaves the file itself alone (no sync at every Open).
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(file().c_str(), &before), 0);
  EXPECT_TRUE(write("Quality", 0xFFFFFFFFu));
  ASSERT_EQ(stat(file().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_FALSE(platform::readIniSetting(kKey, "Missing", value));
  EXPECT_FALSE(platform::readIniSetting("Software\\Hexmoor\\Other", "Quality", value));
}

TEST_F(IniSettingsTest, WritesKeepWhatElseTheFileHolds) {
  fs::create_directories(config_ + "/Hexmoor");
  writeFile(file(),
            "; edited by hand\n"
            "[Other]\n"
            "Quality=dword:00000001\n"
            "\n"
            "[software\\hexmoor\\mod plugin]\n"
            "quality = dword:00000002\n"
            "Note=text\n"
            "Quality=dword:00000003\n"
            "\n"
            "[Last]\n"
            "X=1");
  ASSERT_TRUE(write("Quality", 8));
  ASSERT_TRUE(write("Packing", 0));
  EXPECT_EQ(readFile(file()),
            "; edited by hand\n"
            "[Other]\n"
            "Quality=dword:00000001\n"
            "\n"
            "[software\\hexmoor\\mod plugin]\n"
            "Quality=dword:00000008\n"
            "Note=text\n"
            "Packing=dword:00000000\n"
            "\n"
            "[Last]\n"
            "X=1\n");
  std::uint32_t value = 0;
  EXPECT_TRUE(platform::readIniSetting(kKey, "Quality", value));
  EXPECT_EQ(value, 8u);
  EXPECT_FALSE(platform::readIniSetting(kKey, "Note", value));  // not a dword
  // Only the lock file stays beside the settings: no temporary file is left over.
  EXPECT_EQ(folderNames(config_ + "/Hexmoor"),
            (std::vector<std::string>{".MOD Plugin.ini.lock", "MOD Plugin.ini"}));
}

// Each child writes its own names, one update at a time; a lost update drops a name.
TEST_F(IniSettingsTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWriters = 2;
  constexpr int kUpdates = 150;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      if (::read(gate[0], &go, 1) < 0) _exit(2);  // returns 0 once the parent opens the gate
      bool ok = true;
      for (int i = 0; i < kUpdates; ++i) {
        const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
        ok = write(name.c_str(), static_cast<std::uint32_t>(i * 10 + w)) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (pid_t pid : children) {
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
      for (pid_t p : children) kill(p, SIGKILL);
      for (pid_t p : children) waitpid(p, nullptr, 0);
      FAIL() << "writers still running after 60 s";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }

  int lost = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kUpdates; ++i) {
      const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
      std::uint32_t value = 0;
      if (!platform::readIniSetting(kKey, name.c_str(), value) ||
          value != static_cast<std::uint32_t>(i * 10 + w))
        ++lost;
    }
  }
  EXPECT_EQ(lost, 0);
}

TEST_F(IniSettingsTest, AStoreThatCannotBeWrittenIsSilent) {
  testing::internal::CaptureStderr();
  // A regular file where the configuration folder must be: this fails for root too.
  writeFile(config_, "a file\n");
  EXPECT_EQ(store_.createKey(kKey), nullptr);
  EXPECT_FALSE(write("Quality", 1));
  EXPECT_EQ(readFile(config_), "a file\n");

  // A folder where the settings file must be: the value is dropped, nothing is left over.
  fs::remove(config_);
  fs::create_directories(file());
  platform::SettingsKey key = store_.createKey(kKey);
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(store_.setValue(key, "Quality", 1));
  store_.closeKey(key);
  EXPECT_EQ(folderNames(config_ + "/Hexmoor"),
            (std::vector<std::string>{".MOD Plugin.ini.lock", "MOD Plugin.ini"}));
  EXPECT_TRUE(fs::is_empty(file()));

  // Names that the file could not hold back.
  fs::remove(file());
  for (const char* name : {"", "A=B", "[A]", "A\nB", " A", "; A"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(write(name, 1));
  }
  EXPECT_FALSE(store_.setValue(nullptr, "Quality", 1));
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A writer that never lets go of the lock costs a bounded wait, not a hung player.
TEST_F(IniSettingsTest, AStuckLockHolderMakesTheWriteGiveUp) {
  ASSERT_TRUE(write("Quality", 1));
  const int held = ::open((config_ + "/Hexmoor/.MOD Plugin.ini.lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_FALSE(write("Quality", 2));
  ::close(held);
  std::uint32_t value = 0;
  EXPECT_TRUE(platform::readIniSetting(kKey, "Quality", value));
  EXPECT_EQ(value, 1u);
  EXPECT_TRUE(write("Quality", 3));
}

}  // namespace
