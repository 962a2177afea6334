// Window messages through the qwin library.
#include "QwinWindows.h"

#include "qwin.h"

namespace platform {

bool QwinWindowService::isWindow(WindowHandle window) { return QWin_IsWindow(window) == 1; }

bool QwinWindowService::post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  return QWin_Post(window, message, wParam, lParam) == 1;
}

}  // namespace platform
