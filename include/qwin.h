/* Message windows for POSIX hosts: a window is a queue of posted messages that any thread can
   post to and that its owner reads by waiting, by polling, or through a file descriptor that
   its event loop watches. Handles are never reused, so asking about a destroyed one is safe. */
#ifndef QWIN_H
#define QWIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QWIN_API __declspec(dllimport)
#else
#define QWIN_API __attribute__((visibility("default")))
#endif

/* Pointer-sized, like a window handle on the engines' original platform. */
typedef void* QWinHandle;

typedef struct QWinMessage {
  QWinHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
} QWinMessage;

/* A new, empty window; NULL when out of resources. */
QWIN_API QWinHandle QWin_Create(void);
/* Discards the window and its waiting messages; later calls with the handle fail quietly. */
QWIN_API void QWin_Destroy(QWinHandle window);
/* 1 while the handle names a live window, else 0 (also for NULL and destroyed handles). */
QWIN_API int QWin_IsWindow(QWinHandle window);
/* Queues a message from any thread without waiting for the reader; 1, or 0 if not a window. */
QWIN_API int QWin_Post(QWinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
/* Takes the oldest message, waiting up to timeoutMs (negative: without limit).
   1: a message was taken; 0: none arrived in time; -1: not a window (or destroyed meanwhile). */
QWIN_API int QWin_Get(QWinHandle window, QWinMessage* message, int timeoutMs);
/* Takes the oldest message without waiting: 1 if one was taken, 0 if none, -1 if not a window. */
QWIN_API int QWin_Peek(QWinHandle window, QWinMessage* message);
/* A descriptor that is readable while messages wait; owned by the window; -1 if not a window. */
QWIN_API int QWin_EventFd(QWinHandle window);

#ifdef __cplusplus
}
#endif

#endif /* QWIN_H */
