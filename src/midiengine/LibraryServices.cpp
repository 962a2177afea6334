// Compiled into the engine library only: a player that loads it gets real downloads, while the
// tools and tests that link the engine statically keep the stand-in unless they install one.
#include "CurlInternet.h"

namespace {

struct InstallDownloads {
  InstallDownloads() { platform::services().internet = &platform::curlInternet(); }
} installDownloads;

}  // namespace
