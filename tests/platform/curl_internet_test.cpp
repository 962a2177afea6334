// The libcurl download service against servers on 127.0.0.1 that the tests start: block reads
// and the end of the body, what opens and what does not, the agent text, proxies from the
// environment, and closing a session from another thread while a call is blocked.
#include "CurlInternet.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "LocalHttpServer.h"

namespace platform {
namespace {

using testhttp::LocalHttpServer;
using testhttp::Reply;
using testhttp::ScopedEnv;
using testhttp::answer;
using testhttp::closedPort;

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

struct Body {
  bool ok = false;
  std::string bytes;
  std::vector<std::size_t> counts;  // of every read, the last one short
};

class CurlInternetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(server.port(), 0); }

  // Reads in blocks of 1024 until a short read, as the download does.
  Body readAll(InternetHandle url) {
    Body body;
    std::uint8_t block[1024];
    for (int reads = 0; reads < 100000; ++reads) {
      std::size_t count = 0;
      if (!net.read(url, block, sizeof block, count)) return body;
      body.counts.push_back(count);
      body.bytes.append(reinterpret_cast<const char*>(block), count);
      if (count < sizeof block) break;
    }
    body.ok = true;
    return body;
  }

  // Opens the URL in a session of its own and reads all of it; ok false when it did not open.
  Body fetch(const std::string& url) {
    const InternetHandle session = net.openSession("Quavix");
    EXPECT_NE(session, nullptr);
    Body body;
    if (const InternetHandle handle = net.openUrl(session, url.c_str())) body = readAll(handle);
    net.closeSession(session);
    return body;
  }

  // A proxy configured for the tester's own machine must not catch the loopback server.
  ScopedEnv noProxy{"no_proxy", "127.0.0.1"};
  LocalHttpServer server;
  CurlInternet net;
};

TEST_F(CurlInternetTest, ReadsFillTheBlockAndOnlyTheLastIsShort) {
  for (const std::size_t size : {0u, 100u, 1023u, 1024u, 2048u, 5000u, 300000u}) {
    SCOPED_TRACE(size);
    const std::string path = "/body" + std::to_string(size);
    const std::string bytes = randomBytes(size, static_cast<unsigned>(size));
    server.route(path, answer(200, bytes));
    const Body body = fetch(server.url(path));
    ASSERT_TRUE(body.ok);
    EXPECT_TRUE(body.bytes == bytes);
    // A body that is a whole number of blocks ends with a read of 0 bytes.
    ASSERT_EQ(body.counts.size(), size / 1024 + 1);
    for (std::size_t i = 0; i + 1 < body.counts.size(); ++i) ASSERT_EQ(body.counts[i], 1024u) << i;
    EXPECT_EQ(body.counts.back(), size % 1024);
  }
}

TEST_F(CurlInternetTest, WhatOpensAndWhatDoesNot) {
  const std::string song = randomBytes(3000, 1);
  server.route("/song.mid", answer(200, song));
  server.route("/broken", answer(500, "server error\n"));
  // /hopN redirects N times before it reaches the song.
  for (int n = 1; n <= 6; ++n) {
    const std::string next = n == 1 ? "/song.mid" : "/hop" + std::to_string(n - 1);
    Reply redirect = answer(302, "");
    redirect.headers = "Location: " + next + "\r\n";
    server.route("/hop" + std::to_string(n), redirect);
  }
  Reply toFile = answer(302, "");
  toFile.headers = "Location: file:///etc/hostname\r\n";
  server.route("/to-file", toFile);

  struct Case {
    std::string url;
    bool opens;
  };
  const Case cases[] = {
      {server.url("/song.mid"), true},
      {server.url("/missing.mid"), false},  // 404
      {server.url("/broken"), false},       // 500
      {server.url("/hop5"), true},          // five redirects are followed
      {server.url("/hop6"), false},         // the sixth is not
      {server.url("/to-file"), false},      // never to a scheme other than http, https, ftp
      {"file:///etc/hostname", false},
      {"dict://127.0.0.1:" + std::to_string(server.port()) + "/song", false},
      {"http://127.0.0.1:" + std::to_string(closedPort()) + "/song.mid", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Body body = fetch(c.url);
    EXPECT_EQ(body.ok, c.opens);
    if (c.opens) {
      EXPECT_TRUE(body.bytes == song);
    }
  }

  const std::vector<std::string> requests = server.requests();
  ASSERT_FALSE(requests.empty());
  for (const std::string& request : requests)
    EXPECT_NE(request.find("\r\nUser-Agent: Quavix\r\n"), std::string::npos) << request;
}

TEST_F(CurlInternetTest, ProxyComesFromTheEnvironment) {
  LocalHttpServer proxy;
  ASSERT_NE(proxy.port(), 0);
  const std::string url = "http://songs.invalid/song.mid";
  proxy.route(url, answer(200, "through the proxy"));
  const ScopedEnv viaProxy("http_proxy", proxy.url("").c_str());
  const ScopedEnv noBypass("no_proxy", nullptr);
  const ScopedEnv noBypassUpper("NO_PROXY", nullptr);

  const Body body = fetch(url);
  ASSERT_TRUE(body.ok);
  EXPECT_EQ(body.bytes, "through the proxy");
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].rfind("GET " + url + " HTTP/1.1\r\n", 0), 0u) << proxy.requests()[0];
}

