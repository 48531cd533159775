#include "platform/window_messages.h"

namespace quillon::platform {

const char* MessageName(uint32_t message) {
  switch (message) {
    case WM_PROGRESS_DESTROYED:
      return "WM_PROGRESS_DESTROYED";
    case WM_CLOSE_PROGRESS:
      return "WM_CLOSE_PROGRESS";
    case WM_OPEN_PROGRESS:
      return "WM_OPEN_PROGRESS";
    case WM_PROGRESS_STATUS:
      return "WM_PROGRESS_STATUS";
    case WM_DOWNLOAD_DONE:
      return "WM_DOWNLOAD_DONE";
    case WM_ENABLE_CONTROLS:
      return "WM_ENABLE_CONTROLS";
    case WM_PROGRESS_SETPOS:
      return "WM_PROGRESS_SETPOS";
    case WM_PROGRESS_AUTOSTEP:
      return "WM_PROGRESS_AUTOSTEP";
    case WM_USB_SEND_ENDED:
      return "WM_USB_SEND_ENDED";
    case WM_PARALLEL_SEND_ENDED:
      return "WM_PARALLEL_SEND_ENDED";
    case WM_DISABLE_PROGRESS:
      return "WM_DISABLE_PROGRESS";
    default:
      return "unnamed user message";
  }
}

}  // namespace quillon::platform
