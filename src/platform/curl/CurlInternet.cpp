// The libcurl session: a pull-style transfer over the multi interface. The thread that calls
// openUrl or read runs curl_multi_perform and curl_multi_poll itself; curl_multi_wakeup, the
// one multi call that is safe from another thread, lets closeSession break a blocked call.
#include "CurlInternet.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr const char* kProtocols = "http,https,ftp";
constexpr long kMaxRedirects = 5;
// Bytes that a transfer buffers ahead of the caller before it pauses the connection.
constexpr std::size_t kAheadLimit = 64 * 1024;
// A blocked call wakes at least this often; closeSession wakes it at once.
constexpr int kPollMs = 1000;

bool startsWithNoCase(const char* text, std::size_t length, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (length < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::once_flag globalInitOnce;
bool globalInitOk = false;

bool initCurl() {
  std::call_once(globalInitOnce, [] { globalInitOk = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return globalInitOk;
}

}  // namespace

struct CurlInternet::Session {
  CURLM* multi = nullptr;
  std::string agent;
  std::atomic<bool> closed{false};

  ~Session() {
    if (multi) curl_multi_cleanup(multi);
  }
};

struct CurlInternet::Transfer {
  std::shared_ptr<Session> session;
  std::uintptr_t sessionKey = 0;
  CURL* easy = nullptr;
  bool added = false;

  // Written by the callbacks, which run on the thread that drives the transfer.
  std::vector<std::uint8_t> ahead;  // body bytes not yet handed to the caller, from `head`
  std::size_t head = 0;
  std::size_t want = 0;  // what the current read waits for
  bool paused = false;
  bool sawLocation = false;
  bool headersDone = false;
  bool done = false;
  CURLcode result = CURLE_OK;

  ~Transfer() {
    if (added) curl_multi_remove_handle(session->multi, easy);
    if (easy) curl_easy_cleanup(easy);
  }

  std::size_t available() const { return ahead.size() - head; }
  std::size_t limit() const { return std::max(kAheadLimit, want); }

  void consume(std::uint8_t* block, std::size_t n) {
    std::memcpy(block, ahead.data() + head, n);
    head += n;
    if (head == ahead.size()) {
      ahead.clear();
      head = 0;
    } else if (head >= kAheadLimit) {
      ahead.erase(ahead.begin(), ahead.begin() + static_cast<std::ptrdiff_t>(head));
      head = 0;
    }
  }

  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    // A paused chunk is delivered again on resume, so nothing of it may be taken now.
    if (t.available() >= t.limit()) {
      t.paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    const std::size_t n = size * count;
    t.ahead.insert(t.ahead.end(), reinterpret_cast<std::uint8_t*>(data),
                   reinterpret_cast<std::uint8_t*>(data) + n);
    return n;
  }

  // The headers of the final response end with a blank line; interim responses (1xx) and
  // redirects that libcurl follows come before it.
  static std::size_t onHeader(char* line, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (startsWithNoCase(line, n, "http/")) {
      t.sawLocation = false;
    } else if (startsWithNoCase(line, n, "location:")) {
      t.sawLocation = true;
    } else if ((n == 2 && line[0] == '\r' && line[1] == '\n') || (n == 1 && line[0] == '\n')) {
      long code = 0;
      curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
      const bool redirect = code >= 300 && code < 400 && t.sawLocation;
      if (code >= 200 && !redirect) t.headersDone = true;
    }
    return n;
  }

  bool configure(const char* url, const std::string& agent) {
    return curl_easy_setopt(easy, CURLOPT_URL, url) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kProtocols) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_PRIVATE, this) == CURLE_OK;
  }

  // Runs the transfer until enough() holds or it has ended; false once the session is closed.
  template <class Enough>
  bool drive(Enough enough) {
    CURLM* multi = session->multi;
    for (;;) {
      if (session->closed.load()) return false;
      if (enough() || done) return true;
      if (paused && available() < limit()) {
        // Resuming may hand over the held chunk at once, and may pause again.
        paused = false;
        curl_easy_pause(easy, CURLPAUSE_CONT);
        continue;
      }
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        done = true;
        result = CURLE_RECV_ERROR;
        continue;
      }
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        void* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (auto* t = static_cast<Transfer*>(owner)) {
          t->done = true;
          t->result = message->data.result;
        }
      }
      if (running == 0 && !done) {
        // Nothing left to run and no word of this transfer: do not wait for what cannot come.
        done = true;
        result = CURLE_RECV_ERROR;
      }
      if (enough() || done || session->closed.load()) continue;
      curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
  }
};

