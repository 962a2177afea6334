// QMOD's exports over a fake tracker plug-in that is a real shared library: the mode machine,
// Open's failures and what each leaves behind, the settings values, the order of calls, the
// position scaling and the end of a module.
//
// The bare name "npmod32.dll" reaches the fake through a library service of the test that
// dlopens the fake's own path (so a test can offer a variant that lacks one entry point and
// hand the fake its control); one test goes through the real backends instead, finding the
// fake as libnpmod32.so next to this program.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FakePluginControl.h"
#include "ModuleEngine.h"
#include "Platform.h"
#include "posix/IniSettings.h"
#include "qmod.h"

namespace {

using Lines = std::vector<std::string>;

void* const kWindow = reinterpret_cast<void*>(0x1234);
const char kPath[] = "/music/song.mod";
const ModuleSettings kSettings = {44100, 1, 0, 1, 0, 1};  // Quality 0x29
const char kCreate[] =
    "ModPlug_CreateEx volume|100|loop|false|autostart|false|controls|none|hidden|true";

std::string fakePath(int omitted = 0) {
  const std::string dir = FAKE_PLUGIN_DIR;
  return omitted ? dir + "/libfake_npmod32_without_" + std::to_string(omitted) + ".so"
                 : dir + "/libfake_npmod32.so";
}

// Whether the process still has the library mapped (a freed library must be gone).
bool isLoaded(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library) dlclose(library);
  return library != nullptr;
}

struct CallLog {
  Lines lines;
  static void add(void* user, const char* line) {
    static_cast<CallLog*>(user)->lines.push_back(line);
  }
  Lines take() {
    Lines taken;
    taken.swap(lines);
    return taken;
  }
};

bool isSettingsCall(const std::string& line) {
  return line.rfind("createKey", 0) == 0 || line.rfind("setValue", 0) == 0 || line == "closeKey";
}

Lines without(const Lines& lines, bool settings) {
  Lines kept;
  for (const std::string& line : lines) {
    if (isSettingsCall(line) == settings) kept.push_back(line);
  }
  return kept;
}
Lines pluginCalls(const Lines& lines) {
  return without(lines, false);
}
Lines settingsCalls(const Lines& lines) {
  return without(lines, true);
}

// Maps the bare name to one fake file and logs loading and freeing; the lookups are kept
// apart as they come seventeen at a time.
class FakeLibraries : public platform::LibraryService {
 public:
  platform::LibraryHandle load(const char* bareName) override {
    log->lines.push_back(std::string("load ") + bareName);
    if (path.empty()) return nullptr;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library) {
      if (auto attach = reinterpret_cast<FakePluginAttach>(dlsym(library, FAKE_PLUGIN_ATTACH)))
        attach(control);
    }
    return library;
  }
  void* symbol(platform::LibraryHandle library, const char* name) override {
    lookups.push_back(name);
    return dlsym(library, name);
  }
  void free(platform::LibraryHandle library) override {
    log->lines.push_back("free");
    dlclose(library);
  }

  std::string path;  // empty: nothing to load
  FakePluginControl* control = nullptr;
  CallLog* log = nullptr;
  Lines lookups;
};

class RecordingSettings : public platform::SettingsService {
 public:
  platform::SettingsKey createKey(const char* path) override {
    log->lines.push_back(std::string("createKey ") + path);
    return refuse ? nullptr : &key_;
  }
  bool setValue(platform::SettingsKey, const char* name, std::uint32_t value) override {
    log->lines.push_back("setValue " + std::string(name) + " " + std::to_string(value));
    return true;
  }
  void closeKey(platform::SettingsKey) override { log->lines.push_back("closeKey"); }

  bool refuse = false;
  CallLog* log = nullptr;

 private:
  int key_ = 0;
};

Lines settingsWritten(std::uint32_t mixingRate, std::uint32_t quality) {
  const std::string key = "createKey Software\\Hexmoor\\MOD Plugin";
  return {key,
          "setValue Mixing_Rate " + std::to_string(mixingRate),
          "closeKey",
          key,
          "setValue Packing 0",
          "closeKey",
          key,
          "setValue Quality " + std::to_string(quality),
          "closeKey"};
}

