#pragma once
// The receive threads of the parallel port and USB. A link starts one for
// each answer a printer command waits for: it reads the expected number of
// bytes into the link's answer buffer, sets the link's answer event and
// ends.

#include <memory>

#include "platform/event.h"
#include "platform/thread.h"
#include "ports/link.h"

namespace quillon::ports {

// What every receive thread has: the stop request, the start-up signal and
// the thread itself. Deleting the object stops the thread (if it still
// reads) and waits until it has ended.
class ReceiveThread {
 public:
  virtual ~ReceiveThread();
  ReceiveThread(const ReceiveThread&) = delete;
  ReceiveThread& operator=(const ReceiveThread&) = delete;

  // Asks the thread to stop and waits until it no longer reads: a thread
  // stopped while a read is out would take the answer to the next command.
  void Stop();

  platform::Event m_hEventKill{true};
  platform::Event startedEvent{false};
  Link& link;
  int bytes2BeReceived;

 protected:
  ReceiveThread(Link& link, int bytes);
  // Starts the thread; it signals startedEvent and runs Run.
  void Start(platform::ThreadPriority priority);
  virtual void Run() = 0;
  // Stops the thread and waits until it has ended; every subclass's
  // destructor calls it before its own members go.
  void Finish();

 private:
  bool runDone_ = false;  // guarded by the clock's lock
  std::unique_ptr<platform::Thread> thread_;
};

class CReceiveUSBThread final : public ReceiveThread {
 public:
  // Returns once the thread has started.
  CReceiveUSBThread(int bytes, Link& link);
  ~CReceiveUSBThread() override;

 private:
  void Run() override;
};

class CReceiveParallelThread final : public ReceiveThread {
 public:
  // Returns at once.
  CReceiveParallelThread(Link& link, int bytes);
  ~CReceiveParallelThread() override;

 private:
  void Run() override;
};

}  // namespace quillon::ports
