#include <gtest/gtest.h>

#include "RecordingReader.h"

namespace smf {
namespace {

TEST(Smoke, MergedTwoTracks) {
  Bytes file = song(1, 96, {Track().tempo(0, 500000).endOfTrack(96),
                            Track().noteOn(96, 0, 60, 100).noteOff(96, 0, 60).endOfTrack()});
  RecordingMergedReader r(file);
  EXPECT_EQ(r.readFile(), 1);
  for (auto& l : r.lines) std::printf("%s\n", l.c_str());
}

}  // namespace
}  // namespace smf
