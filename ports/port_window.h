#pragma once
// The main window as the port threads and the printer commands see it: it
// takes the user messages, owns the two answer events, stops the receive
// thread it holds and reconnects the USB printer.

#include <atomic>

#include "platform/event.h"
#include "platform/window_messages.h"

namespace quillon::ports {

class PortWindow : public platform::MessageWindow {
 public:
  // Set by a receive thread once the answer it was asked for is complete;
  // reset by the command that waits for it. Manual reset, created clear.
  platform::Event usbAnswerEvent{true};
  platform::Event parallelAnswerEvent{true};

  // Asks the receive thread the window holds, if any, to stop. Harmless when
  // that thread has ended or been deleted.
  virtual void StopUsbReceive() = 0;
  virtual void StopParallelReceive() = 0;
  // Closes the USB printer and opens it again (device id and status
  // requests included); true when all of it worked.
  virtual bool ReopenUsbPrinter() = 0;
};

// The main window while there is one: a USB write that finds its handle
// gone reconnects through it.
inline std::atomic<PortWindow*> mainWindow{nullptr};

}  // namespace quillon::ports
