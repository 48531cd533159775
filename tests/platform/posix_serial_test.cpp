// The POSIX serial backend against a pseudo-terminal: the test holds the
// master end and plays the printer; the backend opens the slave end through
// the devices seam. Real clock throughout; time bounds are generous because
// the suite also runs under sanitizers on a loaded machine.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/posix/serial_posix.h"

namespace quillon::platform {
namespace {

constexpr uint32_t M = kMaxDword;

class Stopwatch {
 public:
  int64_t Ms() const {
    using std::chrono::duration_cast, std::chrono::milliseconds;
    return duration_cast<milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Open descriptors of this process, to show that nothing leaks.
int OpenFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
}

// A pseudo-terminal; the test keeps the master.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }

  // The slave's settings, as the master sees them.
  termios Settings() const {
    termios t{};
    EXPECT_EQ(::tcgetattr(master_, &t), 0);
    return t;
  }
  void ChangeSettings(const termios& t) { ASSERT_EQ(::tcsetattr(master_, TCSANOW, &t), 0); }

  // Sends bytes to the backend.
  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << std::strerror(errno);
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }

  // Receives up to n bytes the backend wrote, waiting at most timeoutMs.
  std::string Receive(size_t n, int timeoutMs = 5000) {
    std::string out;
    Stopwatch watch;
    while (out.size() < n && watch.Ms() < timeoutMs) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(timeoutMs - watch.Ms())) <= 0) continue;
      char buf[4096];
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }

  // Hangs up the line.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// ---------------------------------------------------------------------------
// Opening and closing

TEST(PosixSerialOpen, RefusedOpensSayWhyAndLeakNothing) {
  const int fds = OpenFdCount();

  EXPECT_EQ(OpenDevice("/dev/quillon-no-such-line"), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(LastErrorText(), std::strerror(ENOENT));

  // A regular file is not a serial line.
  char file[] = "/tmp/quillon-serial-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(OpenDevice(file), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_FALSE(LastErrorText().empty());
  ::unlink(file);

  EXPECT_EQ(OpenFdCount(), fds);
}

TEST(PosixSerialOpen, TheLineIsExclusiveUntilClosed) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  const int fds = OpenFdCount();

  const Handle first = OpenDevice(pty.Path());
  ASSERT_NE(first, kInvalidHandle) << LastErrorText();

  EXPECT_EQ(OpenDevice(pty.Path()), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  EXPECT_EQ(LastErrorText(), std::strerror(EBUSY));

  // Another program taking the same care is kept out as well, by the lock
  // alone: nothing is set on the tty that could outlast the process.
  const int other = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0) << std::strerror(errno);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  int exclusiveTty = -1;
  ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusiveTty), 0);
  EXPECT_EQ(exclusiveTty, 0);
  ::close(other);

  ASSERT_TRUE(CloseDevice(first));
  EXPECT_EQ(OpenFdCount(), fds);

  const Handle again = OpenDevice(pty.Path());
  ASSERT_NE(again, kInvalidHandle) << LastErrorText();
  EXPECT_TRUE(CloseDevice(again));
}

TEST(PosixSerialOpen, RawModeWhileOpenTheLinesOwnSettingsAfterClose) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  // Start from a cooked line with driver read time-outs, at 4800 baud.
  termios cooked = pty.Settings();
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_iflag |= ICRNL;
  cooked.c_oflag |= OPOST;
  cooked.c_cc[VMIN] = 1;
  cooked.c_cc[VTIME] = 5;
  cfsetispeed(&cooked, B4800);
  cfsetospeed(&cooked, B4800);
  pty.ChangeSettings(cooked);
  const termios before = pty.Settings();

  const Handle h = OpenDevice(pty.Path());
  ASSERT_NE(h, kInvalidHandle) << LastErrorText();

  const termios t = pty.Settings();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Before any SetLineState: what termios says, and the Dcb defaults for the rest.
  Dcb dcb;
  dcb.BaudRate = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.XonLim = 1;
  ASSERT_TRUE(GetLineState(h, dcb));
  Dcb expected;
  expected.BaudRate = 4800;
  EXPECT_EQ(dcb, expected);

  CommTimeouts timeouts{1, 2, 3, 4, 5};
  ASSERT_TRUE(GetLineTimeouts(h, timeouts));
  EXPECT_EQ(timeouts, CommTimeouts{});

  // Whatever the port was set to, closing puts the line back as it was found.
  Dcb line;
  line.BaudRate = 38400;
  line.Parity = kEvenParity;
  line.StopBits = kTwoStopBits;
  ASSERT_TRUE(SetLineState(h, line));
  ASSERT_TRUE(CloseDevice(h));
  const termios after = pty.Settings();
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
  EXPECT_EQ(cfgetospeed(&after), B4800);
  EXPECT_EQ(cfgetispeed(&after), B4800);
}

