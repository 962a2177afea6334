// qplay's parts that need no engine: keys, cues and the lyric display, the screen's layout,
// sorting sources and reading the command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Cues.h"
#include "Options.h"
#include "Screen.h"
#include "Sources.h"
#include "Terminal.h"
#include "qmid.h"

namespace qplay {
namespace {

TEST(QplayKeys, DecodesPressesAndKeepsCutSequences) {
  using K = Key;
  const struct {
    std::string bytes;
    std::vector<Key> keys;
    std::string left;
  } cases[] = {
      {" q", {K::PauseResume, K::Quit}, ""},
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {K::TempoUp, K::TempoDown, K::SeekForward, K::SeekBack}, ""},
      {"\x1bOC", {K::SeekForward}, ""},                  // application cursor keys
      {"+=-_[]nN", {K::TempoUp, K::TempoUp, K::TempoDown, K::TempoDown, K::KeyDown, K::KeyUp, K::Next, K::Next}, ""},
      {"\x1b[1;5C", {K::SeekForward}, ""},               // with a modifier
      {"\x1b[", {}, "\x1b["},                            // the rest comes with the next read
      {"a\x1b", {}, "\x1b"},
      {"\x1bq", {K::Quit}, ""},                          // a lone escape is dropped
      {"\x1b[H", {}, ""},                                // known shape, unused key
      {"\x03", {K::Quit}, ""},
  };
  for (const auto& c : cases) {
    std::string pending = c.bytes;
    EXPECT_EQ(takeKeys(pending), c.keys) << c.bytes;
    EXPECT_EQ(pending, c.left) << c.bytes;
  }
}

// Feeds the reader real records, as the engine posts their addresses.
class QplayCues : public ::testing::Test {
 protected:
  LyricLine line(int index, const char* text, bool leadIn) {
    LyricLine l{};
    l.leadIn = leadIn ? 1 : 0;
    std::snprintf(l.text, sizeof l.text, "%s", text);
    lines_[index] = l;
    return l;
  }
  Cue post(uintptr_t w, const void* record) {
    QWinMessage m{nullptr, MSG_KARAOKE, w, reinterpret_cast<intptr_t>(record)};
    Cue cue = reader_.read(m);
    state_.apply(cue);
    return cue;
  }
  Cue lineCue(int index, bool seek = false) {
    return post(seek ? QMID_CUE_SEEK_LINE + static_cast<uintptr_t>(index) : static_cast<uintptr_t>(index),
                &lines_[index]);
  }
  Cue syllable(int lineIndex, int offset, int length, bool seek = false) {
    syllables_.push_back(LyricSyllable{0, lineIndex, offset, length});
    return post(seek ? QMID_CUE_SEEK_SYLLABLE : QMID_CUE_SYLLABLE, &syllables_.back());
  }
  std::string sung() const { return state_.currentText.substr(0, state_.sung); }

