// Plays a short song through libqmid.so on the default MIDI output, as a player would: the
// end-to-end test records what reaches the sound server. Exit 0 when the song played to its end.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "SmfBuilder.h"
#include "qmid.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: synth_play SONG.mid (the song is written there, then played)\n");
    return 2;
  }
  // A chord held for a second and a half, after a tenth of a second.
  smf::Track track;
  track.event(0, {0xC0, 80});
  track.noteOn(100, 0, 60, 110).noteOn(0, 0, 64, 110).noteOn(0, 0, 67, 110);
  track.noteOff(1500, 0, 60).noteOff(0, 0, 64).noteOff(0, 0, 67).endOfTrack();
  const smf::Bytes song = smf::song(0, 500, {track});
  std::ofstream(argv[1], std::ios::binary)
      .write(reinterpret_cast<const char*>(song.data()), static_cast<std::streamsize>(song.size()));

  const std::int32_t result = QMIDEngine_Play(nullptr, argv[1], 1);
  if (result != 1) {
    std::fprintf(stderr, "synth_play: Play returned %d\n", result);
    return 1;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (QMIDEngine_GetMode() == MCI_MODE_PLAY && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool ended = QMIDEngine_GetMode() == MCI_MODE_STOP;
  QMIDEngine_Stop();
  if (!ended) std::fprintf(stderr, "synth_play: the song did not end in time\n");
  return ended ? 0 : 1;
}