TEST(PosixSerialOpen, CloseEndsAWaitingReadAndFurtherCalls) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  std::shared_ptr<SerialDevice> device = OpenOsSerial(pty.Path());
  ASSERT_NE(device, nullptr) << LastErrorText();
  ASSERT_TRUE(device->SetTimeouts({0, 0, 10000, 0, 0}));

  bool ok = true;
  uint32_t got = 99;
  int error = kErrorSuccess;
  int64_t ms = 0;
  std::thread reader([&] {
    uint8_t buf[8];
    Stopwatch watch;
    ok = device->Read(buf, sizeof buf, got);
    ms = watch.Ms();
    error = LastError();
  });
  SleepMs(100);
  device->Close();
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(error, kErrorInvalidHandle);
  EXPECT_LT(ms, 5000);

  uint8_t byte = 0;
  EXPECT_FALSE(device->Read(&byte, 1, got));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(device->Write(&byte, 1, got));
  Dcb dcb;
  EXPECT_FALSE(device->GetState(dcb));
  EXPECT_FALSE(device->Purge(kPurgeRxClear));

  // The line is free again.
  const Handle h = OpenDevice(pty.Path());
  EXPECT_NE(h, kInvalidHandle) << LastErrorText();
  CloseDevice(h);
}

// ---------------------------------------------------------------------------
// An open line

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    h = OpenDevice(pty.Path());
    ASSERT_NE(h, kInvalidHandle) << LastErrorText();
  }
  void TearDown() override {
    if (h != kInvalidHandle) CloseDevice(h);
  }

  void SetTimeouts(CommTimeouts t) { ASSERT_TRUE(SetLineTimeouts(h, t)); }

  struct ReadResult {
    bool ok = false;
    std::string bytes;
    int64_t ms = 0;
  };
  ReadResult Read(uint32_t n) {
    std::vector<uint8_t> buf(n);
    uint32_t got = 12345;
    ReadResult r;
    Stopwatch watch;
    r.ok = ReadDevice(h, buf.data(), n, &got);
    r.ms = watch.Ms();
    EXPECT_LE(got, n);
    r.bytes.assign(buf.begin(), buf.begin() + std::min(got, n));
    return r;
  }
  // Waits until the first of the bytes the printer sent has arrived, and
  // takes it.
  void TakeFirstByte(char expected) {
    CommTimeouts saved;
    ASSERT_TRUE(GetLineTimeouts(h, saved));
    SetTimeouts({M, M, 5000, 0, 0});
    EXPECT_EQ(Read(1).bytes, std::string(1, expected));
    SetTimeouts(saved);
  }

  Pty pty;
  Handle h = kInvalidHandle;
};

// --- Line settings

