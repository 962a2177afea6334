// Message windows: a table of live windows keyed by never-reused handles, a queue per window,
// and an eventfd per window that is readable exactly while its queue holds messages.
#include "qwin.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct Window {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<QWinMessage> queue;
  bool destroyed = false;
  int eventFd = -1;

  ~Window() {
    if (eventFd >= 0) close(eventFd);
  }

  // Called with mutex held after a message was taken.
  void drainSignalIfEmpty() {
    if (!queue.empty()) return;
    std::uint64_t count;
    while (read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

  QWinMessage takeFront() {
    QWinMessage m = queue.front();
    queue.pop_front();
    drainSignalIfEmpty();
    return m;
  }
};

class Table {
 public:
  QWinHandle add(std::shared_ptr<Window> window) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Odd values that no allocator returns, so a handle is never mistaken for a pointer.
    const std::uintptr_t id = (nextId_++ << 4) | 0x9;
    windows_.emplace(id, std::move(window));
    return reinterpret_cast<QWinHandle>(id);
  }

  std::shared_ptr<Window> find(QWinHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = windows_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == windows_.end() ? nullptr : it->second;
  }

  std::shared_ptr<Window> remove(QWinHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = windows_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == windows_.end()) return nullptr;
    std::shared_ptr<Window> window = std::move(it->second);
    windows_.erase(it);
    return window;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t nextId_ = 1;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows_;
};

// Leaked on purpose: posts from threads that outlive static destruction must still find it.
Table& table() {
  static Table* t = new Table;
  return *t;
}

}  // namespace

extern "C" {

QWinHandle QWin_Create(void) {
  auto window = std::make_shared<Window>();
  window->eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (window->eventFd < 0) return nullptr;
  return table().add(std::move(window));
}

void QWin_Destroy(QWinHandle handle) {
  std::shared_ptr<Window> window = table().remove(handle);
  if (!window) return;
  std::lock_guard<std::mutex> lock(window->mutex);
  window->destroyed = true;
  window->queue.clear();
  window->arrived.notify_all();
}

int QWin_IsWindow(QWinHandle handle) { return table().find(handle) ? 1 : 0; }

int QWin_Post(QWinHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Window> window = table().find(handle);
  if (!window) return 0;
  std::lock_guard<std::mutex> lock(window->mutex);
  if (window->destroyed) return 0;
  window->queue.push_back(QWinMessage{handle, message, wParam, lParam});
  if (window->queue.size() == 1) {
    const std::uint64_t one = 1;
    while (write(window->eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  window->arrived.notify_one();
  return 1;
}

int QWin_Get(QWinHandle handle, QWinMessage* message, int timeoutMs) {
  std::shared_ptr<Window> window = table().find(handle);
  if (!window) return -1;
  std::unique_lock<std::mutex> lock(window->mutex);
  auto ready = [&] { return window->destroyed || !window->queue.empty(); };
  if (timeoutMs < 0) {
    window->arrived.wait(lock, ready);
  } else if (!window->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return 0;
  }
  if (window->destroyed) return -1;
  QWinMessage m = window->takeFront();
  if (message) *message = m;
  return 1;
}

int QWin_Peek(QWinHandle handle, QWinMessage* message) {
  std::shared_ptr<Window> window = table().find(handle);
  if (!window) return -1;
  std::lock_guard<std::mutex> lock(window->mutex);
  if (window->destroyed) return -1;
  if (window->queue.empty()) return 0;
  QWinMessage m = window->takeFront();
  if (message) *message = m;
  return 1;
}

int QWin_EventFd(QWinHandle handle) {
  std::shared_ptr<Window> window = table().find(handle);
  return window ? window->eventFd : -1;
}

}  // extern "C"
