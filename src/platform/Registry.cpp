// The registry of services: the real backends unless a test installed others. Which backends
// are real is decided by the defaultServices() that the library links (posix/*Services.cpp).
#include "Platform.h"

namespace platform {

Services& services() {
  static Services current = defaultServices();
  return current;
}

Services install(const Services& replacement) {
  Services previous = services();
  services() = replacement;
  return previous;
}

}  // namespace platform
