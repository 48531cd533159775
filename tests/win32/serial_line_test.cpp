// The Win32 serial backend on a real COM port: the port named by the
// environment variable QUILLON_TEST_PORT (e.g. COM1), behind which
// quillon-printer-sim serves a freshly started emulated printer.
// scripts/wine-line-test.sh sets this up under Wine.
//
// The tests run in the order written and share the printer: the first ones
// leave it in normal mode; ThePrinterAnswersOverTheLine switches it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"

namespace quillon::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;

const Bytes kSwitch = {0x1D, 0x5B, 0x7D};
const Bytes kStatus = {0x1D, 0x01};
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kStandardModel = 0x23;

int64_t Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
}

class SerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("QUILLON_TEST_PORT");
    ASSERT_TRUE(port && *port) << "QUILLON_TEST_PORT is not set: run this program through "
                                  "scripts/wine-line-test.sh";
    port_ = port;
    h_ = OpenDevice(port_);
    ASSERT_NE(h_, kInvalidHandle) << "cannot open " << port_ << ": " << LastErrorText();
  }
  void TearDown() override {
    if (h_ != kInvalidHandle) {
      EXPECT_TRUE(CloseDevice(h_));
    }
  }

  void Line38400() {
    Dcb dcb;
    ASSERT_TRUE(GetLineState(h_, dcb)) << LastErrorText();
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = kNoParity;
    dcb.StopBits = kOneStopBit;
    dcb.fOutX = dcb.fInX = 0;
    ASSERT_TRUE(SetLineState(h_, dcb)) << LastErrorText();
  }

  void ReadWithin(uint32_t ms) {
    ASSERT_TRUE(SetLineTimeouts(h_, {kMaxDword, kMaxDword, ms, 250, 3000})) << LastErrorText();
  }

  void Write(const Bytes& bytes) {
    uint32_t written = 0;
    ASSERT_TRUE(WriteDevice(h_, bytes.data(), static_cast<uint32_t>(bytes.size()), &written))
        << LastErrorText();
    ASSERT_EQ(written, bytes.size());
  }

  // Reads byte by byte, as the port layer does, until `n` bytes came or a
  // read gave none.
  Bytes Read(size_t n) {
    Bytes got;
    while (got.size() < n) {
      uint8_t b = 0;
      uint32_t count = 0;
      EXPECT_TRUE(ReadDevice(h_, &b, 1, &count)) << LastErrorText();
      if (count == 0) break;
      got.push_back(b);
    }
    return got;
  }

  std::string port_;
  Handle h_ = kInvalidHandle;
};

// The port is opened without sharing; Windows then refuses a second open with
// ERROR_ACCESS_DENIED. Wine does not enforce that on serial ports, so only
// the closing and opening again are checked here.
TEST_F(SerialLine, ThePortOpensAgainOnceClosed) {
  ASSERT_TRUE(CloseDevice(h_));
  const Handle closed = h_;
  h_ = OpenDevice(port_);
  ASSERT_NE(h_, kInvalidHandle) << LastErrorText();
  EXPECT_NE(h_, closed);
  CommTimeouts t;
  EXPECT_TRUE(GetLineTimeouts(h_, t)) << LastErrorText();
}

// A pseudo-terminal always keeps 8 data bits without parity (the kernel
// resets them), so the byte size and the parity are not looked at here.
TEST_F(SerialLine, LineSettingsGoToTheDriverAndComeBack) {
  Dcb dcb;
  ASSERT_TRUE(GetLineState(h_, dcb)) << LastErrorText();
  dcb.BaudRate = 19200;
  dcb.StopBits = kTwoStopBits;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  ASSERT_TRUE(SetLineState(h_, dcb)) << LastErrorText();
  Dcb back;
  ASSERT_TRUE(GetLineState(h_, back)) << LastErrorText();
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.StopBits, kTwoStopBits);
  EXPECT_EQ(back.fOutX, 1u);
  EXPECT_EQ(back.fInX, 1u);

  Line38400();
  ASSERT_TRUE(GetLineState(h_, back)) << LastErrorText();
  EXPECT_EQ(back.BaudRate, 38400u);
  EXPECT_EQ(back.StopBits, kOneStopBit);
  EXPECT_EQ(back.fOutX, 0u);
  EXPECT_EQ(back.fInX, 0u);
}