const Lines kAllNames = {"ModPlug_Initialize",
                         "ModPlug_Shutdown",
                         "ModPlug_Create",
                         "ModPlug_CreateEx",
                         "ModPlug_Destroy",
                         "ModPlug_Load",
                         "ModPlug_SetWindow",
                         "ModPlug_Play",
                         "ModPlug_Stop",
                         "ModPlug_GetVersion",
                         "ModPlug_IsReady",
                         "ModPlug_IsPlaying",
                         "ModPlug_GetMaxPosition",
                         "ModPlug_GetCurrentPosition",
                         "ModPlug_SetCurrentPosition",
                         "ModPlug_RegisterCallback",
                         "ModPlug_GetSongLength"};

std::int32_t mode() {
  return qmod::theEngine().mode;
}

class ModEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetControl();
    libraries.path = fakePath();
    libraries.control = &control;
    libraries.log = &log;
    settings.log = &log;
    platform::Services fakes = platform::services();
    fakes.libraries = &libraries;
    fakes.settings = &settings;
    previous_ = platform::install(fakes);
  }

  void TearDown() override {
    QMODEngine_Close();
    EXPECT_FALSE(isLoaded(fakePath())) << "the plug-in outlived Close";
    platform::install(previous_);
  }

  std::int32_t open(const ModuleSettings* with = &kSettings, const char* path = kPath) {
    return QMODEngine_Open(kWindow, path, 7, with);
  }

  // A cooperative plug-in whose module is 123.4 s long (in the fake's units, 1234).
  void resetControl() {
    control = fakePluginDefaults();
    control.log = &CallLog::add;
    control.user = &log;
    control.maxPosition = 1234;
  }

  // Drives the engine into a mode with a cooperative plug-in, then clears the log.
  void reach(std::int32_t target) {
    if (target != MCI_MODE_NOT_READY) {
      ASSERT_EQ(open(), 1);
    }
    if (target == MCI_MODE_PLAY || target == MCI_MODE_PAUSE || target == MCI_MODE_STOP) {
      ASSERT_EQ(QMODEngine_Play(), 1);
    }
    if (target == MCI_MODE_PAUSE) {
      ASSERT_EQ(QMODEngine_Pause(), 1);
    }
    if (target == MCI_MODE_STOP) {
      ASSERT_EQ(QMODEngine_Stop(), 1);
    }
    ASSERT_EQ(mode(), target);
    log.take();
    libraries.lookups.clear();
  }

  CallLog log;
  FakePluginControl control{};
  FakeLibraries libraries;
  RecordingSettings settings;

 private:
  platform::Services previous_{};
};

TEST_F(ModEngineTest, OpenBindsWritesCreatesLoadsInOrderAndCloseReleasesInstanceFirst) {
  ASSERT_EQ(open(), 1);
  Lines expected = {"load npmod32.dll"};
  for (const std::string& line : settingsWritten(44100, 0x29)) expected.push_back(line);
  expected.insert(expected.end(),
                  {kCreate, "ModPlug_SetWindow inst 0x1234", "ModPlug_Load inst /music/song.mod",
                   "ModPlug_GetMaxPosition inst"});
  EXPECT_EQ(log.take(), expected);
  EXPECT_EQ(libraries.lookups, kAllNames);
  EXPECT_EQ(mode(), MCI_MODE_OPEN);
  EXPECT_EQ(QMODEngine_GetLength(), 123400);

  EXPECT_EQ(QMODEngine_Close(), 1);
  EXPECT_EQ(log.take(), (Lines{"ModPlug_Destroy inst", "free"}));
  EXPECT_FALSE(isLoaded(fakePath()));
  EXPECT_EQ(mode(), MCI_MODE_NOT_READY);

  // Releasing again finds nothing to release.
  EXPECT_EQ(QMODEngine_Close(), 1);
  qmod::closeRoutine();
  EXPECT_EQ(log.take(), Lines{});

  // Every Open binds afresh.
  ASSERT_EQ(open(), 1);
  EXPECT_EQ(pluginCalls(log.take()).front(), "load npmod32.dll");
  EXPECT_EQ(libraries.lookups.size(), 2 * kAllNames.size());
}

enum class Call { Open, Close, Play, Pause, Resume, Stop, Seek };

const char* callName(Call call) {
  static const char* const names[] = {"Open", "Close", "Play", "Pause", "Resume", "Stop", "Seek"};
  return names[static_cast<int>(call)];
}

