// The download thread. It posts exactly one MSG_URL_LOADED on every path. A cancelled thread
// leaves the song store and the timer alone: it reports the step that failed when the closed
// session broke a call, and QMID_ERR_DEVICE (the output is going away) otherwise.
#include "Download.h"

#include <new>
#include <system_error>
#include <vector>

#include "Player.h"

namespace qmid {

namespace {

// A host that ends without Stop leaves the thread to the end of the process instead of having
// its handle abort the process on the way out.
struct ThreadHandle {
  std::thread thread;
  ~ThreadHandle() {
    if (thread.joinable()) thread.detach();
  }
};

DownloadRequest request;
ThreadHandle handle;
std::thread& thread = handle.thread;
std::atomic<platform::InternetHandle> session{nullptr};
std::atomic<bool> cancelled{false};
std::atomic<bool> pending{false};
std::mutex songMutex;
// The service the running download uses, so that the unload closes through the same one.
platform::InternetService* internet = nullptr;

constexpr std::uintptr_t kLoaded = 1;
constexpr std::uintptr_t kFailed = 2;

// Whichever of the thread and the unload takes the handle first closes it.
void closeSession(platform::InternetService& net) {
  if (platform::InternetHandle s = session.exchange(nullptr)) net.closeSession(s);
}

// Reads the whole body into `body`: false when there is none (the first read failed, or the
// body would not fit in memory or under the cap). A short read ends the body, and so does a
// failed read after the first.
bool readBody(platform::InternetService& net, platform::InternetHandle url,
              std::vector<std::uint8_t>& body) {
  std::uint8_t block[kReadBlock];
  std::size_t count = 0;
  if (!net.read(url, block, sizeof block, count)) return false;
  for (;;) {
    if (count > kMaxBody - body.size()) {
      std::vector<std::uint8_t>().swap(body);
      return false;
    }
    try {
      body.insert(body.end(), block, block + count);
    } catch (const std::bad_alloc&) {
      std::vector<std::uint8_t>().swap(body);
      return false;
    }
    if (count < sizeof block) return true;
    if (!net.read(url, block, sizeof block, count)) return true;
  }
}

std::int32_t loadAndStart(std::vector<std::uint8_t>& body) {
  std::lock_guard<std::mutex> lock(songMutex);
  if (cancelled) return QMID_ERR_DEVICE;
  static const std::uint8_t none = 0;
  MidiEngine& engine = theEngine();
  std::int32_t result = loadMemory(engine, body.empty() ? &none : body.data(),
                                   static_cast<std::int32_t>(body.size()));
  std::vector<std::uint8_t>().swap(body);
  if (result <= 0) return result;
  if (cancelled) return QMID_ERR_DEVICE;
  result = start(engine);
  if (result <= 0) return result;
  playMode() = MCI_MODE_PLAY;
  return 1;
}

std::int32_t download(platform::InternetService& net, const DownloadRequest& r) {
  const platform::InternetHandle s = net.openSession(kAgent);
  if (!s) return QMID_ERR_NETWORK;
  session = s;
  // An unload that came before the handle was stored could not close it: stop here.
  if (cancelled) {
    closeSession(net);
    return QMID_ERR_DEVICE;
  }
  const platform::InternetHandle url = net.openUrl(s, r.url);
  if (!url) return QMID_ERR_OPEN;  // the session stays for the unload to close
  std::vector<std::uint8_t> body;
  const bool haveBody = readBody(net, url, body);
  closeSession(net);
  if (!haveBody) return QMID_ERR_MEMORY;
  return loadAndStart(body);
}

void downloadMain(const DownloadRequest* r, platform::InternetService* net) {
  std::int32_t result;
  try {
    result = download(*net, *r);
  } catch (const std::bad_alloc&) {
    result = QMID_ERR_MEMORY;
  } catch (...) {
    result = QMID_ERR_DEVICE;
  }
  pending.store(false, std::memory_order_release);
  const auto id = static_cast<std::uint32_t>(callerId().load()) & 0xFFFFu;
  const std::uintptr_t wParam = std::uintptr_t{id} << 16 | (result > 0 ? kLoaded : kFailed);
  const std::intptr_t lParam = result > 0 ? MCI_MODE_PLAY : result;
  platform::services().windows->post(r->window, MSG_URL_LOADED, wParam, lParam);
}

bool fitsUrlField(const char* url) {
  for (std::size_t i = 0; i < kUrlField; ++i) {
    if (url[i] == 0) return true;
  }
  return false;
}

}  // namespace

DownloadRequest& downloadRequest() { return request; }
std::thread& downloadThread() { return thread; }
std::atomic<platform::InternetHandle>& downloadSession() { return session; }

std::int32_t startDownload(platform::WindowHandle window, const char* url) {
  if (!fitsUrlField(url)) return QMID_ERR_NETWORK;
  request.window = window;
  std::size_t i = 0;
  do {
    request.url[i] = url[i];
  } while (url[i++] != 0);
  internet = platform::services().internet;
  cancelled = false;
  pending = true;
  playMode() = MCI_MODE_OPEN;
  try {
    thread = std::thread(&downloadMain, &request, internet);
  } catch (const std::system_error&) {
    pending = false;
    playMode() = MCI_MODE_NOT_READY;
    return QMID_ERR_NETWORK;
  }
  return QMID_LOADING;
}

bool downloadPending() { return pending.load(std::memory_order_acquire); }

std::unique_lock<std::mutex> lockAgainstDownload() { return std::unique_lock<std::mutex>(songMutex); }

void cancelDownload() {
  if (thread.joinable()) cancelled = true;
}

void joinDownload() {
  if (!thread.joinable()) return;
  closeSession(*internet);
  thread.join();
  pending = false;
}

}  // namespace qmid