TEST_F(SerialLine, SettingsTheLineCannotTakeAreRefusedWithTheSystemsReason) {
  Dcb dcb;
  ASSERT_TRUE(GetLineState(h_, dcb)) << LastErrorText();
  Dcb bad = dcb;
  bad.ByteSize = 3;
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(SetLineState(h_, bad));
  // The driver's own reason (Windows: invalid parameter; Wine: not supported).
  EXPECT_NE(LastError(), kErrorSuccess);
  EXPECT_FALSE(LastErrorText().empty());

  bad = dcb;
  bad.fOutX = 2;  // does not fit the DCB's one-bit field
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(SetLineState(h_, bad));
  EXPECT_EQ(LastError(), kErrorInvalidParameter);

  EXPECT_TRUE(SetLineState(h_, dcb)) << LastErrorText();
}

TEST_F(SerialLine, TimeoutsAreKeptAsGiven) {
  for (const CommTimeouts& t : {CommTimeouts{kMaxDword, kMaxDword, 1500, 250, 3000},
                                CommTimeouts{2000, 2000, 3000, 250, 1000}}) {
    ASSERT_TRUE(SetLineTimeouts(h_, t)) << LastErrorText();
    CommTimeouts back;
    ASSERT_TRUE(GetLineTimeouts(h_, back)) << LastErrorText();
    EXPECT_EQ(back, t);
  }
}

TEST_F(SerialLine, AOneByteReadOnASilentLineEndsAtItsTotal) {
  Line38400();
  ReadWithin(400);
  uint8_t b = 0;
  uint32_t count = 7;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadDevice(h_, &b, 1, &count)) << LastErrorText();
  const int64_t took = Since(start);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(took, 350);
  EXPECT_LT(took, 5000);
}

TEST_F(SerialLine, ThePrinterAnswersOverTheLine) {
  Line38400();
  ReadWithin(500);
  Write(kSwitch);
  // The loader starts within a second; ask as the download does, up to 30
  // times.
  Bytes answer;
  for (int attempt = 0; attempt < 30 && answer.empty(); ++attempt) {
    Write(kStatus);
    answer = Read(2);
  }
  EXPECT_EQ(answer, (Bytes{kAck, kStandardModel}));
}

TEST_F(SerialLine, PurgeDropsWhatHasArrived) {
  Line38400();
  ReadWithin(2000);
  Write(kStatus);  // the printer is in its loader since the test above
  ASSERT_EQ(Read(1), Bytes{kAck});
  // The second byte of the answer is there by now (the emulator answers at
  // once); the purge throws it away.
  std::this_thread::sleep_for(Ms(1000));
  ASSERT_TRUE(PurgeDevice(h_, kPurgeRxClear)) << LastErrorText();
  ReadWithin(300);
  EXPECT_TRUE(Read(1).empty());

  // The line still works.
  ReadWithin(2000);
  Write(kStatus);
  EXPECT_EQ(Read(2), (Bytes{kAck, kStandardModel}));
}

TEST_F(SerialLine, CallsOnAClosedHandleFail) {
  ASSERT_TRUE(CloseDevice(h_));
  const Handle closed = h_;
  h_ = kInvalidHandle;
  uint8_t b = 0;
  uint32_t count = 0;
  EXPECT_FALSE(ReadDevice(closed, &b, 1, &count));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(WriteDevice(closed, &b, 1, &count));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST(SerialOpen, ANameThatIsNoDeviceSaysWhy) {
  EXPECT_EQ(OpenDevice("\\\\.\\QUILLON_NO_SUCH_PORT"), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  const std::string text = LastErrorText();
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace quillon::platform