  LyricLine lines_[8] = {};
  std::vector<LyricSyllable> syllables_ = std::vector<LyricSyllable>(0);
  CueReader reader_;
  KaraokeState state_;
};

TEST_F(QplayCues, FollowsLinesAndSyllablesOnTwoRows) {
  syllables_.reserve(16);  // records must not move while the reader holds their lines
  const char title[256] = "Twinkle\nTraditional";
  EXPECT_EQ(post(0, title).text, "Twinkle\nTraditional");
  line(1, "Twinkle twinkle", true);
  line(2, "Little star", false);
  line(3, "How I wonder", false);

  lineCue(1);  // lead-in: shown at once, nothing sung
  EXPECT_EQ(state_.current, 1);
  EXPECT_EQ(state_.currentText, "Twinkle twinkle");
  lineCue(2);  // cued while line 1 is sung: waits below
  EXPECT_EQ(state_.next, 2);
  EXPECT_EQ(syllable(1, 0, 8).text, "Twinkle ");
  EXPECT_EQ(sung(), "Twinkle ");
  syllable(1, 8, 7);
  EXPECT_EQ(sung(), "Twinkle twinkle");

  EXPECT_EQ(syllable(2, 0, 7).text, "Little ");  // line 2 moves up
  EXPECT_EQ(state_.current, 2);
  EXPECT_EQ(sung(), "Little ");
  EXPECT_EQ(state_.next, 0);
  EXPECT_TRUE(state_.nextText.empty());

  // A seek lands in line 1 again: its passed syllables show as sung, line 2 waits below.
  lineCue(1, true);
  EXPECT_EQ(state_.current, 1);
  EXPECT_EQ(sung(), "");
  Cue passed = syllable(1, 8, 7, true);
  EXPECT_EQ(passed.kind, Cue::SeekSyllable);
  EXPECT_EQ(sung(), "Twinkle twinkle");
  lineCue(2);
  EXPECT_EQ(state_.nextText, "Little star");

  // The stop cues clear the lyrics and keep the title.
  EXPECT_EQ(post(0, nullptr).kind, Cue::Stop);
  EXPECT_EQ(post(1, nullptr).kind, Cue::Other);
  EXPECT_EQ(state_.title, "Twinkle\nTraditional");
  EXPECT_EQ(state_.current, 0);
  EXPECT_TRUE(state_.currentText.empty());
}

TEST_F(QplayCues, SyllablesPastTheStoredTextAreCutNotRead) {
  syllables_.reserve(4);
  line(1, "Short", true);
  lineCue(1);
  const struct {
    int offset, length;
    std::string text;
  } cases[] = {{0, 5, "Short"}, {3, 10, "rt"}, {9, 4, ""}, {-2, 3, "Sho"}, {2, -1, ""}};
  for (const auto& c : cases) {
    syllables_.clear();
    EXPECT_EQ(syllable(1, c.offset, c.length).text, c.text) << c.offset << " " << c.length;
    EXPECT_LE(state_.sung, state_.currentText.size());
  }
}

TEST(QplayCueReader, IgnoresOtherMessagesAndSeekToLineZero) {
  CueReader reader;
  EXPECT_EQ(reader.read(QWinMessage{nullptr, MSG_URL_LOADED, 1, 526}).kind, Cue::Other);
  LyricLine zero{};
  KaraokeState state;
  state.current = 3;
  state.currentText = "old";
  Cue cue = reader.read(QWinMessage{nullptr, MSG_KARAOKE, QMID_CUE_SEEK_LINE, reinterpret_cast<intptr_t>(&zero)});
  EXPECT_EQ(cue.kind, Cue::SeekLine);
  EXPECT_EQ(cue.line, 0);
  state.apply(cue);
  EXPECT_EQ(state.current, 0);  // before the first line: nothing to show
  EXPECT_TRUE(state.currentText.empty());
}

TEST(QplayScreen, WidthsCountWideCharactersAndCutBetweenCharacters) {
  const struct {
    std::string text;
    std::size_t width;
    std::size_t fitIn;
    std::string fitted;
  } cases[] = {
      {"Twinkle", 7, 4, "Twin"},
      {"caf\xC3\xA9", 4, 4, "caf\xC3\xA9"},
      {"\xE3\x81\x95\xE3\x81\x8F\xE3\x82\x89", 6, 5, "\xE3\x81\x95\xE3\x81\x8F"},  // さくら
      {"\xEC\x95\x84\xEB\xA6\xAC", 4, 1, ""},                                      // 아리: no room for one
      {"", 0, 3, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
    EXPECT_EQ(fitWidth(c.text, c.fitIn), c.fitted) << c.text;
  }
  EXPECT_EQ(clockText(0), "0:00");
  EXPECT_EQ(clockText(71000), "1:11");
  EXPECT_EQ(clockText(-5), "0:00");
}

TEST(QplayScreen, FrameHighlightsTheSungPartAndStaysInsideTheWidth) {
  Frame frame;
  frame.heading = "qplay";
  frame.title = "Twinkle\nTraditional";
  frame.karaoke = true;
  frame.sung = "Twinkle ";
  frame.unsung = "twinkle";
  frame.next = "Little star";
  frame.state = "playing";
  frame.position = 30000;
  frame.length = 60000;
  frame.meter = true;
  frame.bands[0] = 25;
  const std::string out = renderFrame(frame, 40);
  EXPECT_EQ(out.rfind("\x1b[H", 0), 0u);
  EXPECT_NE(out.find(std::string(kSungStyle) + "Twinkle " + std::string(kPlainStyle) + "twinkle"), std::string::npos);
  EXPECT_NE(out.find("Twinkle \xC2\xB7 Traditional"), std::string::npos);  // one row
  EXPECT_NE(out.find("0:30 / 1:00"), std::string::npos);
  // Every row fits: strip the attributes and measure.
  std::size_t start = 3;
  while (start < out.size()) {
    std::size_t end = out.find("\x1b[K", start);
    if (end == std::string::npos) break;
    std::string row;
    for (std::size_t i = start; i < end; ++i) {
      if (out[i] == '\x1b') {
        while (i < end && out[i] != 'm') ++i;
        continue;
      }
      row += out[i];
    }
    EXPECT_LE(displayWidth(row), 39u) << row;
    start = end + 5;  // past "\x1b[K\r\n"
  }
  // A short terminal gets the top rows only, so nothing scrolls.
  const std::string shortFrame = renderFrame(frame, 80, 3);
  EXPECT_EQ(std::count(shortFrame.begin(), shortFrame.end(), '\n'), 2);
  // A position past the end (the MIDI clock runs on) shows as the length.
  frame.position = 65000;
  EXPECT_NE(renderFrame(frame, 80).find("1:00 / 1:00"), std::string::npos);
}

TEST(QplaySources, SortsByContentThenExtension) {
  char dir[] = "/tmp/qplay_sources_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto file = [&](const std::string& name, const std::string& bytes) {
    const std::string path = std::string(dir) + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  const struct {
    std::string source;
    SourceKind kind;
  } cases[] = {
      {"http://127.0.0.1/song.mod", SourceKind::Midi},  // the MIDI engine downloads
      {file("song.mod", std::string("MThd\0\0\0\6", 8)), SourceKind::Midi},
      {file("song.bin", std::string("RIFF\x10\0\0\0RMIDdata", 16)), SourceKind::Midi},
      {file("song.KAR", "not a header"), SourceKind::Midi},
      {file("tune.xm", "Extended Module: "), SourceKind::Module},
      {file("tune", "M.K. or anything"), SourceKind::Module},
      {std::string(dir) + "/missing.xm", SourceKind::Midi},  // reported as a file that cannot open
  };
  for (const auto& c : cases) EXPECT_EQ(classifySource(c.source), c.kind) << c.source;

  // Module titles from the headers' own places, padding trimmed.
  auto padded = [](std::string text, std::size_t size) {
    text.resize(size, '\0');
    return text;
  };
  std::string mod = padded("Round tune   ", 1080) + "M.K.";
  std::string s3m = padded("Scream title", 44) + "SCRM";
  const struct {
    std::string path;
    std::string title;
  } titles[] = {
      {file("a.xm", "Extended Module: " + padded("Xm song", 20) + "\x1a"), "Xm song"},
      {file("a.it", "IMPM" + padded("It song", 26)), "It song"},
      {file("a.s3m", s3m), "Scream title"},
      {file("a.mod", mod), "Round tune"},
      {file("b.mod", padded("No signature", 1084)), ""},
      {file("c.mod", "short"), ""},
  };
  for (const auto& t : titles) EXPECT_EQ(moduleTitle(t.path), t.title) << t.path;
  EXPECT_EQ(resultName(SourceKind::Midi, -9454), "QMID_ERR_OPEN");
  EXPECT_EQ(resultName(SourceKind::Midi, -9451), "QMID_ERR_DEVICE");
  EXPECT_EQ(resultName(SourceKind::Module, -9502), "QMOD_ERR_LOAD");
  EXPECT_EQ(resultName(SourceKind::Module, -9454), "QMOD_UNKNOWN");
  std::system((std::string("rm -rf ") + dir).c_str());
}

TEST(QplayOptions, ParsesTheCommandLine) {
  const struct {
    std::vector<const char*> args;
    bool ok;
    std::string out;
    int tempo;
    std::size_t sources;
  } cases[] = {
      {{"a.kar", "b.mod"}, true, "", 100, 2},
      {{"--out", "wav:x.wav", "--tempo", "400", "a.kar"}, true, "wav:x.wav", 400, 1},
      {{"--lines", "--charset", "CP932", "--", "-odd-name.mid"}, true, "", 100, 1},
      {{}, false, "", 100, 0},
      {{"--out"}, false, "", 100, 0},
      {{"--out", "", "a.kar"}, false, "", 100, 0},
      {{"--tempo", "9", "a.kar"}, false, "", 100, 0},
      {{"--tempo", "12x", "a.kar"}, false, "", 100, 0},
      {{"--loud", "a.kar"}, false, "", 100, 0},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"qplay"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options options;
    std::string error;
    const bool ok = parseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    EXPECT_EQ(ok, c.ok) << error;
    if (!ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(options.out, c.out);
    EXPECT_EQ(options.tempoPercent, c.tempo);
    EXPECT_EQ(options.sources.size(), c.sources);
  }
  EXPECT_EQ(outputDevices("synth"), std::make_pair(std::string("synth"), std::string("device")));
  EXPECT_EQ(outputDevices("smf:x.mid"), std::make_pair(std::string("smf:x.mid"), std::string("null")));
  EXPECT_EQ(outputDevices("wav:x.wav"), std::make_pair(std::string("wav:x.wav"), std::string("wav:x.wav")));
}

}  // namespace
}  // namespace qplay