TEST_F(PosixSerial, LineStateRoundTripsAndReachesTermios) {
  Dcb dcb;
  dcb.BaudRate = 19200;
  dcb.StopBits = kTwoStopBits;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x05;
  dcb.XoffChar = 0x06;
  // Fields termios has no place for come back as set.
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = kDtrControlDisable;
  dcb.fRtsControl = kRtsControlHandshake;
  dcb.fTXContinueOnXoff = 1;
  dcb.XonLim = 100;
  dcb.XoffLim = 200;
  dcb.EofChar = 0x1a;
  dcb.EvtChar = 0x07;
  ASSERT_TRUE(SetLineState(h, dcb)) << LastErrorText();

  Dcb back;
  ASSERT_TRUE(GetLineState(h, back));
  EXPECT_EQ(back, dcb);

  termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
  EXPECT_EQ(cfgetispeed(&t), speed_t{B19200});
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x05);
  EXPECT_EQ(t.c_cc[VSTOP], 0x06);
  EXPECT_EQ(t.c_lflag & ICANON, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);

  // And everything off again.
  Dcb plain;
  plain.BaudRate = 115200;
  ASSERT_TRUE(SetLineState(h, plain)) << LastErrorText();
  ASSERT_TRUE(GetLineState(h, back));
  EXPECT_EQ(back, plain);
  t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B115200});
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), 0u);
}

TEST_F(PosixSerial, LineStateReportsWhatTheDriverHas) {
  Dcb dcb;
  dcb.StopBits = kOne5StopBits;
  ASSERT_TRUE(SetLineState(h, dcb));
  Dcb back;
  ASSERT_TRUE(GetLineState(h, back));
  EXPECT_EQ(back.StopBits, kOne5StopBits);  // termios keeps two; the request is remembered

  // Settings changed behind the backend's back show.
  termios t = pty.Settings();
  cfsetispeed(&t, B57600);
  cfsetospeed(&t, B57600);
  t.c_cflag &= ~CSTOPB;
  t.c_iflag |= IXON;
  pty.ChangeSettings(t);
  ASSERT_TRUE(GetLineState(h, back));
  EXPECT_EQ(back.BaudRate, 57600u);
  EXPECT_EQ(back.StopBits, kOneStopBit);
  EXPECT_EQ(back.fOutX, 1u);

  // A pseudo-terminal always carries 8 data bits without parity; the line
  // state says so instead of echoing the request.
  dcb = Dcb{};
  dcb.ByteSize = 7;
  dcb.Parity = kEvenParity;
  ASSERT_TRUE(SetLineState(h, dcb));
  ASSERT_TRUE(GetLineState(h, back));
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, kNoParity);
}

TEST_F(PosixSerial, RefusesSettingsTheLineCannotDo) {
  Dcb good;
  good.BaudRate = 38400;
  good.fOutxDsrFlow = 1;
  ASSERT_TRUE(SetLineState(h, good));

  auto refused = [&](const char* what, auto change) {
    SCOPED_TRACE(what);
    Dcb bad = good;
    change(bad);
    EXPECT_FALSE(SetLineState(h, bad));
    EXPECT_EQ(LastError(), kErrorInvalidParameter);
    Dcb now;
    ASSERT_TRUE(GetLineState(h, now));
    EXPECT_EQ(now, good);
  };
  refused("baud 12345", [](Dcb& d) { d.BaudRate = 12345; });
  refused("baud 14400", [](Dcb& d) { d.BaudRate = 14400; });
  refused("baud 0", [](Dcb& d) { d.BaudRate = 0; });
  refused("4 data bits", [](Dcb& d) { d.ByteSize = 4; });
  refused("9 data bits", [](Dcb& d) { d.ByteSize = 9; });
  refused("parity 5", [](Dcb& d) { d.Parity = 5; });
  refused("stop bits 3", [](Dcb& d) { d.StopBits = 3; });
  refused("DTR mode 3", [](Dcb& d) { d.fDtrControl = 3; });
  refused("RTS mode 4", [](Dcb& d) { d.fRtsControl = 4; });

  const termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), speed_t{B38400});
}

TEST_F(PosixSerial, TimeoutsRoundTrip) {
  const CommTimeouts set{M, M, 1500, 250, 3000};
  ASSERT_TRUE(SetLineTimeouts(h, set));
  CommTimeouts back;
  ASSERT_TRUE(GetLineTimeouts(h, back));
  EXPECT_EQ(back, set);
}

// --- Reading

TEST_F(PosixSerial, AnyByteReadReturnsAtOnceWithWhatIsBuffered) {
  pty.Send("XY");
  TakeFirstByte('X');  // "Y" came with it
  SetTimeouts({M, M, 5000, 0, 0});
  const ReadResult r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "Y");
  EXPECT_LT(r.ms, 2500);
}

