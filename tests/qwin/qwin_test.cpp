// Message windows: liveness of handles, posting from other threads, waiting, peeking, and the
// descriptor that an event loop watches.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "qwin.h"

namespace {

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(QWin, HandlesStayInvalidAfterDestroy) {
  QWinHandle a = QWin_Create();
  QWinHandle b = QWin_Create();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(QWin_IsWindow(a), 1);
  QWin_Destroy(a);
  EXPECT_EQ(QWin_IsWindow(a), 0);
  EXPECT_EQ(QWin_IsWindow(nullptr), 0);
  EXPECT_EQ(QWin_IsWindow(reinterpret_cast<QWinHandle>(0x1234)), 0);
  EXPECT_EQ(QWin_Post(a, 1, 2, 3), 0);
  QWinMessage m;
  EXPECT_EQ(QWin_Get(a, &m, 0), -1);
  EXPECT_EQ(QWin_Peek(a, &m), -1);
  EXPECT_EQ(QWin_EventFd(a), -1);
  QWin_Destroy(a);  // twice is harmless
  QWinHandle c = QWin_Create();
  EXPECT_NE(c, a);  // never reused
  QWin_Destroy(b);
  QWin_Destroy(c);
}

TEST(QWin, MessagesArriveInOrderWithTheirParameters) {
  QWinHandle w = QWin_Create();
  EXPECT_EQ(QWin_Post(w, 0x8384, static_cast<uintptr_t>(-1), -5), 1);
  EXPECT_EQ(QWin_Post(w, 0x8398, 7, 526), 1);
  QWinMessage m;
  ASSERT_EQ(QWin_Peek(w, &m), 1);
  EXPECT_EQ(m.window, w);
  EXPECT_EQ(m.message, 0x8384u);
  EXPECT_EQ(m.wParam, static_cast<uintptr_t>(-1));
  EXPECT_EQ(m.lParam, -5);
  ASSERT_EQ(QWin_Get(w, &m, 0), 1);
  EXPECT_EQ(m.message, 0x8398u);
  EXPECT_EQ(m.lParam, 526);
  EXPECT_EQ(QWin_Peek(w, &m), 0);
  EXPECT_EQ(QWin_Get(w, &m, 10), 0);
  QWin_Destroy(w);
}

TEST(QWin, DescriptorIsReadableExactlyWhileMessagesWait) {
  QWinHandle w = QWin_Create();
  const int fd = QWin_EventFd(w);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(readable(fd));
  QWin_Post(w, 1, 0, 0);
  QWin_Post(w, 2, 0, 0);
  EXPECT_TRUE(readable(fd));
  QWinMessage m;
  QWin_Peek(w, &m);
  EXPECT_TRUE(readable(fd));
  QWin_Peek(w, &m);
  EXPECT_FALSE(readable(fd));
  QWin_Post(w, 3, 0, 0);
  EXPECT_TRUE(readable(fd));
  QWin_Destroy(w);
}

TEST(QWin, GetWaitsForAPostFromAnotherThread) {
  QWinHandle w = QWin_Create();
  std::thread poster([w] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QWin_Post(w, 42, 1, 2);
  });
  QWinMessage m;
  EXPECT_EQ(QWin_Get(w, &m, 5000), 1);
  EXPECT_EQ(m.message, 42u);
  poster.join();
  QWin_Destroy(w);
}

TEST(QWin, DestroyWakesAWaitingReader) {
  QWinHandle w = QWin_Create();
  std::atomic<int> result{2};
  std::thread reader([&] {
    QWinMessage m;
    result = QWin_Get(w, &m, -1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QWin_Destroy(w);
  reader.join();
  EXPECT_EQ(result, -1);
}

TEST(QWin, ManyPostersLoseNothing) {
  QWinHandle w = QWin_Create();
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([w, t] {
      for (int i = 0; i < kEach; ++i) QWin_Post(w, 100 + t, static_cast<uintptr_t>(i), 0);
    });
  std::vector<int> next(kThreads, 0);
  int received = 0;
  QWinMessage m;
  while (received < kThreads * kEach && QWin_Get(w, &m, 5000) == 1) {
    const int t = static_cast<int>(m.message) - 100;
    ASSERT_EQ(m.wParam, static_cast<uintptr_t>(next[t]));  // each poster's order kept
    ++next[t];
    ++received;
  }
  for (auto& p : posters) p.join();
  EXPECT_EQ(received, kThreads * kEach);
  QWin_Destroy(w);
}

}  // namespace
