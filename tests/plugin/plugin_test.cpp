// The plug-in through its C entry points, on real modules that no one here wrote: loading,
// real-time playback into a WAV file, position, seeking, the end of a module, the audio
// choices, the settings file and the parameter text.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "PluginTestSupport.h"
#include "npmod32.h"

namespace {

using namespace plugintest;
using namespace std::chrono_literals;

const char kEngineParams[] = "volume|100|loop|false|autostart|false|controls|none|hidden|true";

struct Handle {
  explicit Handle(const char* params = kEngineParams) : h(ModPlug_CreateEx(params)) {}
  ~Handle() { destroy(); }
  void destroy() {
    if (h) ModPlug_Destroy(h);
    h = nullptr;
  }
  void* h;
};

void countEnd(void* user, int32_t event) {
  if (event == NPMOD32_EVENT_END) static_cast<std::atomic<int>*>(user)->fetch_add(1);
}

class RealModule : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    useSettings(dir_);
    setenv("QMOD_AUDIO", ("wav:" + wav_).c_str(), 1);
  }
  TempDir dir_;
  const std::string wav_ = dir_.file("out.wav");
};

TEST_P(RealModule, PlaysPausesSeeksAndEndsByItself) {
  Handle p;
  ASSERT_NE(p.h, nullptr);
  std::atomic<int> ends{0};
  ASSERT_EQ(ModPlug_RegisterCallback(p.h, countEnd, &ends), 1);
  ASSERT_EQ(ModPlug_Load(p.h, GetParam().c_str()), 1);
  const int32_t max = ModPlug_GetMaxPosition(p.h);
  ASSERT_GT(max, 30);
  EXPECT_NEAR(ModPlug_GetSongLength(p.h), max * 100, 100);
  EXPECT_EQ(ModPlug_IsReady(p.h), 1);
  EXPECT_EQ(ModPlug_IsPlaying(p.h), 0);
  EXPECT_EQ(ModPlug_GetCurrentPosition(p.h), 0);

  // Playing: the position moves with the clock and never runs ahead of it.
  const auto start = Clock::now();
  ASSERT_EQ(ModPlug_Play(p.h), 1);
  EXPECT_EQ(ModPlug_IsPlaying(p.h), 1);
  int32_t last = 0;
  ASSERT_TRUE(waitFor(5s, [&] {
    const int32_t pos = ModPlug_GetCurrentPosition(p.h);
    EXPECT_GE(pos, last);
    EXPECT_LE(pos / 10.0, secondsSince(start) + 0.2);
    last = pos;
    return pos >= 10;
  }));

  // Stopped: the position stays and the WAV file is complete.
  ASSERT_EQ(ModPlug_Stop(p.h), 1);
  EXPECT_EQ(ModPlug_IsPlaying(p.h), 0);
  const int32_t paused = ModPlug_GetCurrentPosition(p.h);
  Wav w = readWav(wav_);
  EXPECT_TRUE(w.headerComplete);
  EXPECT_EQ(w.rate, 44100u);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.bits, 16);
  EXPECT_GE(w.seconds(), 0.9);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(ModPlug_GetCurrentPosition(p.h), paused);
  EXPECT_EQ(readWav(wav_).samples.size(), w.samples.size());

  // A seek while stopped lands on the first row at or after the time asked for.
  const int32_t target = max - 12;
  ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, target), 1);
  const int32_t landed = ModPlug_GetCurrentPosition(p.h);
  EXPECT_GE(landed, target - 1);
  EXPECT_LE(landed, target + 10);
  RecordProperty("seek_landing_tenths", landed - target);

  // From there the module plays out and stops by itself.
  ASSERT_EQ(ModPlug_Play(p.h), 1);
  EXPECT_TRUE(waitFor(8s, [&] { return ModPlug_IsPlaying(p.h) == 0; }));
  EXPECT_GE(ModPlug_GetCurrentPosition(p.h), max - 3);
  EXPECT_TRUE(waitFor(1s, [&] { return ends.load() == 1; }));

  p.destroy();
  w = readWav(wav_);
  EXPECT_TRUE(w.headerComplete);
  EXPECT_GE(w.seconds(), 1.2);
  EXPECT_GT(w.rms(), 100.0) << "the WAV file is silent";
  EXPECT_EQ(ends.load(), 1);
}

