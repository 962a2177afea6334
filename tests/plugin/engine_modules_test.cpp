// Real modules through the QMOD engine as a player drives it: libqmod.so loads the plug-in
// from beside itself, writes the settings it then reads, and sees the end of a module.
#include <gtest/gtest.h>

#include <fstream>

#include "PluginTestSupport.h"
#include "qmod.h"

namespace {

using namespace plugintest;
using namespace std::chrono_literals;

class EngineModule : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    useSettings(dir_);
    setenv("QMOD_AUDIO", ("wav:" + wav_).c_str(), 1);
  }
  void TearDown() override { QMODEngine_Close(); }
  TempDir dir_;
  const std::string wav_ = dir_.file("out.wav");
};

TEST_P(EngineModule, OpensPlaysPausesSeeksAndEnds) {
  // The mixing rate reaches the plug-in through the settings file.
  ModuleSettings settings{32000, 1, 1, 0, 1, 1};
  int window;
  ASSERT_EQ(QMODEngine_Open(&window, GetParam().c_str(), 7, &settings), 1);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_OPEN);
  const int32_t length = QMODEngine_GetLength();
  ASSERT_GT(length, 3000);
  EXPECT_EQ(length % 100, 0);  // tenths of a second, times 100
  EXPECT_EQ(QMODEngine_GetPosition(), 0);

  ASSERT_EQ(QMODEngine_Play(), 1);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_PLAY);
  ASSERT_TRUE(waitFor(5s, [] { return QMODEngine_GetPosition() >= 800; }));

  ASSERT_EQ(QMODEngine_Pause(), 1);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_PAUSE);
  const int32_t paused = QMODEngine_GetPosition();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(QMODEngine_GetPosition(), paused);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_PAUSE);

  ASSERT_EQ(QMODEngine_Resume(), 1);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_PLAY);
  EXPECT_TRUE(waitFor(3s, [&] { return QMODEngine_GetPosition() >= paused + 300; }));

  // Seek to 1.2 s before the end: it lands on a row start at or a little after the target.
  const uint32_t target = static_cast<uint32_t>(length - 1200);
  ASSERT_EQ(QMODEngine_Seek(target), 1);
  const int32_t landed = QMODEngine_GetPosition();
  EXPECT_GE(landed, static_cast<int32_t>(target) - 100);
  EXPECT_LE(landed, static_cast<int32_t>(target) + 1000);

  // The end of the module: GetMode turns 526 into 525 and the position is back at the start.
  EXPECT_TRUE(waitFor(8s, [] { return QMODEngine_GetMode() == MCI_MODE_STOP; }));
  EXPECT_EQ(QMODEngine_GetPosition(), 0);

  ASSERT_EQ(QMODEngine_Close(), 1);
  EXPECT_EQ(QMODEngine_IsOpen(), 0);
  const Wav w = readWav(wav_);
  EXPECT_TRUE(w.headerComplete);
  EXPECT_EQ(w.rate, 32000u);
  EXPECT_GE(w.seconds(), 1.2);
  EXPECT_GT(w.rms(), 100.0) << "the WAV file is silent";
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, EngineModule, ::testing::ValuesIn(realModules()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return moduleTestName(info.param);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EngineModule);

TEST(EngineModules, NotAModuleIsALoadError) {
  TempDir dir;
  useSettings(dir);
  setenv("QMOD_AUDIO", "null", 1);
  std::ofstream(dir.file("notes.mod")) << "Not a module at all.\n";
  std::ofstream(dir.file("empty.it"));
  ModuleSettings settings{44100, 0, 0, 0, 0, 0};
  for (const char* name : {"notes.mod", "empty.it", "missing.xm"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QMODEngine_Open(nullptr, dir.file(name).c_str(), 0, &settings), QMOD_ERR_LOAD);
    EXPECT_EQ(QMODEngine_IsOpen(), 0);
    EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_NOT_READY);
  }
}

TEST(EngineModules, PlayFailsWhenTheAudioOutputCannotOpen) {
  const auto modules = realModules();
  if (modules.empty()) GTEST_SKIP() << "no module packages installed (scripts/install-deps.sh)";
  TempDir dir;
  useSettings(dir);
  setenv("QMOD_AUDIO", "device", 1);
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  ModuleSettings settings{44100, 1, 1, 1, 1, 1};
  ASSERT_EQ(QMODEngine_Open(nullptr, modules.front().c_str(), 0, &settings), 1);
  EXPECT_EQ(QMODEngine_Play(), QMOD_ERR_PLAY);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_OPEN);
  setenv("SDL_AUDIODRIVER", "dummy",
         1);  // the same instance tries the device again at the next Play
  EXPECT_EQ(QMODEngine_Play(), 1);
  EXPECT_EQ(QMODEngine_GetMode(), MCI_MODE_PLAY);
  EXPECT_TRUE(waitFor(3s, [] { return QMODEngine_GetPosition() >= 300; }));
  EXPECT_EQ(QMODEngine_Close(), 1);
}

}  // namespace
