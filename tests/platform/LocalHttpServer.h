// A small HTTP server on 127.0.0.1 for download tests: one thread per connection, each answer
// scripted per request target (status, headers, body, where to stall). Every wait is bounded,
// and the destructor stops and joins everything the server started.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhttp {

constexpr std::uint64_t kNever = ~std::uint64_t{0};

// The answer to one request target (the path, or the whole URL when the server is a proxy).
struct Reply {
  int status = 200;
  std::string body;                // repeated to make up `length` bytes
  std::uint64_t length = kNever;   // kNever: body.size()
  std::string headers;             // extra header lines, each ending in "\r\n"
  bool stallBeforeHead = false;    // read the request, then send nothing
  std::uint64_t stallAfter = kNever;  // send the head and this many body bytes, then nothing
};

inline Reply answer(int status, std::string body) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

// Sets or removes an environment variable for the life of the object. Only for moments when
// no other thread of the test reads the environment.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// A port on 127.0.0.1 where nothing listens.
inline int closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A stalled connection stays open until the client hangs up or the server is destroyed;
// this only bounds a test that went wrong.
constexpr std::chrono::seconds kLongestStall{30};

class LocalHttpServer {
 public:
  LocalHttpServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listen_, 64) == 0) {
      socklen_t size = sizeof address;
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size);
      port_ = ntohs(address.sin_port);
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~LocalHttpServer() {
    stopping_ = true;
    acceptor_.join();
    std::vector<std::thread> connections;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connections.swap(connections_);
    }
    for (std::thread& t : connections) t.join();
    ::close(listen_);
  }

  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // 0 if the server could not listen.
  int port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Targets without a reply get 404.
  void route(const std::string& target, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[target] = std::move(reply);
  }

  // The request heads received so far, in order.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Connections that have reached their stall.
  int stalls() const { return stalls_; }
  // Stalled connections that ended because the client hung up.
  int hangUps() const { return hangUps_; }

  // Polls until the condition holds or the limit passes; returns whether it held.
  template <typename Condition>
  static bool waitFor(Condition condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  static constexpr int kPollMs = 20;

  void acceptLoop() {
    while (!stopping_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, kPollMs) <= 0) continue;
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      connections_.emplace_back([this, fd] {
        serve(fd);
        ::close(fd);
      });
    }
  }

  // Waits until fd is ready for `events`; false when the server stops or the time is up.
  bool ready(int fd, short events, std::chrono::steady_clock::time_point until) {
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
      pollfd p{fd, events, 0};
      const int n = ::poll(&p, 1, kPollMs);
      if (n > 0) return true;
      if (n < 0) return false;
    }
    return false;
  }

  bool sendAll(int fd, const char* data, std::size_t size) {
    const auto until = std::chrono::steady_clock::now() + kLongestStall;
    while (size > 0) {
      if (!ready(fd, POLLOUT, until)) return false;
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  void stall(int fd) {
    ++stalls_;
    const auto until = std::chrono::steady_clock::now() + kLongestStall;
    char sink[512];
    while (ready(fd, POLLIN, until)) {
      const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ++hangUps_;
        return;
      }
    }
  }

  void serve(int fd) {
    std::string head;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (!ready(fd, POLLIN, until)) return;
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n == 0) return;
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return;
      }
      head.append(chunk, static_cast<std::size_t>(n));
    }
    head.resize(head.find("\r\n\r\n") + 4);
    const std::size_t from = head.find(' ') + 1;
    const std::string target = head.substr(from, head.find(' ', from) - from);
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
      const auto it = replies_.find(target);
      if (it != replies_.end()) {
        reply = it->second;
      } else {
        reply.status = 404;
        reply.body = "no such file\n";
      }
    }
    if (reply.stallBeforeHead) return stall(fd);
    const std::uint64_t length = reply.length == kNever ? reply.body.size() : reply.length;
    const std::string status = reply.status == 200 ? "OK" : reply.status == 404 ? "Not Found" : "Status";
    const std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + status +
                            "\r\nContent-Length: " + std::to_string(length) +
                            "\r\nConnection: close\r\n" + reply.headers + "\r\n";
    if (!sendAll(fd, out.data(), out.size())) return;
    const std::uint64_t toSend = std::min(length, reply.stallAfter);
    if (toSend <= reply.body.size()) {
      if (!sendAll(fd, reply.body.data(), static_cast<std::size_t>(toSend))) return;
    } else if (!reply.body.empty()) {
      // Any 64 KiB stretch of the repeated body is a slice of this.
      constexpr std::size_t kBlock = 64 * 1024;
      std::string pattern;
      while (pattern.size() < kBlock + reply.body.size()) pattern += reply.body;
      for (std::uint64_t sent = 0; sent < toSend;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, toSend - sent));
        if (!sendAll(fd, pattern.data() + sent % reply.body.size(), n)) return;
        sent += n;
      }
    }
    if (reply.stallAfter != kNever) return stall(fd);
    ::shutdown(fd, SHUT_WR);
    // Let the client read to the end before the socket goes.
    ready(fd, POLLIN, std::chrono::steady_clock::now() + std::chrono::seconds(2));
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> stalls_{0};
  std::atomic<int> hangUps_{0};
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace testhttp