std::int32_t perform(Call call) {
  switch (call) {
    case Call::Open:
      return QMODEngine_Open(kWindow, kPath, 7, &kSettings);
    case Call::Close:
      return QMODEngine_Close();
    case Call::Play:
      return QMODEngine_Play();
    case Call::Pause:
      return QMODEngine_Pause();
    case Call::Resume:
      return QMODEngine_Resume();
    case Call::Stop:
      return QMODEngine_Stop();
    case Call::Seek:
      return QMODEngine_Seek(12345);
  }
  return -1;
}

struct Transition {
  std::int32_t from;
  Call call;
  bool refusing;  // Play, Stop, SetCurrentPosition and Destroy of the plug-in answer 0
  std::int32_t result;
  std::int32_t to;
  Lines calls;
};

const Lines kNone;
const Lines kOpenCalls = {"load npmod32.dll", kCreate, "ModPlug_SetWindow inst 0x1234",
                          "ModPlug_Load inst /music/song.mod", "ModPlug_GetMaxPosition inst"};
const Lines kRelease = {"ModPlug_Destroy inst", "free"};
const Lines kPlay = {"ModPlug_Play inst"};
const Lines kHalt = {"ModPlug_Stop inst"};
const Lines kRewind = {"ModPlug_Stop inst", "ModPlug_SetCurrentPosition inst 0"};
const Lines kSeek = {"ModPlug_SetCurrentPosition inst 123"};

constexpr std::int32_t kNotReady = MCI_MODE_NOT_READY;
constexpr std::int32_t kOpen = MCI_MODE_OPEN;
constexpr std::int32_t kPlaying = MCI_MODE_PLAY;
constexpr std::int32_t kPaused = MCI_MODE_PAUSE;
constexpr std::int32_t kStopped = MCI_MODE_STOP;

const Transition kTransitions[] = {
    {kNotReady, Call::Open, false, 1, kOpen, kOpenCalls},
    {kNotReady, Call::Close, false, 1, kNotReady, kNone},
    {kNotReady, Call::Play, false, 0, kNotReady, kNone},
    {kNotReady, Call::Pause, false, 0, kNotReady, kNone},
    {kNotReady, Call::Resume, false, 0, kNotReady, kNone},
    {kNotReady, Call::Stop, false, 0, kNotReady, kNone},
    {kNotReady, Call::Seek, false, 0, kNotReady, kNone},

    {kOpen, Call::Open, false, 0, kOpen, kNone},
    {kOpen, Call::Close, false, 1, kNotReady, kRelease},
    {kOpen, Call::Close, true, 1, kNotReady, kRelease},
    {kOpen, Call::Play, false, 1, kPlaying, kPlay},
    {kOpen, Call::Play, true, QMOD_ERR_PLAY, kOpen, kPlay},
    {kOpen, Call::Pause, false, 0, kOpen, kNone},
    {kOpen, Call::Resume, false, 0, kOpen, kNone},
    {kOpen, Call::Stop, false, 0, kOpen, kNone},
    {kOpen, Call::Seek, false, 0, kOpen, kNone},

    {kPlaying, Call::Open, false, 0, kPlaying, kNone},
    {kPlaying, Call::Close, false, 1, kNotReady, kRelease},
    {kPlaying, Call::Play, false, 0, kPlaying, kNone},
    {kPlaying, Call::Pause, false, 1, kPaused, kHalt},
    {kPlaying, Call::Pause, true, 1, kPaused, kHalt},
    {kPlaying, Call::Resume, false, 0, kPlaying, kNone},
    {kPlaying, Call::Stop, false, 1, kStopped, kRewind},
    {kPlaying, Call::Stop, true, 1, kStopped, kRewind},
    {kPlaying, Call::Seek, false, 1, kPlaying, kSeek},
    {kPlaying, Call::Seek, true, 1, kPlaying, kSeek},

    {kPaused, Call::Open, false, 0, kPaused, kNone},
    {kPaused, Call::Close, false, 1, kNotReady, kRelease},
    {kPaused, Call::Play, false, 1, kPlaying, kPlay},
    {kPaused, Call::Play, true, QMOD_ERR_PLAY, kPaused, kPlay},
    {kPaused, Call::Pause, false, 0, kPaused, kNone},
    {kPaused, Call::Resume, false, 1, kPlaying, kPlay},
    {kPaused, Call::Resume, true, 1, kPlaying, kPlay},
    {kPaused, Call::Stop, false, 1, kStopped, kRewind},
    {kPaused, Call::Seek, false, 1, kPaused, kSeek},

    {kStopped, Call::Open, false, 0, kStopped, kNone},
    {kStopped, Call::Close, false, 1, kNotReady, kRelease},
    {kStopped, Call::Play, false, 1, kPlaying, kPlay},
    {kStopped, Call::Play, true, QMOD_ERR_PLAY, kStopped, kPlay},
    {kStopped, Call::Pause, false, 0, kStopped, kNone},
    {kStopped, Call::Resume, false, 0, kStopped, kNone},
    {kStopped, Call::Stop, false, 0, kStopped, kNone},
    {kStopped, Call::Seek, false, 0, kStopped, kNone},
};