CurlInternet::~CurlInternet() = default;

std::shared_ptr<CurlInternet::Session> CurlInternet::findSession(InternetHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = sessions_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == sessions_.end() ? nullptr : it->second;
}

std::shared_ptr<CurlInternet::Transfer> CurlInternet::findTransfer(InternetHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = transfers_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == transfers_.end() ? nullptr : it->second;
}

InternetHandle CurlInternet::openSession(const char* agent) {
  if (!initCurl()) return nullptr;
  auto session = std::make_shared<Session>();
  session->agent = agent ? agent : "";
  session->multi = curl_multi_init();
  if (!session->multi) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uintptr_t key = ++lastHandle_;
  sessions_[key] = std::move(session);
  return reinterpret_cast<InternetHandle>(key);
}

InternetHandle CurlInternet::openUrl(InternetHandle sessionHandle, const char* url) {
  std::shared_ptr<Session> session = findSession(sessionHandle);
  if (!session || !url || session->closed) return nullptr;
  auto transfer = std::make_shared<Transfer>();
  Transfer& t = *transfer;
  t.session = session;
  t.sessionKey = reinterpret_cast<std::uintptr_t>(sessionHandle);
  t.easy = curl_easy_init();
  if (!t.easy || !t.configure(url, session->agent)) return nullptr;
  if (curl_multi_add_handle(session->multi, t.easy) != CURLM_OK) return nullptr;
  t.added = true;
  if (!t.drive([&t] { return t.headersDone || t.available() > 0 || t.paused; })) return nullptr;
  if (t.done && t.result != CURLE_OK) return nullptr;
  if (t.headersDone) {
    // The error status fails the transfer already; this only guards the order of events.
    long code = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 400) return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(t.sessionKey)) return nullptr;  // closed while the headers came
  const std::uintptr_t key = ++lastHandle_;
  transfers_[key] = std::move(transfer);
  return reinterpret_cast<InternetHandle>(key);
}

bool CurlInternet::read(InternetHandle url, std::uint8_t* block, std::size_t size,
                        std::size_t& count) {
  count = 0;
  std::shared_ptr<Transfer> transfer = findTransfer(url);
  if (!transfer || (!block && size > 0)) return false;
  Transfer& t = *transfer;
  t.want = size;
  if (!t.drive([&t, size] { return t.available() >= size; })) return false;
  const std::size_t n = std::min(size, t.available());
  // Bytes that arrived before a failure are still handed over; the failure shows next time.
  if (n == 0 && t.done && t.result != CURLE_OK) return false;
  if (n > 0) t.consume(block, n);
  count = n;
  return true;
}

void CurlInternet::closeSession(InternetHandle sessionHandle) {
  const auto key = reinterpret_cast<std::uintptr_t>(sessionHandle);
  std::shared_ptr<Session> session;
  std::vector<std::shared_ptr<Transfer>> transfers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sessions_.find(key);
    if (it == sessions_.end()) return;
    session = std::move(it->second);
    sessions_.erase(it);
    for (auto t = transfers_.begin(); t != transfers_.end();) {
      if (t->second->sessionKey == key) {
        transfers.push_back(std::move(t->second));
        t = transfers_.erase(t);
      } else {
        ++t;
      }
    }
    session->closed = true;
  }
  curl_multi_wakeup(session->multi);
  // A call still running on another thread holds its own references: the handles die with it.
}

CurlInternet& curlInternet() {
  static auto* instance = new CurlInternet;
  return *instance;
}

}  // namespace platform
