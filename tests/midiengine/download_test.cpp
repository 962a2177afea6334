// Songs given as URLs, end to end on the real services: the libcurl downloads, the steady
// timer, qwin windows and the null output, against servers on 127.0.0.1 that the tests start.
// Every wait is bounded; a stalled server stays stalled until the client hangs up.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CurlInternet.h"
#include "Download.h"
#include "Player.h"
#include "SmfBuilder.h"
#include "qmid.h"
#include "qwin.h"
#include "../platform/LocalHttpServer.h"

namespace {

using testhttp::LocalHttpServer;
using testhttp::Reply;
using testhttp::ScopedEnv;
using testhttp::answer;

constexpr std::uintptr_t kLoaded = 1;
constexpr std::uintptr_t kFailed = 2;

std::uintptr_t wParamFor(std::int32_t caller, std::uintptr_t outcome) {
  return std::uintptr_t{static_cast<std::uint32_t>(caller) & 0xFFFFu} << 16 | outcome;
}

// Two tracks with a title, lyrics, an exclusive message and a tempo change; a few kilobytes,
// so the download takes several reads and ends on a short one.
smf::Bytes karaokeSong() {
  smf::Track conductor;
  conductor.text(0, 3, "Downloaded").text(0, 2, "(c) nobody").tempo(0, 400000);
  conductor.tempo(4000, 600000).endOfTrack();
  smf::Track voice;
  voice.text(0, 3, "Voice").sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  for (int i = 0; i < 300; ++i) {
    if (i % 8 == 0) voice.text(0, 5, "/line " + std::to_string(i / 8));
    voice.text(0, 5, "la ");
    voice.noteOn(0, i % 9, 40 + i % 40, 90).noteOff(60, i % 9, 40 + i % 40);
  }
  voice.endOfTrack();
  return smf::song(1, 480, {conductor, voice});
}

std::string text(const smf::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// What a load leaves in the song store, for comparing two loads of the same bytes.
struct Loaded {
  std::vector<std::uint32_t> events;
  std::int32_t length;
  std::int32_t karaoke;
  std::string info;

  bool operator==(const Loaded& other) const {
    return events == other.events && length == other.length && karaoke == other.karaoke &&
           info == other.info;
  }
};

Loaded loaded() {
  const qmid::MidiEngine& e = qmid::theEngine();
  Loaded out;
  // The timer only reads the event list while it plays.
  if (e.events) out.events.assign(e.events, e.events + e.eventWords);
  out.length = QMIDEngine_GetLength();
  out.karaoke = QMIDEngine_IsKaraoke();
  char info[512];
  QMIDEngine_GetFileInfo(info, sizeof info);
  out.info = info;
  return out;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(server.port(), 0);
    window = QWin_Create();
    ASSERT_NE(window, nullptr);
    platform::Services services = platform::services();
    services.internet = &platform::curlInternet();
    previous_ = platform::install(services);
  }

  void TearDown() override {
    QMIDEngine_Stop();
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    platform::install(previous_);
    QWin_Destroy(window);
    for (const std::string& path : files_) std::remove(path.c_str());
  }

  std::string write(const smf::Bytes& bytes) {
    files_.push_back(::testing::TempDir() + "qmid_download_" + std::to_string(::getpid()) + "_" +
                     std::to_string(files_.size()) + ".mid");
    std::ofstream out(files_.back(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return files_.back();
  }

  // The next MSG_URL_LOADED, past any karaoke cues; false if none comes in time.
  bool nextUrlLoaded(QWinMessage& out, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (QWin_Get(window, &out, static_cast<int>(left.count())) != 1) return false;
      if (out.message == MSG_URL_LOADED) return true;
    }
  }

  // The MSG_URL_LOADED messages waiting now; the karaoke cues are dropped.
  std::vector<QWinMessage> urlMessagesNow() {
    std::vector<QWinMessage> out;
    QWinMessage message;
    while (QWin_Peek(window, &message) == 1) {
      if (message.message == MSG_URL_LOADED) out.push_back(message);
    }
    return out;
  }

  ScopedEnv output_{"QMID_MIDI_OUT", "null"};
  // A proxy configured for the tester's own machine must not catch the loopback server.
  ScopedEnv noProxy_{"no_proxy", "127.0.0.1"};
  LocalHttpServer server;
  QWinHandle window = nullptr;

 private:
  platform::Services previous_{};
  std::vector<std::string> files_;
};

TEST_F(DownloadTest, DownloadedSongPlaysLikeTheSameFile) {
  const smf::Bytes song = karaokeSong();
  ASSERT_GT(song.size(), 2048u);
  ASSERT_NE(song.size() % 1024, 0u);
  server.route("/song.mid", answer(200, text(song)));
  ASSERT_EQ(QMIDEngine_Play(window, write(song).c_str(), 1), 1);
  const Loaded fromDisk = loaded();
  ASSERT_FALSE(fromDisk.events.empty());
  ASSERT_EQ(QMIDEngine_Stop(), 1);
  urlMessagesNow();

  // Only the low 16 bits of the caller id travel, neither saturated nor sign-extended.
  for (const std::int32_t caller : {7, 0x12345, -1}) {
    SCOPED_TRACE(caller);
    ASSERT_EQ(QMIDEngine_Play(window, server.url("/song.mid").c_str(), caller), QMID_LOADING);
    QWinMessage message;
    ASSERT_TRUE(nextUrlLoaded(message));
    EXPECT_EQ(message.wParam, wParamFor(caller, kLoaded));
    EXPECT_EQ(message.lParam, MCI_MODE_PLAY);
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_PLAY);
    EXPECT_TRUE(loaded() == fromDisk);
    ASSERT_EQ(QMIDEngine_Stop(), 1);
    EXPECT_TRUE(urlMessagesNow().empty());
  }
  ASSERT_EQ(server.requests().size(), 3u);
  for (const std::string& request : server.requests())
    EXPECT_NE(request.find("\r\nUser-Agent: Quavix\r\n"), std::string::npos) << request;
}

// The thread posts the failure on its own; the engine then stays in MCI_MODE_OPEN and refuses
// Play until Stop.
TEST_F(DownloadTest, FailuresArePostedOnce) {
  server.route("/empty.mid", answer(200, ""));
  server.route("/broken.mid", answer(500, "server error\n"));
  Reply huge = answer(200, text(karaokeSong()));
  huge.length = qmid::kMaxBody + 1;
  server.route("/huge.mid", huge);
  struct Case {
    const char* name;
    std::string url;
    std::int32_t code;
  };
  const Case cases[] = {
      {"no server",
       "http://127.0.0.1:" + std::to_string(testhttp::closedPort()) + "/song.mid", QMID_ERR_OPEN},
      {"404", server.url("/missing.mid"), QMID_ERR_OPEN},
      {"500", server.url("/broken.mid"), QMID_ERR_OPEN},
      {"empty body", server.url("/empty.mid"), QMID_ERR_OPEN},
      {"body over the cap", server.url("/huge.mid"), QMID_ERR_MEMORY},
  };
  std::int32_t caller = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++caller;
    ASSERT_EQ(QMIDEngine_Play(window, c.url.c_str(), caller), QMID_LOADING);
    QWinMessage message;
    ASSERT_TRUE(nextUrlLoaded(message));
    EXPECT_EQ(message.wParam, wParamFor(caller, kFailed));
    EXPECT_EQ(message.lParam, c.code);
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_OPEN);
    EXPECT_EQ(QMIDEngine_Play(window, c.url.c_str(), caller), 0);
    EXPECT_EQ(QMIDEngine_Stop(), 1);
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    EXPECT_TRUE(urlMessagesNow().empty());
  }
}

