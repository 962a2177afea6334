// Stand-ins for services that a build or a process does not provide: every call fails the
// way the real service fails when the system lacks it.
#pragma once

#include "Platform.h"

namespace platform {

class UnavailableInternet : public InternetService {
 public:
  InternetHandle openSession(const char*) override { return nullptr; }
  InternetHandle openUrl(InternetHandle, const char*) override { return nullptr; }
  bool read(InternetHandle, std::uint8_t*, std::size_t, std::size_t& count) override {
    count = 0;
    return false;
  }
  void closeSession(InternetHandle) override {}
};

}  // namespace platform
