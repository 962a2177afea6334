// Downloads over libcurl. A session is a multi handle that the calling thread drives from
// openUrl and read, so that closeSession from another thread can wake a blocked call at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "Platform.h"

namespace platform {

// One thread makes the openUrl and read calls of a session; closeSession may come from any
// thread. Handles are numbers that are never reused, so a call with a handle whose session
// has been closed fails instead of touching freed memory.
class CurlInternet : public InternetService {
 public:
  CurlInternet() = default;
  CurlInternet(const CurlInternet&) = delete;
  CurlInternet& operator=(const CurlInternet&) = delete;
  ~CurlInternet() override;

  // Proxies come from libcurl's environment variables; nothing is sent before openUrl.
  InternetHandle openSession(const char* agent) override;
  // http, https and ftp only, also after a redirect (at most 5). Returns once the response
  // headers have arrived (for ftp: once the body starts or ends); an error status fails it.
  InternetHandle openUrl(InternetHandle session, const char* url) override;
  bool read(InternetHandle url, std::uint8_t* block, std::size_t size,
            std::size_t& count) override;
  void closeSession(InternetHandle session) override;

  struct Session;
  struct Transfer;

 private:
  std::shared_ptr<Session> findSession(InternetHandle handle);
  std::shared_ptr<Transfer> findTransfer(InternetHandle handle);

  std::mutex mutex_;
  std::uintptr_t lastHandle_ = 0;
  std::map<std::uintptr_t, std::shared_ptr<Session>> sessions_;
  std::map<std::uintptr_t, std::shared_ptr<Transfer>> transfers_;
};

// The process-wide instance that the engine library installs; never destroyed, since a
// download thread may still be inside it when the process ends.
CurlInternet& curlInternet();

}  // namespace platform