TEST_F(PosixSerial, AnyByteReadEndsWhenAByteArrives) {
  SetTimeouts({M, M, 5000, 0, 0});
  std::thread printer([&] {
    SleepMs(100);
    pty.Send("Q");
  });
  const ReadResult r = Read(10);
  printer.join();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "Q");
  EXPECT_LT(r.ms, 2500);
}

TEST_F(PosixSerial, AnyByteReadOnASilentLineEndsAfterTheConstant) {
  SetTimeouts({M, M, 300, 0, 0});
  const ReadResult r = Read(1);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "");
  EXPECT_GE(r.ms, 280);
  EXPECT_LT(r.ms, 3000);
}

TEST_F(PosixSerial, ReturnAtOnceReadNeverWaits) {
  SetTimeouts({M, 0, 0, 0, 0});
  ReadResult r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "");
  EXPECT_LT(r.ms, 1000);

  pty.Send("abc");
  TakeFirstByte('a');
  r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "bc");
  EXPECT_LT(r.ms, 1000);
}

TEST_F(PosixSerial, TotalTimeoutEndsAShortRead) {
  SetTimeouts({0, 10, 200, 0, 0});  // 5 bytes: 250 ms
  pty.Send("hi");
  const ReadResult r = Read(5);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "hi");
  EXPECT_GE(r.ms, 240);
  EXPECT_LT(r.ms, 3000);
}

TEST_F(PosixSerial, IntervalTimeoutEndsAReadAfterTheLastByte) {
  SetTimeouts({100, 0, 5000, 0, 0});
  pty.Send("AB");
  ReadResult r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "AB");
  EXPECT_GE(r.ms, 95);
  EXPECT_LT(r.ms, 2500);

  // Before the first byte only the total time-out runs.
  SetTimeouts({100, 0, 600, 0, 0});
  r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "");
  EXPECT_GE(r.ms, 580);
  EXPECT_LT(r.ms, 3000);

  // Every byte starts the interval again.
  SetTimeouts({1500, 0, 10000, 0, 0});
  std::thread printer([&] {
    pty.Send("1");
    SleepMs(300);
    pty.Send("2");
    SleepMs(300);
    pty.Send("3");
  });
  r = Read(10);
  printer.join();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "123");
  EXPECT_GE(r.ms, 1900);
  EXPECT_LT(r.ms, 6000);
}

