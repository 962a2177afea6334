// The plug-in's reader of the settings file that the QMOD engine writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "PluginTestSupport.h"
#include "Settings.h"

namespace {

using npmod32::findSettingsValue;

TEST(SettingsReader, FindsDwordValuesInTheKeysSection) {
  const std::string section = "[Software\\Hexmoor\\MOD Plugin]\n";
  struct Case {
    const char* what;
    std::string text;
    std::optional<std::uint32_t> quality;
  } cases[] = {
      {"plain", section + "Quality=dword:0000003b\n", 0x3b},
      {"hex digits in either case", section + "Quality=dword:0000ABcd\n", 0xabcd},
      {"CR LF and spaces", "\r\n" + section + "  Quality = dword:00000008 \r\n", 8},
      {"names and sections without regard to case",
       "[software\\hexmoor\\mod plugin]\nQUALITY=dword:1\n", 1},
      {"among other values",
       section + "Mixing_Rate=dword:0000ac44\nPacking=dword:0\nQuality=dword:33\n", 0x33},
      {"the last line wins", section + "Quality=dword:1\nQuality=dword:2\n", 2},
      {"all 32 bits", section + "Quality=dword:ffffffff\n", 0xffffffffu},
      {"missing", section + "Mixing_Rate=dword:0000ac44\n", std::nullopt},
      {"in another section", "[Software\\Other]\nQuality=dword:1\n" + section, std::nullopt},
      {"after the section ends", section + "[Other]\nQuality=dword:1\n", std::nullopt},
      {"before any section", "Quality=dword:1\n" + section, std::nullopt},
      {"not a dword", section + "Quality=hex:01\n", std::nullopt},
      {"no digits", section + "Quality=dword:\n", std::nullopt},
      {"too many digits", section + "Quality=dword:100000000\n", std::nullopt},
      {"not hexadecimal", section + "Quality=dword:0000003g\n", std::nullopt},
      {"a name that only starts alike", section + "QualityX=dword:1\n", std::nullopt},
      {"empty text", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(findSettingsValue(c.text, "Quality"), c.quality);
  }
}

TEST(SettingsReader, FileLocationAndDefaults) {
  plugintest::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  EXPECT_EQ(npmod32::settingsFilePath(), dir.file("config") + "/Hexmoor/MOD Plugin.ini");
  npmod32::Settings s = npmod32::readSettings();  // no file
  EXPECT_EQ(s.mixingRate, 44100u);
  EXPECT_EQ(s.quality, 0x33u);

  plugintest::useSettings(dir, {{"Mixing_Rate", 48000}, {"Packing", 1}, {"Quality", 0}});
  s = npmod32::readSettings();
  EXPECT_EQ(s.mixingRate, 48000u);
  EXPECT_EQ(s.packing, 1u);
  EXPECT_EQ(s.quality, 0u);

  setenv("XDG_CONFIG_HOME", "", 1);  // empty counts as unset
  setenv("HOME", dir.path().c_str(), 1);
  EXPECT_EQ(npmod32::settingsFilePath(), dir.path().string() + "/.config/Hexmoor/MOD Plugin.ini");
}

}  // namespace