TEST_F(ModEngineTest, ModeMachine) {
  for (const Transition& t : kTransitions) {
    SCOPED_TRACE(testing::Message() << "mode " << t.from << ", " << callName(t.call)
                                    << (t.refusing ? " (plug-in refusing)" : ""));
    reach(t.from);
    if (t.refusing) {
      control.playResult = control.stopResult = control.setPositionResult = 0;
      control.destroyResult = 0;
    }
    EXPECT_EQ(perform(t.call), t.result);
    EXPECT_EQ(mode(), t.to);
    EXPECT_EQ(pluginCalls(log.take()), t.calls);
    EXPECT_EQ(isLoaded(fakePath()), t.to != kNotReady);
    QMODEngine_Close();
    resetControl();
  }
}

TEST_F(ModEngineTest, QueriesInEachMode) {
  control.currentPosition = 7;
  char text[8];
  for (std::int32_t m : {kNotReady, kOpen, kPlaying, kPaused, kStopped}) {
    SCOPED_TRACE(testing::Message() << "mode " << m);
    reach(m);
    const bool open = m != kNotReady;
    EXPECT_EQ(QMODEngine_IsOpen(), open ? 1 : 0);
    EXPECT_EQ(QMODEngine_GetLength(), open ? 123400 : 0);
    EXPECT_EQ(QMODEngine_GetPosition(), open ? 700 : 0);
    std::snprintf(text, sizeof text, "stale");
    EXPECT_EQ(QMODEngine_GetFileInfo(text, sizeof text), open ? 1 : 0);
    EXPECT_EQ(text[0], '\0');
    // Only the end of playing changes the mode; every other mode keeps it whatever the answer.
    control.isPlaying = m == kPlaying ? 1 : 0;
    EXPECT_EQ(QMODEngine_GetMode(), m);
    EXPECT_EQ(log.take(), open
                              ? Lines({"ModPlug_GetCurrentPosition inst", "ModPlug_IsPlaying inst"})
                              : Lines{});
    QMODEngine_Close();
  }
  // A null buffer, or one of no size, is left alone.
  EXPECT_EQ(QMODEngine_GetFileInfo(nullptr, 8), 0);
  text[0] = 'x';
  EXPECT_EQ(QMODEngine_GetFileInfo(text, 0), 0);
  EXPECT_EQ(text[0], 'x');
}

TEST_F(ModEngineTest, EndOfModuleSeenByGetModeRewindsForTheNextPlay) {
  reach(kPlaying);
  control.isPlaying = 1;
  EXPECT_EQ(QMODEngine_GetMode(), kPlaying);
  control.isPlaying = 0;
  EXPECT_EQ(QMODEngine_GetMode(), kStopped);
  EXPECT_EQ(log.take(), (Lines{"ModPlug_IsPlaying inst", "ModPlug_IsPlaying inst",
                               "ModPlug_Stop inst", "ModPlug_SetCurrentPosition inst 0"}));
  EXPECT_EQ(QMODEngine_GetMode(), kStopped);
  EXPECT_EQ(log.take(), Lines{"ModPlug_IsPlaying inst"});
  EXPECT_EQ(QMODEngine_Play(), 1);
  EXPECT_EQ(log.take(), kPlay);
}

TEST_F(ModEngineTest, SeekDividesTheUnsignedPositionBy100) {
  const struct {
    std::uint32_t position;
    std::int32_t asked;
  } cases[] = {
      {12345, 123},           {99, 0}, {100, 1}, {0, 0}, {static_cast<std::uint32_t>(-1), 42949672},
      {0x80000000u, 21474836}};
  reach(kPaused);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(QMODEngine_Seek(c.position), 1);
    EXPECT_EQ(log.take(), Lines{"ModPlug_SetCurrentPosition inst " + std::to_string(c.asked)});
  }
  EXPECT_EQ(mode(), kPaused);
}