TEST_F(PosixSerial, HangUpMakesCallsFailInsteadOfWaiting) {
  SetTimeouts({0, 0, 10000, 0, 0});
  pty.CloseMaster();
  ReadResult r = Read(10);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(LastError(), kErrorSuccess);
  EXPECT_LT(r.ms, 3000);

  uint32_t written = 99;
  EXPECT_FALSE(WriteDevice(h, "x", 1, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseDevice(h));
  h = kInvalidHandle;
}

TEST_F(PosixSerial, HangUpEndsAWaitingRead) {
  SetTimeouts({0, 0, 10000, 0, 0});
  std::thread printer([&] {
    SleepMs(100);
    pty.CloseMaster();
  });
  const ReadResult r = Read(10);
  printer.join();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(LastError(), kErrorSuccess);
  EXPECT_LT(r.ms, 5000);
}

// --- Writing and purging

TEST_F(PosixSerial, WriteReachesTheOtherEnd) {
  SetTimeouts({0, 0, 0, 0, 5000});
  uint32_t written = 99;
  ASSERT_TRUE(WriteDevice(h, "hello", 5, &written)) << LastErrorText();
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(pty.Receive(5), "hello");

  ASSERT_TRUE(WriteDevice(h, "", 0, &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(PosixSerial, DsrFlowControlOnALineWithoutModemLinesDoesNotHold) {
  Dcb dcb;
  dcb.fOutxDsrFlow = 1;
  ASSERT_TRUE(SetLineState(h, dcb)) << LastErrorText();
  SetTimeouts({0, 0, 0, 0, 2000});

  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>('a' + i % 26);
  uint32_t written = 0;
  Stopwatch watch;
  ASSERT_TRUE(WriteDevice(h, data.data(), static_cast<uint32_t>(data.size()), &written));
  EXPECT_LT(watch.Ms(), 1500);
  EXPECT_EQ(written, data.size());
  EXPECT_EQ(pty.Receive(data.size()), data);
}

TEST_F(PosixSerial, WriteTimesOutWhenTheOtherEndDoesNotRead) {
  SetTimeouts({0, 0, 0, 0, 300});
  const std::vector<uint8_t> data(1 << 20, 0x55);
  uint32_t written = 0;
  Stopwatch watch;
  ASSERT_TRUE(WriteDevice(h, data.data(), static_cast<uint32_t>(data.size()), &written));
  const int64_t ms = watch.Ms();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_GE(ms, 280);
  EXPECT_LT(ms, 3000);
}

TEST_F(PosixSerial, PurgeDropsReceivedBytes) {
  pty.Send("stale");
  TakeFirstByte('s');
  ASSERT_TRUE(PurgeDevice(h, kPurgeRxClear)) << LastErrorText();
  pty.Send("Z");
  SetTimeouts({M, M, 5000, 0, 0});
  EXPECT_EQ(Read(10).bytes, "Z");

  EXPECT_TRUE(PurgeDevice(h, kPurgeTxClear | kPurgeTxAbort | kPurgeRxAbort));
  EXPECT_TRUE(PurgeDevice(h, kPurgeRxClear | kPurgeTxClear));
}

TEST_F(PosixSerial, ReadsAndWritesRunSideBySide) {
  SetTimeouts({0, 0, 10000, 0, 10000});
  std::string in, out;
  for (int i = 0; i < 2000; ++i) {
    in += static_cast<char>(i % 251);
    out += static_cast<char>(i % 241);
  }
  ReadResult r;
  std::thread reader([&] { r = Read(static_cast<uint32_t>(in.size())); });
  bool wrote = false;
  uint32_t written = 0;
  std::thread writer(
      [&] { wrote = WriteDevice(h, out.data(), static_cast<uint32_t>(out.size()), &written); });
  pty.Send(in);
  EXPECT_EQ(pty.Receive(out.size()), out);
  reader.join();
  writer.join();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, in);
  EXPECT_TRUE(wrote);
  EXPECT_EQ(written, out.size());
}

// ---------------------------------------------------------------------------
// The mapping between Dcb and termios

using posix::ApplyDcb;
using posix::BaudOfSpeed;
using posix::ReadDcb;
using posix::SpeedOfBaud;

TEST(PosixTermiosMap, StandardRatesMapBothWays) {
  const uint32_t rates[] = {50,      75,      110,     134,     150,     200,    300,     600,
                            1200,    1800,    2400,    4800,    9600,    19200,  38400,   57600,
                            115200,  230400,  460800,  500000,  576000,  921600, 1000000, 1152000,
                            1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
  for (const uint32_t baud : rates) {
    SCOPED_TRACE(baud);
    speed_t speed = 0;
    ASSERT_TRUE(SpeedOfBaud(baud, speed));
    EXPECT_EQ(BaudOfSpeed(speed), baud);
    termios t{};
    Dcb dcb;
    dcb.BaudRate = baud;
    ASSERT_TRUE(ApplyDcb(dcb, t));
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(cfgetispeed(&t), speed);
    Dcb back;
    back.BaudRate = 1;
    ReadDcb(t, back);
    EXPECT_EQ(back.BaudRate, baud);
  }
  EXPECT_EQ(BaudOfSpeed(speed_t{B9600}), 9600u);
  speed_t speed = 0;
  for (const uint32_t baud : {0u, 1u, 12345u, 14400u, 128000u, 4000001u}) {
    EXPECT_FALSE(SpeedOfBaud(baud, speed)) << baud;
  }
}

TEST(PosixTermiosMap, FrameSettingsMapBothWays) {
  struct Parity {
    uint8_t code;
    tcflag_t flags;
  };
  const Parity parities[] = {{kNoParity, 0},
                             {kOddParity, PARENB | PARODD},
                             {kEvenParity, PARENB},
                             {kMarkParity, PARENB | PARODD | CMSPAR},
                             {kSpaceParity, PARENB | CMSPAR}};
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (uint8_t bits = 5; bits <= 8; ++bits) {
    for (const Parity& parity : parities) {
      for (const uint8_t stop : {kOneStopBit, kOne5StopBits, kTwoStopBits}) {
        SCOPED_TRACE(testing::Message() << int{bits} << " bits, parity " << int{parity.code}
                                        << ", stop " << int{stop});
        // Start from a line full of other settings.
        termios t{};
        t.c_cflag = CS8 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
        t.c_iflag = IXON | IXOFF | IXANY | PARMRK | ISTRIP | IGNPAR | INPCK | ICRNL;
        t.c_lflag = ICANON | ECHO | ISIG;
        t.c_oflag = OPOST;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 10;
        Dcb dcb;
        dcb.ByteSize = bits;
        dcb.Parity = parity.code;
        dcb.StopBits = stop;
        ASSERT_TRUE(ApplyDcb(dcb, t));
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits - 5]);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), parity.flags);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != kOneStopBit);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | PARMRK | ISTRIP | IGNPAR | INPCK | ICRNL),
                  0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);

        Dcb back;
        back.ByteSize = 0;
        back.Parity = 9;
        back.StopBits = stop == kOne5StopBits ? kOne5StopBits : 9;
        ReadDcb(t, back);
        EXPECT_EQ(back.ByteSize, bits);
        EXPECT_EQ(back.Parity, parity.code);
        EXPECT_EQ(back.StopBits, stop);
      }
    }
  }
}