std::vector<std::string> modulesOrNone() {
  return realModules();
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, RealModule, ::testing::ValuesIn(modulesOrNone()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return moduleTestName(info.param);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealModule);

class Plugin : public ::testing::Test {
 protected:
  void SetUp() override {
    useSettings(dir_);
    setenv("QMOD_AUDIO", "null", 1);
    const auto modules = realModules();
    if (modules.empty()) GTEST_SKIP() << "no module packages installed (scripts/install-deps.sh)";
    module_ = modules.front();
    other_ = modules.back();
  }
  TempDir dir_;
  std::string module_, other_;
};

TEST_F(Plugin, FilesThatAreNotModulesDoNotLoad) {
  std::ofstream(dir_.file("text.mod")) << "This is a text file, not a tracker module.\n";
  std::ofstream(dir_.file("empty.xm"));
  fs::create_directory(dir_.file("folder.s3m"));
  Handle p;
  ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
  for (const std::string name : {"text.mod", "empty.xm", "folder.s3m", "missing.it"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ModPlug_Load(p.h, dir_.file(name.c_str()).c_str()), 0);
    EXPECT_EQ(ModPlug_IsReady(p.h), 0);  // the module loaded before is gone too
    EXPECT_EQ(ModPlug_GetMaxPosition(p.h), 0);
    EXPECT_EQ(ModPlug_Play(p.h), 0);
    EXPECT_EQ(ModPlug_Stop(p.h), 0);
    EXPECT_EQ(ModPlug_SetCurrentPosition(p.h, 10), 0);
    EXPECT_EQ(ModPlug_GetCurrentPosition(p.h), 0);
  }
  EXPECT_EQ(ModPlug_Load(p.h, nullptr), 0);
}

TEST_F(Plugin, AudioOutputIsChosenByQmodAudio) {
  struct Case {
    std::string audio;
    const char* sdlDriver;  // SDL_AUDIODRIVER, so that "device" works without a sound card
    int play;
  } cases[] = {
      {"null", nullptr, 1},
      {"device", "dummy", 1},
      {"", "dummy", 1},  // empty means the device
      {"device", "no-such-driver", 0},
      {"bogus", nullptr, 0},
      {"null:x", nullptr, 0},
      {"wav:", nullptr, 0},
      {"wav:" + dir_.file("no/such/folder/x.wav"), nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("QMOD_AUDIO=" + c.audio);
    setenv("QMOD_AUDIO", c.audio.c_str(), 1);
    if (c.sdlDriver) {
      setenv("SDL_AUDIODRIVER", c.sdlDriver, 1);
    } else {
      unsetenv("SDL_AUDIODRIVER");
    }
    Handle p;
    ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
    ASSERT_EQ(ModPlug_Play(p.h), c.play);
    EXPECT_EQ(ModPlug_IsPlaying(p.h), c.play);
    if (c.play) {
      EXPECT_TRUE(waitFor(3s, [&] { return ModPlug_GetCurrentPosition(p.h) >= 3; }));
    }
  }
}

TEST_F(Plugin, MixingRateSetsTheOutputRate) {
  const std::string wav = dir_.file("rate.wav");
  setenv("QMOD_AUDIO", ("wav:" + wav).c_str(), 1);
  struct Case {
    bool present;
    std::uint32_t value, rate;
  } cases[] = {{true, 22050, 22050}, {true, 8000, 8000},    {true, 192000, 192000},
               {true, 7999, 44100},  {true, 192001, 44100}, {true, 0, 44100},
               {false, 0, 44100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    fs::remove(dir_.path() / "config" / "Hexmoor" / "MOD Plugin.ini");
    if (c.present) useSettings(dir_, {{"Packing", 0}, {"Mixing_Rate", c.value}, {"Quality", 0x3b}});
    Handle p;
    ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
    ASSERT_EQ(ModPlug_Play(p.h), 1);
    ASSERT_EQ(ModPlug_Stop(p.h), 1);
    EXPECT_EQ(readWav(wav).rate, c.rate);
  }
}

// Quality bit 0x10 is full stereo separation; without it the channels are drawn together.
TEST_F(Plugin, QualityBitSetsStereoSeparation) {
  double share[2];
  for (int full = 0; full < 2; ++full) {
    const std::string wav = dir_.file(full ? "full.wav" : "half.wav");
    setenv("QMOD_AUDIO", ("wav:" + wav).c_str(), 1);
    useSettings(dir_, {{"Quality", full ? 0x10u : 0u}});
    Handle p;
    ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
    ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, 200), 1);  // past any quiet intro
    ASSERT_EQ(ModPlug_Play(p.h), 1);
    std::this_thread::sleep_for(600ms);
    p.destroy();
    share[full] = readWav(wav).sideShare();
  }
  EXPECT_GT(share[1], 0.0);
  EXPECT_GT(share[1], 2 * share[0]) << "half separation " << share[0] << ", full " << share[1];
}

TEST_F(Plugin, ParameterText) {
  const std::string wav = dir_.file("params.wav");
  setenv("QMOD_AUDIO", ("wav:" + wav).c_str(), 1);
  {
    // Volume 0 plays silence; autostart plays at Load.
    Handle p("volume|0|autostart|true");
    ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
    EXPECT_EQ(ModPlug_IsPlaying(p.h), 1);
    EXPECT_TRUE(waitFor(3s, [&] { return ModPlug_GetCurrentPosition(p.h) >= 3; }));
  }
  const Wav w = readWav(wav);
  EXPECT_GT(w.seconds(), 0.2);
  EXPECT_EQ(w.rms(), 0.0);

  // Looping: the module goes on past its end and never reports one.
  std::atomic<int> ends{0};
  Handle p("loop|TRUE");
  ModPlug_RegisterCallback(p.h, countEnd, &ends);
  ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
  const int32_t max = ModPlug_GetMaxPosition(p.h);
  ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, max - 5), 1);
  ASSERT_EQ(ModPlug_Play(p.h), 1);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(ModPlug_IsPlaying(p.h), 1);
  EXPECT_LT(ModPlug_GetCurrentPosition(p.h), max - 5);
  EXPECT_EQ(ends.load(), 0);
}

