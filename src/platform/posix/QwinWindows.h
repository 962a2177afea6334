// Window messages through the qwin library that the host shares with the engines.
#pragma once

#include "Platform.h"

namespace platform {

class QwinWindowService : public WindowService {
 public:
  bool isWindow(WindowHandle window) override;
  bool post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
};

}  // namespace platform
