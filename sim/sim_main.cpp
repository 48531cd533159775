// quillon-printer-sim: the printer emulator behind a real port, so that the
// real serial and USB backends can talk to it: a new pseudo-terminal (the
// default), an existing serial device (--device), or the printer's side of a
// USB printer gadget (--usb-gadget). The first line on stdout is the port's
// path. SIGINT or SIGTERM ends the program, which then writes the transcript
// and the flash image if asked.

#include <fcntl.h>
#include <linux/usb/g_printer.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "sim/emulated_line.h"
#include "sim/printer_emulator.h"
#include "sim/program_options.h"
#include "sim/sim_options.h"

namespace {

using quillon::sim::BusAbsence;
using quillon::sim::LoaderState;
using quillon::sim::PrinterEmulator;
using quillon::sim::ProgramSettings;
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

// Prints "quillon-printer-sim: WHAT: the reason" and gives false.
bool Complain(const std::string& what, int err = errno) {
  std::fprintf(stderr, "quillon-printer-sim: %s: %s\n", what.c_str(), std::strerror(err));
  return false;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The port the printer is reached through.
class Port {
 public:
  virtual ~Port() = default;
  // Opens it; false after saying why.
  virtual bool Open() = 0;
  // The descriptor to read and write; -1 while the printer is off the bus.
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // A read error or a hang-up: true to look again a little later (the host
  // closed its end), false to give up.
  virtual bool Passing(int err) const = 0;
  // The printer's loader started (after the switch) or ended (the reset).
  virtual void LoaderChanged(bool /*inLoader*/) {}
  // Leaving the bus and coming back; false after saying why.
  virtual bool Leave() { return true; }
  virtual bool Return() { return true; }

 protected:
  int fd_ = -1;
  std::string path_;
};

// A new pseudo-terminal. Its own extra descriptor on the terminal's side is
// never read: it keeps the master usable while the host closes and reopens.
class Terminal final : public Port {
 public:
  ~Terminal() override {
    if (slave_ >= 0) close(slave_);
    if (fd_ >= 0) close(fd_);
  }

  bool Open() override {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return Complain("pseudo-terminal");
    const char* name = ptsname(fd_);
    if (!name) return Complain("ptsname");
    path_ = name;
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return Complain("open terminal");
    termios raw{};
    if (tcgetattr(slave_, &raw) != 0) return Complain("tcgetattr");
    cfmakeraw(&raw);
    if (tcsetattr(slave_, TCSANOW, &raw) != 0) return Complain("tcsetattr");
    if (!SetNonBlocking(fd_)) return Complain("fcntl");
    return true;
  }

  // EIO: no one has the terminal open at the moment.
  bool Passing(int err) const override { return err == EIO; }

 private:
  int slave_ = -1;
};

// An existing serial device: a real port, a USB-serial adapter on a
// null-modem cable, a virtual machine's UART. Until the switch it uses the
// line settings the host uses; the printer's loader talks at 38400 baud,
// 8N1, as the host does after the switch.
class SerialDevice final : public Port {
 public:
  explicit SerialDevice(const ProgramSettings& s) : settings_(s) { path_ = s.device; }
  ~SerialDevice() override {
    if (fd_ >= 0) close(fd_);
  }

  bool Open() override {
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Complain(path_);
    if (!Configure(settings_.baud, settings_.parity, settings_.stopBits, TCSANOW)) return false;
    // DTR and RTS up: on a null-modem cable they are the host's DSR and CTS.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
      return Complain(path_ + ": modem lines");
    }
    return true;
  }

  bool Passing(int) const override { return false; }

  void LoaderChanged(bool inLoader) override {
    // Answers already queued go out at the old settings first.
    if (inLoader) {
      Configure(38400, 'N', 1, TCSADRAIN);
    } else {
      Configure(settings_.baud, settings_.parity, settings_.stopBits, TCSADRAIN);
    }
  }

 private:
  static speed_t Speed(int baud) {
    switch (baud) {
      case 115200:
        return B115200;
      case 57600:
        return B57600;
      case 19200:
        return B19200;
      case 9600:
        return B9600;
      case 4800:
        return B4800;
      case 2400:
        return B2400;
      case 1200:
        return B1200;
      default:
        return B38400;
    }
  }

  bool Configure(int baud, char parity, int stopBits, int when) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return Complain(path_ + ": tcgetattr");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(PARENB | PARODD | CSTOPB | CRTSCTS);
    if (parity != 'N') t.c_cflag |= PARENB | (parity == 'O' ? PARODD : 0);
    if (stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, Speed(baud));
    cfsetospeed(&t, Speed(baud));
    if (tcsetattr(fd_, when, &t) != 0) return Complain(path_ + ": tcsetattr");
    return true;
  }

