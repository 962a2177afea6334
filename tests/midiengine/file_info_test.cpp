// The one-line information text: labelled title, copyright and track names, the items that do
// not fit left out, and labels in the user's language or none at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FakePlatform.h"
#include "MidiEngine.h"
#include "SmfBuilder.h"
#include "posix/SystemServices.h"

namespace {

qmid::MidiEngine engine;  // zero-filled static storage, like the library's

struct Texts {
  std::string title;
  std::string copyright;
  std::vector<std::pair<int, std::string>> tracks;  // track number, name
  std::int32_t trackNameCount = -1;                 // -1: the highest track given
};

class FileInfo : public ::testing::Test {
 protected:
  void SetUp() override { qmid::clear(engine); }
  void TearDown() override { qmid::release(engine); }

  static void fill(const Texts& texts) {
    qmid::clear(engine);
    std::strcpy(engine.title, texts.title.c_str());
    std::strcpy(engine.copyright, texts.copyright.c_str());
    for (const auto& track : texts.tracks) {
      std::strcpy(engine.trackNames[track.first - 1], track.second.c_str());
      if (track.first > engine.trackNameCount) engine.trackNameCount = track.first;
    }
    if (texts.trackNameCount >= 0) engine.trackNameCount = texts.trackNameCount;
  }

  // The text in a buffer of the given size, which starts out full of other bytes.
  static std::string info(std::int32_t size, std::int32_t expectedResult = 1) {
    std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
    EXPECT_EQ(qmid::fileInfo(engine, true, buffer.data(), size), expectedResult);
    const void* end = std::memchr(buffer.data(), 0, buffer.size());
    EXPECT_NE(end, nullptr) << "not terminated";
    return end ? std::string(buffer.data()) : std::string();
  }

  fakes::FakePlatform fake;
};

const Texts kBlueHills{"Blue Hills", "Public domain", {{1, "Piano"}, {3, "Bass"}}};

TEST_F(FileInfo, NoSongGivesAnEmptyTextAndZero) {
  fill(kBlueHills);
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(qmid::fileInfo(engine, false, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(FileInfo, ItemsLabelsAndSeparators) {
  const std::string name255(255, 'n');
  const struct {
    const char* what;
    Texts texts;
    std::int32_t size;
    std::string expected;
  } cases[] = {
      {"no texts", {}, 200, ""},
      {"title, copyright and two tracks", kBlueHills, 200,
       "Title : Blue Hills, Copyright : Public domain, Sequence : [1]Piano, [3]Bass"},
      {"only the first track line is labelled",
       {"", "", {{2, "Organ"}, {5, "Drums"}}},
       200,
       "Sequence : [2]Organ, [5]Drums"},
      {"title lines become one line",
       {"Part one\nPart two", "", {}},
       200,
       "Title : Part one Part two"},
      {"a separator left at the end of the title",
       {"Part one\n", "PD", {}},
       200,
       "Title : Part one , Copyright : PD"},
      {"trailing blanks are dropped, blank items left out",
       {"Blue \t", " \t ", {}},
       200,
       "Title : Blue"},
      {"names past trackNameCount are not read",
       {"", "", {{1, "Piano"}, {6, "Hidden"}}, 3},
       200,
       "Sequence : [1]Piano"},
      {"a track line is cut to 255 bytes",
       {"", "", {{1, name255}}},
       600,
       "Sequence : [1]" + name255.substr(0, 252)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fill(c.texts);
    EXPECT_EQ(info(c.size), c.expected);
  }
}

// An addition is left out when it would make the text size - 1 bytes or longer; later, shorter
// items still go in, and the track label is used up by the first named track all the same.
TEST_F(FileInfo, ItemsThatDoNotFitAreLeftOut) {
  const struct {
    const char* what;
    Texts texts;
    std::int32_t size;
    const char* expected;
  } cases[] = {
      {"title of size - 2 bytes fits", {"X", "", {}}, 11, "Title : X"},
      {"title of size - 1 bytes does not", {"X", "", {}}, 10, ""},
      {"copyright after a title that did not fit",
       {"A title too long", "PD", {}},
       16,
       "Copyright : PD"},
      {"second item that would reach size - 1", {"X", "Y", {}}, 25, "Title : X"},
      {"second item that fits", {"X", "Y", {}}, 26, "Title : X, Copyright : Y"},
      {"label passes on after a track line that did not fit",
       {"", "", {{1, "Piano"}, {2, "Bass"}}},
       10,
       "[2]Bass"},
      {"size 1", kBlueHills, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fill(c.texts);
    EXPECT_EQ(info(c.size), c.expected);
  }
}

TEST_F(FileInfo, MissingLabelsLeaveTheBareTexts) {
  fake.strings.missing = true;
  fill(kBlueHills);
  EXPECT_EQ(info(200), "Blue Hills, Public domain, [1]Piano, [3]Bass");
}

// Labels come from the string service in the user's language, as 8-bit text; the text around
// them stays the same.
TEST_F(FileInfo, LabelsInTheUsersLanguage) {
  class Labels : public platform::StringService {
   public:
    explicit Labels(platform::Language language) : language_(language) {}
    std::string load(std::uint32_t id) override { return platform::labelText(id, language_); }

   private:
    platform::Language language_;
  };
  const struct {
    const char* what;
    platform::Language language;
    std::string expected;
  } cases[] = {
      {"Japanese", platform::Language::Japanese,
       "\uFF80\uFF72\uFF84\uFF99 : Blue Hills, \uFF7A\uFF8B\uFF9F\uFF70\uFF97\uFF72\uFF84 : Public "
       "domain, \uFF7C\uFF70\uFF79\uFF9D\uFF7D : [1]Piano, [3]Bass"},
      {"Korean", platform::Language::Korean,
       "\uACE1\uBA85 : Blue Hills, \uC800\uC791\uAD8C : Public domain, \uC2DC\uD000\uC2A4 : "
       "[1]Piano, [3]Bass"},
  };
  fill(kBlueHills);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Labels labels(c.language);
    platform::Services services = platform::services();
    services.strings = &labels;
    const platform::Services previous = platform::install(services);
    const std::string text = info(300);
    platform::install(previous);
    EXPECT_EQ(text, c.expected);
  }
}

// From the file's own events: "@T" lines, copyright and track names of tracks 1 and 3.
TEST_F(FileInfo, FromALoadedSong) {
  using smf::Track;
  const smf::Bytes file = smf::song(
      1, 480,
      {Track()
           .text(0, 3, "Piano  ")
           .text(0, 2, "Public domain")
           .text(0, 1, "@TBlue")
           .text(0, 1, "@THills")
           .noteOn(0, 0, 60, 100)
           .endOfTrack(),
       Track().noteOn(0, 1, 40, 100).endOfTrack(), Track().text(0, 3, "Bass").endOfTrack()});
  ASSERT_EQ(qmid::openOutput(engine, nullptr), 1);
  ASSERT_EQ(qmid::loadMemory(engine, file.data(), static_cast<std::int32_t>(file.size())), 1);
  EXPECT_EQ(info(200),
            "Title : Blue Hills, Copyright : Public domain, Sequence : [1]Piano, [3]Bass");
}

}  // namespace
