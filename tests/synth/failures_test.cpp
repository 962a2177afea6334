// Outputs that cannot open: Play reports QMID_ERR_DEVICE and standard error gets exactly one
// "qmid: " line with the reason, whatever the libraries underneath would have printed.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "SmfBuilder.h"
#include "SynthTestSupport.h"
#include "qmid.h"

namespace {

struct FailureCase {
  const char* name;
  // Variables to set; "{song}" stands for a regular file and "{tmp}" for a fresh path.
  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<std::string> pieces;  // found in the line, in this order
};

// Test names stay readable in CTest's list.
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

std::string expand(std::string text, const std::string& song, const std::string& tmp) {
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"{song}", song}, {"{tmp}", tmp}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  }
  return text;
}

class SynthFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SynthFailureTest, OneLineAndNoDevice) {
  if (!synthtest::soundFontInstalled()) GTEST_SKIP() << synthtest::kSoundFont << " is not installed";
  const FailureCase& c = GetParam();
  synthtest::ScopedEnvironment env;
  synthtest::TempFiles files;
  smf::Track track;
  track.noteOn(0, 0, 60, 100).noteOff(100, 0, 60).endOfTrack();
  const smf::Bytes songBytes = smf::song(0, 96, {track});
  const std::string song = files.write("song.mid", songBytes);
  const std::string tmp = files.path("scratch");
  env.set("QMID_SOUNDFONT", synthtest::kSoundFont);
  env.unset("QMID_MIDI_OUT");
  env.unset("QMID_AUDIO_DRIVER");
  for (const auto& [name, value] : c.environment) env.set(name, expand(value, song, tmp));
  smf::Bytes truncated = {'R', 'I', 'F', 'F', 0x00, 0x10, 0x00, 0x00, 's', 'f', 'b', 'k'};
  truncated.insert(truncated.end(), songBytes.begin(), songBytes.end());
  files.write("scratch.sf2", truncated);

  ::testing::internal::CaptureStderr();
  const std::int32_t result = QMIDEngine_Play(nullptr, song.c_str(), 1);
  const std::string printed = ::testing::internal::GetCapturedStderr();
  QMIDEngine_Stop();

  EXPECT_EQ(result, QMID_ERR_DEVICE);
  std::vector<std::string> lines;
  std::istringstream in(printed);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u) << printed;
  EXPECT_EQ(lines[0].rfind("qmid: ", 0), 0u) << lines[0];
  std::size_t at = 0;
  for (const std::string& piece : c.pieces) {
    at = lines[0].find(expand(piece, song, tmp), at);
    ASSERT_NE(at, std::string::npos) << "no \"" << piece << "\" in order in: " << lines[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, SynthFailureTest,
    ::testing::Values(
        // Paths under a regular file fail for root too.
        FailureCase{"SoundFontUnderARegularFile",
                    {{"QMID_MIDI_OUT", "wav:{tmp}.wav"}, {"QMID_SOUNDFONT", "{song}/GM.sf2"}},
                    {"cannot read the SoundFont {song}/GM.sf2: Not a directory"}},
        FailureCase{"SoundFontThatIsNone",
                    {{"QMID_MIDI_OUT", "wav:{tmp}.wav"}, {"QMID_SOUNDFONT", "{song}"}},
                    {"{song} is not a SoundFont"}},
        // A RIFF header that promises a SoundFont, then a MIDI file's bytes.
        FailureCase{"SoundFontCutShort",
                    {{"QMID_MIDI_OUT", "wav:{tmp}.wav"}, {"QMID_SOUNDFONT", "{tmp}.sf2"}},
                    {"cannot load the SoundFont {tmp}.sf2"}},
        FailureCase{"WavUnderARegularFile", {{"QMID_MIDI_OUT", "wav:{song}/out.wav"}},
                    {"cannot write {song}/out.wav: Not a directory"}},
        FailureCase{"WavWithoutAFile", {{"QMID_MIDI_OUT", "wav:"}}, {"needs a file"}},
        FailureCase{"UnknownDevice", {{"QMID_MIDI_OUT", "speaker"}},
                    {"\"speaker\" in QMID_MIDI_OUT; this build has: synth null smf:PATH wav:PATH"}},
        // The default device with no sound server and an ALSA without devices: every driver in
        // its order, and none of ALSA's own complaints.
        FailureCase{"NoAudioOutput",
                    {{"QMID_AUDIO_DRIVER", "nosuch"},
                     {"PULSE_SERVER", "unix:{tmp}.socket"},
                     {"ALSA_CONFIG_PATH", "{tmp}.conf"}},
                    {"no audio output could be opened (nosuch: ", "; pulseaudio: ", "; alsa: "}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