// Stop while the thread is blocked on a stalled server: the stall ends only when the client
// hangs up, so a Stop that waited for the server would not return. Meanwhile the calls that
// touch the song store are refused.
TEST_F(DownloadTest, StopBreaksAStalledDownload) {
  const std::string song = text(karaokeSong());
  Reply beforeHead = answer(200, song);
  beforeHead.stallBeforeHead = true;
  Reply beforeBody = answer(200, song);
  beforeBody.stallAfter = 0;
  Reply afterSome = answer(200, song);
  afterSome.stallAfter = 3000;
  server.route("/before-head.mid", beforeHead);
  server.route("/before-body.mid", beforeBody);
  server.route("/after-some.mid", afterSome);
  struct Case {
    const char* path;
    std::int32_t code;  // the step that the closed session broke
  };
  const Case cases[] = {
      {"/before-head.mid", QMID_ERR_OPEN},
      {"/before-body.mid", QMID_ERR_MEMORY},
      // Two full blocks had arrived: the load would have found the device closed.
      {"/after-some.mid", QMID_ERR_DEVICE},
  };
  std::int32_t caller = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ++caller;
    const int stalls = server.stalls();
    const int hangUps = server.hangUps();
    ASSERT_EQ(QMIDEngine_Play(window, server.url(c.path).c_str(), caller), QMID_LOADING);
    ASSERT_TRUE(LocalHttpServer::waitFor([&] { return server.stalls() > stalls; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_OPEN);
    EXPECT_EQ(QMIDEngine_IsOpen(), 1);
    EXPECT_EQ(QMIDEngine_Play(window, server.url(c.path).c_str(), caller), 0);
    EXPECT_EQ(QMIDEngine_Seek(1000), 0);
    QMIDEngine_SetTempo(200);
    EXPECT_EQ(QMIDEngine_GetTempo(), 0);
    QMIDEngine_SetKey(3);
    EXPECT_EQ(QMIDEngine_GetKey(), 0);
    char info[64] = "untouched";
    EXPECT_EQ(QMIDEngine_GetFileInfo(info, sizeof info), 0);
    EXPECT_STREQ(info, "");
    EXPECT_EQ(QMIDEngine_IsKaraoke(), 0);
    EXPECT_EQ(QMIDEngine_GetLength(), 0);

    EXPECT_EQ(QMIDEngine_Stop(), 1);
    EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    EXPECT_FALSE(qmid::downloadThread().joinable());
    // The thread has ended, so its one message is already there.
    const std::vector<QWinMessage> messages = urlMessagesNow();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].wParam, wParamFor(caller, kFailed));
    EXPECT_EQ(messages[0].lParam, c.code);
    EXPECT_TRUE(LocalHttpServer::waitFor([&] { return server.hangUps() > hangUps; }));
  }
}

