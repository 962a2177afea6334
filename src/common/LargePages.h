// A hint that a block of many megabytes is about to be filled front to back: where the kernel
// offers transparent huge pages, it backs the block with them, sparing most of its page faults.
// Shared by the reader (which has no platform layer) and the POSIX platform backend.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace common {

inline void adviseLargePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only whole pages inside the block; a large page needs 2 MiB, so smaller blocks gain nothing.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(page - 1);
  if (end > begin && end - begin >= (std::uintptr_t{2} << 20))
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace common