  const ProgramSettings settings_;
};

namespace fs = std::filesystem;

// The only gadget in configfs that has a printer function and is bound to
// a controller; empty if there is none or more than one.
std::string FindGadgetDir() {
  std::string found;
  int count = 0;
  std::error_code error;
  const fs::path root = "/sys/kernel/config/usb_gadget";
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    std::string udc;
    std::ifstream(it->path() / "UDC") >> udc;
    bool printer = false;
    std::error_code ignored;
    for (fs::directory_iterator f(it->path() / "functions", ignored), e; !ignored && f != e;
         f.increment(ignored)) {
      printer = printer || f->path().filename().string().starts_with("printer.");
    }
    if (printer && !udc.empty()) {
      found = it->path().string();
      ++count;
    }
  }
  return count == 1 ? found : std::string();
}

bool WriteAttribute(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text << '\n';
  out.close();
  return static_cast<bool>(out);
}

// The printer's side of a USB printer gadget (the configfs printer function,
// /dev/g_printerN). What it writes is queued until the host's next read.
// Leaving the bus closes the file and unbinds the gadget from its
// controller; coming back binds it again and opens the file anew (the file
// must not be held across the unbind: that crashed the 6.1 kernel).
class Gadget final : public Port {
 public:
  explicit Gadget(const ProgramSettings& s) : gadgetDir_(s.gadgetDir) { path_ = s.usbGadget; }
  ~Gadget() override {
    if (fd_ >= 0) close(fd_);
  }

  bool Open() override { return OpenFile(5000); }

  // The host side is not connected, or the gadget is being unbound.
  bool Passing(int err) const override {
    return err == EIO || err == ESHUTDOWN || err == ENODEV || err == ECONNRESET;
  }

  bool Leave() override {
    // What was written waits for the host's next read: it must have it
    // before the printer goes. fsync() on the gadget's file waits until the
    // host has fetched everything; a stop signal ends the wait.
    sigset_t none;
    sigset_t blocked;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, &blocked);
    if (!stopRequested.load()) fsync(fd_);
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
    if (gadgetDir_.empty()) gadgetDir_ = FindGadgetDir();
    if (gadgetDir_.empty()) {
      std::fprintf(stderr,
                   "quillon-printer-sim: cannot leave the bus: name the gadget's configfs "
                   "folder with --gadget\n");
      return false;
    }
    std::ifstream(fs::path(gadgetDir_) / "UDC") >> controller_;
    close(fd_);
    fd_ = -1;
    if (!WriteAttribute(fs::path(gadgetDir_) / "UDC", "")) {
      return Complain("unbind " + gadgetDir_);
    }
    return true;
  }

  bool Return() override {
    if (!WriteAttribute(fs::path(gadgetDir_) / "UDC", controller_)) {
      return Complain("bind " + gadgetDir_ + " to " + controller_);
    }
    // The file comes back when the gadget's function is bound again.
    return OpenFile(5000);
  }

 private:
  bool OpenFile(int patienceMs) {
    for (int waited = 0;; waited += 50) {
      fd_ = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd_ >= 0) break;
      if (waited >= patienceMs || (errno != ENOENT && errno != ENODEV)) return Complain(path_);
      usleep(50'000);
    }
    // The port status the host reads: selected, no error.
    if (ioctl(fd_, GADGET_SET_PRINTER_STATUS, PRINTER_SELECTED | PRINTER_NOT_ERROR) < 0) {
      return Complain(path_ + ": printer status");
    }
    return true;
  }

  std::string gadgetDir_;
  std::string controller_;
};

class Server {
 public:
  Server(PrinterEmulator& printer, Port& port, bool verbose)
      : printer_(printer), port_(port), verbose_(verbose) {
    printer_.SetBusListener([this](const BusAbsence& a) { absence_ = a; });
  }