TEST_F(DownloadTest, UrlMustFitItsFieldWithItsZero) {
  const std::string base = "http://127.0.0.1:" + std::to_string(testhttp::closedPort()) + "/";
  const std::string fits = base + std::string(qmid::kUrlField - 1 - base.size(), 'a');
  const std::string tooLong = fits + "a";

  ASSERT_EQ(QMIDEngine_Play(window, fits.c_str(), 1), QMID_LOADING);
  QWinMessage message;
  ASSERT_TRUE(nextUrlLoaded(message));
  EXPECT_EQ(message.lParam, QMID_ERR_OPEN);
  ASSERT_EQ(QMIDEngine_Stop(), 1);

  EXPECT_EQ(QMIDEngine_Play(window, tooLong.c_str(), 2), QMID_ERR_NETWORK);
  EXPECT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
  EXPECT_FALSE(qmid::downloadThread().joinable());
  EXPECT_TRUE(urlMessagesNow().empty());
}

// Stop and Play again while downloads run, with exports in between: every Play gets exactly
// one message, and Stop always comes back. ThreadSanitizer watches the song store.
TEST_F(DownloadTest, StopAndPlayInATightLoop) {
  const std::string song = text(karaokeSong());
  Reply stallHead = answer(200, song);
  stallHead.stallBeforeHead = true;
  Reply stallBody = answer(200, song);
  stallBody.stallAfter = 0;
  Reply stallLater = answer(200, song);
  stallLater.stallAfter = 3000;
  server.route("/song.mid", answer(200, song));
  server.route("/stall-head.mid", stallHead);
  server.route("/stall-body.mid", stallBody);
  server.route("/stall-later.mid", stallLater);
  const char* paths[] = {"/song.mid", "/stall-head.mid", "/stall-body.mid", "/stall-later.mid",
                         "/missing.mid"};
  std::mt19937 random(20240612);
  int successes = 0;
  for (std::int32_t i = 0; i < 100; ++i) {
    SCOPED_TRACE(i);
    const char* path = paths[i % 5];
    ASSERT_EQ(QMIDEngine_Play(window, server.url(path).c_str(), i), QMID_LOADING);
    std::vector<QWinMessage> messages;
    if (i % 10 == 0) {
      // Now and then a song download completes before Stop.
      QWinMessage message;
      ASSERT_TRUE(nextUrlLoaded(message));
      messages.push_back(message);
    }
    for (unsigned calls = random() % 4; calls > 0; --calls) {
      switch (random() % 6) {
        case 0: QMIDEngine_Seek(random() % 3000); break;
        case 1: QMIDEngine_SetTempo(60 + static_cast<std::int32_t>(random() % 100)); break;
        case 2: QMIDEngine_SetKey(static_cast<std::int32_t>(random() % 5) - 2); break;
        case 3: {
          char info[128];
          QMIDEngine_GetFileInfo(info, sizeof info);
          break;
        }
        case 4: QMIDEngine_IsKaraoke(); QMIDEngine_GetLength(); break;
        default: QMIDEngine_GetMode(); break;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    ASSERT_EQ(QMIDEngine_Stop(), 1);
    ASSERT_EQ(QMIDEngine_GetMode(), MCI_MODE_NOT_READY);
    for (const QWinMessage& message : urlMessagesNow()) messages.push_back(message);
    ASSERT_EQ(messages.size(), 1u);
    const QWinMessage& m = messages[0];
    EXPECT_EQ(m.wParam >> 16, static_cast<std::uintptr_t>(i));
    if ((m.wParam & 0xFFFF) == kLoaded) {
      EXPECT_EQ(m.lParam, MCI_MODE_PLAY);
      ++successes;
    } else {
      EXPECT_EQ(m.wParam & 0xFFFF, kFailed);
      EXPECT_TRUE(m.lParam == QMID_ERR_OPEN || m.lParam == QMID_ERR_MEMORY ||
                  m.lParam == QMID_ERR_DEVICE)
          << m.lParam;
    }
  }
  EXPECT_GE(successes, 2);
}

// A host that loads the engine library gets real downloads without installing anything: only
// that library links the web client and installs it.
TEST_F(DownloadTest, TheEngineLibraryDownloadsOnItsOwn) {
  server.route("/song.mid", answer(200, text(karaokeSong())));
  // The library keeps its own engine and services; only the qwin window table is shared.
  void* library = ::dlopen(QMID_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  using PlayFn = std::int32_t (*)(void*, const char*, std::int32_t);
  using CallFn = std::int32_t (*)();
  const auto play = reinterpret_cast<PlayFn>(::dlsym(library, "QMIDEngine_Play"));
  const auto getMode = reinterpret_cast<CallFn>(::dlsym(library, "QMIDEngine_GetMode"));
  const auto stop = reinterpret_cast<CallFn>(::dlsym(library, "QMIDEngine_Stop"));
  ASSERT_TRUE(play && getMode && stop);

  ASSERT_EQ(play(window, server.url("/song.mid").c_str(), 0x4321), QMID_LOADING);
  QWinMessage message;
  ASSERT_TRUE(nextUrlLoaded(message));
  EXPECT_EQ(message.wParam, wParamFor(0x4321, kLoaded));
  EXPECT_EQ(message.lParam, MCI_MODE_PLAY);
  EXPECT_EQ(getMode(), MCI_MODE_PLAY);
  EXPECT_EQ(stop(), 1);
  EXPECT_EQ(getMode(), MCI_MODE_NOT_READY);
  // Left loaded: a library with threads of its own is not unloaded in a running process.
}

}  // namespace
