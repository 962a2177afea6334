// Delivers the events of all tracks of a file as one stream in time order, on one clock, so
// that every event's time uses the tempo in force at its tick whichever track set it.
#pragma once

#include <cstdint>
#include <memory>

#include "MidiFileReader.h"

namespace midifile {

class MergedMidiReader : public MidiFileReader {
 public:
  static constexpr int kMaxTracks = 255;
  // Gaps longer than this end the song: what follows is not music that anyone waits for.
  static constexpr std::uint64_t kLongPauseMilliseconds = 10000;

  // Both read the header at once; header errors go to this class's own error().
  MergedMidiReader(const char* fileName, std::FILE* stream, std::uint8_t mode);
  MergedMidiReader(const void* block, std::int32_t length, bool owns);
  ~MergedMidiReader() override;

  int readFile() override;

  bool tracksPresent() const { return trackNext != nullptr; }

  // One entry per track, in file order.
  std::unique_ptr<std::int32_t[]> trackNext;
  std::unique_ptr<std::int32_t[]> trackEnd;
  std::unique_ptr<std::uint32_t[]> trackTick;
  std::unique_ptr<std::uint8_t[]> trackDone;
  std::unique_ptr<std::int32_t[]> trackStatus;

 private:
  void prepareTracks();
  int indexTracks(std::uint32_t& longestLength, int& longestIndex);
  int selectTrack() const;
  int deliverTick(int track, std::uint32_t tick, std::uint32_t longestLength, int longestIndex);
  void finish();
};

}  // namespace midifile