TEST_F(ModEngineTest, PositionsAndLengthAreTimes100Wrapping) {
  const struct {
    std::int32_t plugin;
    std::int32_t player;
  } cases[] = {{7, 700}, {0, 0}, {-1, -100}, {21474836, 2147483600}, {21474837, -2147483596}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plugin);
    control.maxPosition = c.plugin;
    control.currentPosition = c.plugin;
    reach(kOpen);
    EXPECT_EQ(QMODEngine_GetLength(), c.player);
    EXPECT_EQ(QMODEngine_GetPosition(), c.player);
    // The length is taken once, at Open.
    control.maxPosition = 5;
    EXPECT_EQ(QMODEngine_GetLength(), c.player);
    QMODEngine_Close();
  }
}

struct OpenFailure {
  const char* name;
  void (*arrange)(FakePluginControl&, FakeLibraries&);
  const char* path;
  std::int32_t result;
  Lines calls;
  bool settingsWritten;
};

TEST_F(ModEngineTest, EachOpenFailureLeavesNothingBehind) {
  const OpenFailure failures[] = {
      {"no plug-in library",
       [](FakePluginControl&, FakeLibraries& l) { l.path.clear(); },
       kPath,
       QMOD_ERR_PLUGIN,
       {"load npmod32.dll"},
       false},
      {"no instance",
       [](FakePluginControl& c, FakeLibraries&) { c.createFails = 1; },
       kPath,
       QMOD_ERR_INSTANCE,
       {"load npmod32.dll", kCreate, "free"},
       true},
      {"window refused",
       [](FakePluginControl& c, FakeLibraries&) { c.setWindowResult = 0; },
       kPath,
       QMOD_ERR_INSTANCE,
       {"load npmod32.dll", kCreate, "ModPlug_SetWindow inst 0x1234", "ModPlug_Destroy inst",
        "free"},
       true},
      {"module not loadable",
       [](FakePluginControl& c, FakeLibraries&) { c.loadResult = 0; },
       kPath,
       QMOD_ERR_LOAD,
       {"load npmod32.dll", kCreate, "ModPlug_SetWindow inst 0x1234",
        "ModPlug_Load inst /music/song.mod", "ModPlug_Destroy inst", "free"},
       true},
      {"no path",
       [](FakePluginControl&, FakeLibraries&) {},
       nullptr,
       QMOD_ERR_LOAD,
       {"load npmod32.dll", kCreate, "ModPlug_SetWindow inst 0x1234", "ModPlug_Destroy inst",
        "free"},
       true},
  };
  for (const OpenFailure& f : failures) {
    SCOPED_TRACE(f.name);
    f.arrange(control, libraries);
    EXPECT_EQ(open(&kSettings, f.path), f.result);
    const Lines calls = log.take();
    EXPECT_EQ(pluginCalls(calls), f.calls);
    EXPECT_EQ(settingsCalls(calls), f.settingsWritten ? settingsWritten(44100, 0x29) : Lines{});
    EXPECT_EQ(mode(), kNotReady);
    EXPECT_EQ(QMODEngine_IsOpen(), 0);
    EXPECT_EQ(QMODEngine_GetLength(), 0);
    EXPECT_EQ(QMODEngine_GetPosition(), 0);
    EXPECT_FALSE(isLoaded(fakePath()));
    EXPECT_EQ(qmod::theEngine().instance, nullptr);
    // Nothing is left to release, and a good Open works at once.
    EXPECT_EQ(QMODEngine_Close(), 1);
    EXPECT_EQ(log.take(), Lines{});
    resetControl();
    libraries.path = fakePath();
    EXPECT_EQ(open(), 1);
    QMODEngine_Close();
    log.take();
  }
}

TEST_F(ModEngineTest, LibraryLackingAnyOneNameIsRefusedAfterAllLookupsAndFreed) {
  for (int omitted = 1; omitted <= static_cast<int>(kAllNames.size()); ++omitted) {
    SCOPED_TRACE(kAllNames[omitted - 1]);
    libraries.path = fakePath(omitted);
    libraries.lookups.clear();
    EXPECT_EQ(open(), QMOD_ERR_PLUGIN);
    EXPECT_EQ(log.take(), (Lines{"load npmod32.dll", "free"}));  // no settings, no calls
    EXPECT_EQ(libraries.lookups, kAllNames);
    EXPECT_FALSE(isLoaded(libraries.path));
    EXPECT_EQ(mode(), kNotReady);
  }
}

