// quillon-printer-sim: the printer emulator behind a pseudo-terminal, so that
// the real serial backend can talk to it. The first line on stdout is the
// terminal's path; open it as the printer's port. SIGINT or SIGTERM ends the
// program, which then writes the transcript and the flash image if asked.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "sim/emulated_line.h"
#include "sim/printer_emulator.h"
#include "sim/program_options.h"
#include "sim/sim_options.h"

namespace {

using quillon::sim::PrinterEmulator;
using quillon::sim::SimConfig;
using quillon::sim::TimedByte;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  stopRequested.store(true);
}

bool InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the wait in ppoll ends with EINTR
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(sig, &action, nullptr) != 0) return false;
  }
  // Keep the stop signals blocked except inside ppoll, so that none can slip
  // in between the test of the flag and the wait.
  sigset_t block;
  sigemptyset(&block);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
  return sigprocmask(SIG_BLOCK, &block, nullptr) == 0;
}

struct Terminal {
  int master = -1;
  int slave = -1;  // our own, never read: keeps the master usable while the host reopens
  std::string path;
};

bool OpenTerminal(Terminal& t) {
  t.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (t.master < 0 || grantpt(t.master) != 0 || unlockpt(t.master) != 0) {
    std::perror("quillon-printer-sim: pseudo-terminal");
    return false;
  }
  const char* name = ptsname(t.master);
  if (!name) {
    std::perror("quillon-printer-sim: ptsname");
    return false;
  }
  t.path = name;
  t.slave = open(t.path.c_str(), O_RDWR | O_NOCTTY);
  if (t.slave < 0) {
    std::perror("quillon-printer-sim: open terminal");
    return false;
  }
  termios raw{};
  if (tcgetattr(t.slave, &raw) != 0) {
    std::perror("quillon-printer-sim: tcgetattr");
    return false;
  }
  cfmakeraw(&raw);
  if (tcsetattr(t.slave, TCSANOW, &raw) != 0) {
    std::perror("quillon-printer-sim: tcsetattr");
    return false;
  }
  const int flags = fcntl(t.master, F_GETFL);
  if (flags < 0 || fcntl(t.master, F_SETFL, flags | O_NONBLOCK) != 0) {
    std::perror("quillon-printer-sim: fcntl");
    return false;
  }
  return true;
}

class Server {
 public:
  Server(PrinterEmulator& printer, int master, bool verbose)
      : printer_(printer), master_(master), verbose_(verbose) {}

  // Serves until a stop signal; false on a fatal error of the terminal.
  bool Run() {
    sigset_t waitMask;
    sigemptyset(&waitMask);
    std::vector<uint8_t> in(65536);
    while (!stopRequested.load()) {
      const int64_t now = NowMs();
      MoveDue(now);
      if (!Flush()) return false;

      pollfd p{master_, POLLIN, 0};
      if (!out_.empty()) p.events |= POLLOUT;
      timespec timeout{};
      timespec* wait = nullptr;  // no answer due: wait for input or a signal
      if (out_.empty() && !pending_.empty()) {
        const int64_t ms = std::max<int64_t>(0, pending_.front().atMs - now);
        timeout.tv_sec = static_cast<time_t>(ms / 1000);
        timeout.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
        wait = &timeout;
      }
      const bool nap = napping_;
      if (nap) {
        // The terminal reported a hang-up; look again shortly.
        timeout = {0, 50'000'000};
        wait = &timeout;
        napping_ = false;
      }
      const int ready = ppoll(nap ? nullptr : &p, nap ? 0 : 1, wait, &waitMask);
      if (ready < 0) {
        if (errno == EINTR) continue;
        std::perror("quillon-printer-sim: ppoll");
        return false;
      }
      if (ready == 0) continue;
      if (p.revents & POLLIN) {
        const ssize_t got = read(master_, in.data(), in.size());
        if (got > 0) {
          Take(in.data(), static_cast<size_t>(got), NowMs());
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
          if (errno != EIO) {
            std::perror("quillon-printer-sim: read");
            return false;
          }
          napping_ = true;
        }
      } else if (p.revents & (POLLHUP | POLLERR)) {
        napping_ = true;
      }
    }
    return true;
  }

 private:
  // Times in the transcript count from the start of the program.
  int64_t NowMs() { return quillon::platform::NowMs() - origin_; }

  void Take(const uint8_t* data, size_t n, int64_t now) {
    for (const TimedByte& b : printer_.Feed(data, n, now)) pending_.push_back(b);
    if (verbose_) {
      for (const quillon::sim::TranscriptEntry& e : printer_.Transcript(shown_)) {
        std::fprintf(stderr, "%s\n", e.Text().c_str());
        ++shown_;
      }
    }
  }

  void MoveDue(int64_t now) {
    while (!pending_.empty() && pending_.front().atMs <= now) {
      out_.push_back(pending_.front().byte);
      pending_.pop_front();
    }
  }

  bool Flush() {
    while (!out_.empty()) {
      const ssize_t put = write(master_, out_.data(), out_.size());
      if (put < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return true;  // ppoll waits for room
        std::perror("quillon-printer-sim: write");
        return false;
      }
      out_.erase(out_.begin(), out_.begin() + put);
    }
    return true;
  }

  PrinterEmulator& printer_;
  const int master_;
  const bool verbose_;
  const int64_t origin_ = quillon::platform::NowMs();
  std::deque<TimedByte> pending_;  // answer bytes not yet due
  std::vector<uint8_t> out_;       // due, not yet taken by the terminal
  size_t shown_ = 0;
  bool napping_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  SimConfig config;
  bool verbose = false;
  std::string message;
  switch (quillon::sim::ParseProgramArguments(argc, argv, config, verbose, message)) {
    case quillon::sim::ProgramArguments::kHelp:
      std::fputs(quillon::sim::kProgramUsage.data(), stdout);
      return 0;
    case quillon::sim::ProgramArguments::kError:
      std::fputs(message.c_str(), stderr);
      return 2;
    case quillon::sim::ProgramArguments::kRun:
      break;
  }
  PrinterEmulator printer(config.emulator);
  std::string error;
  if (!config.image.empty() && !printer.LoadImageFile(config.image, &error)) {
    std::fprintf(stderr, "quillon-printer-sim: %s\n", error.c_str());
    return 2;
  }
  if (!InstallSignals()) {
    std::perror("quillon-printer-sim: signals");
    return 1;
  }
  Terminal terminal;
  if (!OpenTerminal(terminal)) return 1;
  std::printf("%s\n", terminal.path.c_str());
  std::fflush(stdout);

  Server server(printer, terminal.master, verbose);
  const bool served = server.Run();

  int status = served ? 0 : 1;
  for (const std::string& problem :
       quillon::sim::WritePrinterFiles(printer, config.flashOut, config.logOut)) {
    std::fprintf(stderr, "quillon-printer-sim: %s\n", problem.c_str());
    status = 1;
  }
  close(terminal.slave);
  close(terminal.master);
  return status;
}