// The call blocks on a server that stalls; another thread closes the session. The stall ends
// only when the client hangs up, so a call that was not broken would hang the test.
TEST_F(CurlInternetTest, ClosingFromAnotherThreadBreaksABlockedCall) {
  Reply beforeHead = answer(200, randomBytes(5000, 2));
  beforeHead.stallBeforeHead = true;
  Reply beforeBody = answer(200, randomBytes(5000, 3));
  beforeBody.stallAfter = 0;
  Reply afterSome = answer(200, randomBytes(5000, 4));
  afterSome.stallAfter = 3000;
  server.route("/before-head", beforeHead);
  server.route("/before-body", beforeBody);
  server.route("/after-some", afterSome);

  struct Case {
    const char* path;
    bool opens;
    std::size_t readsBeforeTheBlock;
  };
  const Case cases[] = {
      {"/before-head", false, 0},
      {"/before-body", true, 0},
      {"/after-some", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const int stallsBefore = server.stalls();
    const int hangUpsBefore = server.hangUps();
    const InternetHandle session = net.openSession("Quavix");
    ASSERT_NE(session, nullptr);
    std::thread closer([&] {
      LocalHttpServer::waitFor([&] { return server.stalls() > stallsBefore; });
      // Give the call time to take what was sent and block on the rest.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      net.closeSession(session);
    });
    const InternetHandle url = net.openUrl(session, server.url(c.path).c_str());
    EXPECT_EQ(url != nullptr, c.opens);
    if (url) {
      const Body body = readAll(url);
      EXPECT_FALSE(body.ok);
      EXPECT_EQ(body.counts, std::vector<std::size_t>(c.readsBeforeTheBlock, 1024));
      // A later read on the closed session's URL fails too.
      std::uint8_t block[16];
      std::size_t count = 99;
      EXPECT_FALSE(net.read(url, block, sizeof block, count));
      EXPECT_EQ(count, 0u);
    }
    closer.join();
    EXPECT_TRUE(LocalHttpServer::waitFor([&] { return server.hangUps() > hangUpsBefore; }));
  }
}

TEST_F(CurlInternetTest, ClosedAndUnknownHandlesFail) {
  server.route("/song.mid", answer(200, "abc"));
  const InternetHandle session = net.openSession("Quavix");
  ASSERT_NE(session, nullptr);
  net.closeSession(session);
  EXPECT_EQ(net.openUrl(session, server.url("/song.mid").c_str()), nullptr);
  net.closeSession(session);  // a second close does nothing
  std::uint8_t block[4];
  std::size_t count = 0;
  EXPECT_FALSE(net.read(session, block, sizeof block, count));
  EXPECT_FALSE(net.read(nullptr, block, sizeof block, count));
  EXPECT_EQ(server.requests().size(), 0u);
}

}  // namespace
}  // namespace platform