TEST(PosixTermiosMap, FlowControlAndParityChecking) {
  termios t{};
  Dcb dcb;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  ASSERT_TRUE(ApplyDcb(dcb, t));
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_iflag & IXANY, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x01);
  EXPECT_EQ(t.c_cc[VSTOP], 0x02);

  Dcb back;
  back.fBinary = 0;
  back.fOutxDsrFlow = 1;  // not termios': left alone
  back.XonLim = 7;
  ReadDcb(t, back);
  EXPECT_EQ(back.fBinary, 1u);
  EXPECT_EQ(back.fParity, 1u);
  EXPECT_EQ(back.fOutxCtsFlow, 1u);
  EXPECT_EQ(back.fOutX, 1u);
  EXPECT_EQ(back.fInX, 1u);
  EXPECT_EQ(back.XonChar, 0x01);
  EXPECT_EQ(back.XoffChar, 0x02);
  EXPECT_EQ(back.fOutxDsrFlow, 1u);
  EXPECT_EQ(back.XonLim, 7);

  dcb = Dcb{};
  ASSERT_TRUE(ApplyDcb(dcb, t));
  EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  ReadDcb(t, back);
  EXPECT_EQ(back.fParity, 0u);
  EXPECT_EQ(back.fOutxCtsFlow, 0u);
  EXPECT_EQ(back.fOutX, 0u);
  EXPECT_EQ(back.fInX, 0u);
}

TEST(PosixTermiosMap, RefusalLeavesTermiosAlone) {
  termios t{};
  Dcb dcb;
  dcb.BaudRate = 9600;
  ASSERT_TRUE(ApplyDcb(dcb, t));
  const termios before = t;
  for (const auto& change :
       std::vector<void (*)(Dcb&)>{[](Dcb& d) { d.BaudRate = 12345; },
                                   [](Dcb& d) { d.ByteSize = 4; }, [](Dcb& d) { d.ByteSize = 9; },
                                   [](Dcb& d) { d.Parity = 5; }, [](Dcb& d) { d.StopBits = 3; }}) {
    Dcb bad;
    bad.fParity = 1;
    bad.fOutX = 1;
    change(bad);
    EXPECT_FALSE(ApplyDcb(bad, t));
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
  }
}

}  // namespace
}  // namespace quillon::platform