  // Serves until a stop signal; false on a fatal error of the port.
  bool Run() {
    sigset_t waitMask;
    sigemptyset(&waitMask);
    std::vector<uint8_t> in(65536);
    while (!stopRequested.load()) {
      int64_t now = NowMs();
      if (!FollowTheBus(now)) return false;
      MoveDue(now);
      if (!Flush()) return false;

      const int fd = port_.Fd();
      pollfd p{fd, POLLIN, 0};
      if (!out_.empty()) p.events |= POLLOUT;
      int64_t wake = -1;  // no answer due, no bus event: wait for input or a signal
      if (out_.empty() && !pending_.empty()) wake = pending_.front().atMs;
      if (absence_) {
        const int64_t at = fd >= 0 ? absence_->fromMs : absence_->untilMs;
        if (at != quillon::sim::kGoneForGood && (wake < 0 || at < wake)) wake = at;
      }
      timespec timeout{};
      if (wake >= 0) {
        const int64_t ms = std::max<int64_t>(0, wake - now);
        timeout.tv_sec = static_cast<time_t>(ms / 1000);
        timeout.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
      }
      const bool nap = napping_ || fd < 0;
      if (napping_) {
        // The port reported a hang-up; look again shortly.
        timeout = {0, 50'000'000};
        wake = 0;
        napping_ = false;
      }
      const int ready =
          ppoll(nap ? nullptr : &p, nap ? 0 : 1, wake >= 0 ? &timeout : nullptr, &waitMask);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Complain("ppoll");
      }
      if (ready == 0 || nap) continue;
      if (p.revents & POLLIN) {
        const ssize_t got = read(fd, in.data(), in.size());
        if (got > 0) {
          Take(in.data(), static_cast<size_t>(got), NowMs());
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
          if (!port_.Passing(errno)) return Complain("read " + port_.Path());
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
    const bool inLoader = printer_.State(now) != LoaderState::kNormal;
    if (inLoader != inLoader_) {
      inLoader_ = inLoader;
      port_.LoaderChanged(inLoader);
    }
    if (verbose_) {
      for (const quillon::sim::TranscriptEntry& e : printer_.Transcript(shown_)) {
        std::fprintf(stderr, "%s\n", e.Text().c_str());
        ++shown_;
      }
    }
  }

  // Leaves the bus when the printer's time to go has come, and comes back
  // when it is over.
  bool FollowTheBus(int64_t now) {
    if (!absence_) return true;
    if (port_.Fd() >= 0 && now >= absence_->fromMs && now < absence_->untilMs) {
      if (!Flush()) return false;
      pending_.clear();  // answers not due yet go with the bus
      out_.clear();
      if (!port_.Leave()) return false;
      // Away for as long as planned from the moment it went.
      const int64_t left = NowMs();
      if (absence_->untilMs != quillon::sim::kGoneForGood) {
        absence_->untilMs += left - absence_->fromMs;
      }
      if (verbose_) std::fprintf(stderr, "%8lld ms  off the bus\n", static_cast<long long>(left));
    }
    if (port_.Fd() < 0 && now >= absence_->untilMs) {
      if (!port_.Return()) return false;
      if (verbose_) {
        std::fprintf(stderr, "%8lld ms  back on the bus\n", static_cast<long long>(NowMs()));
      }
      absence_.reset();
    }
    return true;
  }

  void MoveDue(int64_t now) {
    while (!pending_.empty() && pending_.front().atMs <= now) {
      out_.push_back(pending_.front().byte);
      pending_.pop_front();
    }
  }

  bool Flush() {
    while (!out_.empty() && port_.Fd() >= 0) {
      const ssize_t put = write(port_.Fd(), out_.data(), out_.size());
      if (put < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return true;  // ppoll waits for room
        if (port_.Passing(errno)) {
          out_.clear();  // no one is there to take it
          return true;
        }
        return Complain("write " + port_.Path());
      }
      out_.erase(out_.begin(), out_.begin() + put);
    }
    return true;
  }

  PrinterEmulator& printer_;
  Port& port_;
  const bool verbose_;
  const int64_t origin_ = quillon::platform::NowMs();
  std::deque<TimedByte> pending_;  // answer bytes not yet due
  std::vector<uint8_t> out_;       // due, not yet taken by the port
  size_t shown_ = 0;
  bool napping_ = false;
  bool inLoader_ = false;
  std::optional<BusAbsence> absence_;  // the one to come or under way
};

}  // namespace

int main(int argc, char** argv) {
  SimConfig config;
  ProgramSettings settings;
  std::string message;
  switch (quillon::sim::ParseProgramArguments(argc, argv, config, settings, message)) {
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
  std::unique_ptr<Port> port;
  if (!settings.usbGadget.empty()) {
    port = std::make_unique<Gadget>(settings);
  } else if (!settings.device.empty()) {
    port = std::make_unique<SerialDevice>(settings);
  } else {
    port = std::make_unique<Terminal>();
  }
  if (!port->Open()) return 1;
  std::printf("%s\n", port->Path().c_str());
  std::fflush(stdout);

  Server server(printer, *port, settings.verbose);
  const bool served = server.Run();

  int status = served ? 0 : 1;
  for (const std::string& problem :
       quillon::sim::WritePrinterFiles(printer, config.flashOut, config.logOut)) {
    std::fprintf(stderr, "quillon-printer-sim: %s\n", problem.c_str());
    status = 1;
  }
  return status;
}