TEST_F(Plugin, LoadWhilePlayingStopsAndReplaces) {
  Handle p;
  ASSERT_EQ(ModPlug_Load(p.h, module_.c_str()), 1);
  ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, 50), 1);
  ASSERT_EQ(ModPlug_Play(p.h), 1);
  ASSERT_EQ(ModPlug_Load(p.h, other_.c_str()), 1);
  EXPECT_EQ(ModPlug_IsPlaying(p.h), 0);
  EXPECT_EQ(ModPlug_GetCurrentPosition(p.h), 0);
  Handle q;
  ASSERT_EQ(ModPlug_Load(q.h, other_.c_str()), 1);
  EXPECT_EQ(ModPlug_GetMaxPosition(p.h), ModPlug_GetMaxPosition(q.h));
  // Out-of-range seeks are clamped, also while stopped.
  ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, -100), 1);
  EXPECT_EQ(ModPlug_GetCurrentPosition(p.h), 0);
  ASSERT_EQ(ModPlug_SetCurrentPosition(p.h, 0x7fffffff), 1);
  EXPECT_GE(ModPlug_GetCurrentPosition(p.h), ModPlug_GetMaxPosition(p.h) - 1);
  // Played from the end, the module ends at once.
  ASSERT_EQ(ModPlug_Play(p.h), 1);
  EXPECT_TRUE(waitFor(3s, [&] { return ModPlug_IsPlaying(p.h) == 0; }));
}

TEST(PluginEntryPoints, WithoutAnInstanceOrModule) {
  EXPECT_EQ(ModPlug_Initialize(), 1);
  EXPECT_EQ(ModPlug_Shutdown(), 1);
  EXPECT_EQ(ModPlug_GetVersion(), 0x00010000);
  EXPECT_EQ(ModPlug_Destroy(nullptr), 0);
  EXPECT_EQ(ModPlug_Load(nullptr, "x.mod"), 0);
  EXPECT_EQ(ModPlug_SetWindow(nullptr, nullptr), 0);
  EXPECT_EQ(ModPlug_Play(nullptr), 0);
  EXPECT_EQ(ModPlug_Stop(nullptr), 0);
  EXPECT_EQ(ModPlug_IsReady(nullptr), 0);
  EXPECT_EQ(ModPlug_IsPlaying(nullptr), 0);
  EXPECT_EQ(ModPlug_GetMaxPosition(nullptr), 0);
  EXPECT_EQ(ModPlug_GetCurrentPosition(nullptr), 0);
  EXPECT_EQ(ModPlug_SetCurrentPosition(nullptr, 0), 0);
  EXPECT_EQ(ModPlug_RegisterCallback(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ModPlug_GetSongLength(nullptr), 0);

  void* h = ModPlug_Create();
  ASSERT_NE(h, nullptr);
  int window;
  EXPECT_EQ(ModPlug_SetWindow(h, &window), 1);
  EXPECT_EQ(ModPlug_SetWindow(h, nullptr), 1);
  EXPECT_EQ(ModPlug_IsReady(h), 0);
  EXPECT_EQ(ModPlug_Play(h), 0);
  EXPECT_EQ(ModPlug_GetSongLength(h), 0);
  EXPECT_EQ(ModPlug_Destroy(h), 1);
}

}  // namespace
