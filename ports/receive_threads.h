#pragma once
// The receive threads of the parallel port and USB. The main window starts
// one for each answer the printer commands wait for: it reads the expected
// number of bytes into the interface's answer buffer, sets the interface's
// answer event, reports its end to the main window and ends.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/event.h"
#include "platform/thread.h"
#include "ports/port_window.h"

namespace quillon::ports {

// What every receive thread has: the stop request, the start-up signal and
// the thread itself. Deleting the object stops the thread (if it still
// reads) and waits until it has ended.
class ReceiveThread {
 public:
  virtual ~ReceiveThread();
  ReceiveThread(const ReceiveThread&) = delete;
  ReceiveThread& operator=(const ReceiveThread&) = delete;

  // Whether the thread has done its work and posted its end message.
  bool Ended() const { return ended_.load(); }
  // Asks the thread to stop and waits until it no longer reads: a thread
  // stopped while a read is out would take the answer to the next command.
  void Stop();

  platform::Event m_hEventKill{true};
  platform::Event startedEvent{false};
  PortWindow* notifyWindow;
  int bytes2BeReceived;

 protected:
  ReceiveThread(PortWindow* window, int bytes);
  // Starts the thread; it signals startedEvent, runs Run and then the end
  // step (posting `endMessage`).
  void Start(platform::ThreadPriority priority, uint32_t endMessage);
  virtual void Run() = 0;
  // Stops the thread and waits until it has ended; every subclass's
  // destructor calls it before its own members go.
  void Finish();

 private:
  std::atomic<bool> ended_{false};
  bool runDone_ = false;  // guarded by the clock's lock
  std::unique_ptr<platform::Thread> thread_;
};

class CReceiveUSBThread final : public ReceiveThread {
 public:
  // Returns once the thread has started.
  CReceiveUSBThread(int bytes, PortWindow* window);
  ~CReceiveUSBThread() override;

 private:
  void Run() override;
};

class CReceiveParallelThread final : public ReceiveThread {
 public:
  // Returns at once.
  CReceiveParallelThread(PortWindow* window, int bytes);
  ~CReceiveParallelThread() override;

 private:
  void Run() override;
};

// The receive threads a main window holds, one per interface, and the
// handling of the messages that start them and report their end. Stop
// requests may come from any thread; the rest runs on the window's thread.
class ReceiveThreads {
 public:
  explicit ReceiveThreads(PortWindow& window) : window_(window) {}
  ~ReceiveThreads();
  ReceiveThreads(const ReceiveThreads&) = delete;
  ReceiveThreads& operator=(const ReceiveThreads&) = delete;

  // WM_START_USB_RECEIVE: deletes the thread held (and then pauses 1000 ms),
  // starts a new one for `bytes`.
  void StartUsb(int bytes);
  // WM_START_PARALLEL_RECEIVE: the same without the pause.
  void StartParallel(int bytes);
  // WM_USB_RECEIVE_ENDED / WM_PARALLEL_RECEIVE_ENDED: deletes the thread held
  // if it has ended. An end message carries no name: one that arrives late,
  // after a newer thread was started, leaves that newer thread alone.
  void UsbEnded();
  void ParallelEnded();
  void StopUsb();
  void StopParallel();

  // Whether a thread is held.
  bool HoldsUsb();
  bool HoldsParallel();

 private:
  // Shared: a stop request from the download's thread keeps the thread
  // object alive while it waits, even if the window deletes it meanwhile.
  using Slot = std::shared_ptr<ReceiveThread>;
  // Takes the thread out of its slot (under the lock) so that it can be
  // deleted outside it.
  Slot Take(Slot& slot, bool onlyIfEnded);
  void Stop(Slot& slot);

  PortWindow& window_;
  std::mutex mutex_;
  Slot usbReceiveThread;       // guarded by mutex_
  Slot parallelReceiveThread;  // guarded by mutex_
};

}  // namespace quillon::ports