TEST_F(ModEngineTest, SettingsValues) {
  const struct {
    ModuleSettings given;
    std::uint32_t mixingRate;
    std::uint32_t quality;
  } cases[] = {
      {{44100, 0, 0, 0, 0, 0}, 44100, 0},
      {{44100, 1, 1, 1, 1, 1}, 44100, 59},
      {{0, 0, 0, 1, 0, 0}, 0, 8},
      {{22050, 2, 2, 2, 2, 2}, 22050, 59},
      {{48000, 0xFFFFFFFFu, 0, 0, 0, 0}, 48000, 0x01},
      {{48000, 0, 0xFFFFFFFFu, 0, 0, 0}, 48000, 0x02},
      {{48000, 0, 0, 0, 2, 0}, 48000, 0x10},
      {{48000, 0, 0, 0, 0, 0xFFFFFFFFu}, 48000, 0x20},
      {{-1, 0, 0, 0, 0, 0}, 0xFFFFFFFFu, 0},  // passed on unchanged, no range test
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mixing rate " << c.mixingRate << ", quality " << c.quality);
    ASSERT_EQ(open(&c.given), 1);
    EXPECT_EQ(settingsCalls(log.take()), settingsWritten(c.mixingRate, c.quality));
    QMODEngine_Close();
  }
}

TEST_F(ModEngineTest, SettingsAreWrittenAtEveryOpenEvenWhenTheModuleFails) {
  control.loadResult = 0;
  const ModuleSettings first = {8000, 1, 0, 0, 0, 0};
  EXPECT_EQ(open(&first), QMOD_ERR_LOAD);
  EXPECT_EQ(settingsCalls(log.take()), settingsWritten(8000, 1));
  control.loadResult = 1;
  const ModuleSettings second = {96000, 0, 0, 0, 0, 1};
  EXPECT_EQ(open(&second), 1);
  EXPECT_EQ(settingsCalls(log.take()), settingsWritten(96000, 0x20));
}

TEST_F(ModEngineTest, AStoreThatCannotBeOpenedOrNoRecordDoesNotStopOpen) {
  settings.refuse = true;
  EXPECT_EQ(open(), 1);
  const std::string key = "createKey Software\\Hexmoor\\MOD Plugin";
  EXPECT_EQ(settingsCalls(log.take()), (Lines{key, key, key}));
  QMODEngine_Close();

  // Without a record the plug-in keeps the settings it had.
  settings.refuse = false;
  EXPECT_EQ(open(nullptr), 1);
  EXPECT_EQ(settingsCalls(log.take()), Lines{});
}

// The real backends: the library service finds the fake as libnpmod32.so next to this
// program, and the settings land in the INI file under XDG_CONFIG_HOME.
class RealServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qmod_engine_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadXdg_ = old != nullptr;
    if (old) oldXdg_ = old;
    previous_ = platform::install(platform::defaultServices());
  }
  void TearDown() override {
    QMODEngine_Close();
    platform::install(previous_);
    if (hadXdg_) {
      setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::remove_all(home_);
  }

  std::string home_;

 private:
  bool hadXdg_ = false;
  std::string oldXdg_;
  platform::Services previous_{};
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(RealServicesTest, OpenFindsThePluginNextToTheProgramAndWritesTheSettingsFile) {
  setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
  const ModuleSettings all = {44100, 1, 1, 1, 1, 1};
  ASSERT_EQ(QMODEngine_Open(kWindow, kPath, 0, &all), 1);
  EXPECT_EQ(readFile(home_ + "/config/Hexmoor/MOD Plugin.ini"),
            "[Software\\Hexmoor\\MOD Plugin]\n"
            "Mixing_Rate=dword:0000ac44\n"
            "Packing=dword:00000000\n"
            "Quality=dword:0000003b\n");
  EXPECT_EQ(QMODEngine_Play(), 1);
  EXPECT_EQ(QMODEngine_Close(), 1);
}

TEST_F(RealServicesTest, AStoreThatCannotBeWrittenIsSilent) {
  // A regular file where the folder must be: no permission bit lets even root through.
  const std::string blocker = home_ + "/config";
  std::ofstream(blocker) << "not a folder\n";
  setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(QMODEngine_Open(kWindow, kPath, 0, &kSettings), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(readFile(blocker), "not a folder\n");
}

}  // namespace
