// make-large-smf: writes the benchmark song to a file, for feeding it to other tools.
#include <cstdio>

#include "LargeSmf.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-large-smf OUT.mid\n");
    return 2;
  }
  const bench::LargeSmf smf = bench::makeLargeSmf();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(smf.bytes.data(), 1, smf.bytes.size(), out) == smf.bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s: %zu bytes, %llu events, %llu tempo changes, %u ticks\n", argv[1],
              smf.bytes.size(), static_cast<unsigned long long>(smf.events),
              static_cast<unsigned long long>(smf.tempoChanges), smf.lengthTicks);
  return 0;
}
