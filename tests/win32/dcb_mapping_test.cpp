// The Win32 backend's mapping of the seam's line settings, time-outs and
// purge flags onto the Win32 structures, field by field.

#include <gtest/gtest.h>

#include "platform/win32/serial_win32.h"

namespace quillon::platform::win32 {
namespace {

// A Dcb in which every field holds a value of its own, so that a field copied
// into the wrong place shows.
Dcb Distinct() {
  Dcb d;
  d.DCBlength = sizeof(DCB);
  d.BaudRate = 57600;
  d.fBinary = 1;
  d.fParity = 1;
  d.fOutxCtsFlow = 0;
  d.fOutxDsrFlow = 1;
  d.fDtrControl = kDtrControlHandshake;
  d.fDsrSensitivity = 1;
  d.fTXContinueOnXoff = 0;
  d.fOutX = 1;
  d.fInX = 0;
  d.fErrorChar = 1;
  d.fNull = 0;
  d.fRtsControl = kRtsControlToggle;
  d.fAbortOnError = 1;
  d.XonLim = 1234;
  d.XoffLim = 4321;
  d.ByteSize = 7;
  d.Parity = kMarkParity;
  d.StopBits = kOne5StopBits;
  d.XonChar = 0x21;
  d.XoffChar = 0x22;
  d.ErrorChar = 0x23;
  d.EofChar = 0x24;
  d.EvtChar = 0x25;
  return d;
}

TEST(DcbMapping, TheSeamsValuesAreTheWin32Ones) {
  EXPECT_EQ(Dcb{}.DCBlength, sizeof(DCB));
  EXPECT_EQ(kNoParity, NOPARITY);
  EXPECT_EQ(kOddParity, ODDPARITY);
  EXPECT_EQ(kEvenParity, EVENPARITY);
  EXPECT_EQ(kMarkParity, MARKPARITY);
  EXPECT_EQ(kSpaceParity, SPACEPARITY);
  EXPECT_EQ(kOneStopBit, ONESTOPBIT);
  EXPECT_EQ(kOne5StopBits, ONE5STOPBITS);
  EXPECT_EQ(kTwoStopBits, TWOSTOPBITS);
  EXPECT_EQ(kDtrControlDisable, DTR_CONTROL_DISABLE);
  EXPECT_EQ(kDtrControlEnable, DTR_CONTROL_ENABLE);
  EXPECT_EQ(kDtrControlHandshake, DTR_CONTROL_HANDSHAKE);
  EXPECT_EQ(kRtsControlDisable, RTS_CONTROL_DISABLE);
  EXPECT_EQ(kRtsControlEnable, RTS_CONTROL_ENABLE);
  EXPECT_EQ(kRtsControlHandshake, RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(kRtsControlToggle, RTS_CONTROL_TOGGLE);
  EXPECT_EQ(kMaxDword, MAXDWORD);
}

TEST(DcbMapping, EveryFieldGoesAcross) {
  const Dcb d = Distinct();
  DCB w{};
  ASSERT_TRUE(ToWin32Dcb(d, w));
  EXPECT_EQ(w.DCBlength, sizeof(DCB));
  EXPECT_EQ(w.BaudRate, 57600u);
  EXPECT_EQ(w.fBinary, 1u);
  EXPECT_EQ(w.fParity, 1u);
  EXPECT_EQ(w.fOutxCtsFlow, 0u);
  EXPECT_EQ(w.fOutxDsrFlow, 1u);
  EXPECT_EQ(w.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(w.fDsrSensitivity, 1u);
  EXPECT_EQ(w.fTXContinueOnXoff, 0u);
  EXPECT_EQ(w.fOutX, 1u);
  EXPECT_EQ(w.fInX, 0u);
  EXPECT_EQ(w.fErrorChar, 1u);
  EXPECT_EQ(w.fNull, 0u);
  EXPECT_EQ(w.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
  EXPECT_EQ(w.fAbortOnError, 1u);
  EXPECT_EQ(w.fDummy2, 0u);
  EXPECT_EQ(w.wReserved, 0);
  EXPECT_EQ(w.XonLim, 1234);
  EXPECT_EQ(w.XoffLim, 4321);
  EXPECT_EQ(w.ByteSize, 7);
  EXPECT_EQ(w.Parity, MARKPARITY);
  EXPECT_EQ(w.StopBits, ONE5STOPBITS);
  EXPECT_EQ(w.XonChar, 0x21);
  EXPECT_EQ(w.XoffChar, 0x22);
  EXPECT_EQ(w.ErrorChar, 0x23);
  EXPECT_EQ(w.EofChar, 0x24);
  EXPECT_EQ(w.EvtChar, 0x25);
  EXPECT_EQ(w.wReserved1, 0);

  Dcb back;
  FromWin32Dcb(w, back);
  EXPECT_EQ(back, d);
}

TEST(DcbMapping, TheOppositeFlagsGoAcrossToo) {
  Dcb d = Distinct();
  for (uint32_t Dcb::*flag : {&Dcb::fBinary, &Dcb::fParity, &Dcb::fOutxCtsFlow, &Dcb::fOutxDsrFlow,
                              &Dcb::fDsrSensitivity, &Dcb::fTXContinueOnXoff, &Dcb::fOutX,
                              &Dcb::fInX, &Dcb::fErrorChar, &Dcb::fNull, &Dcb::fAbortOnError}) {
    d.*flag = 1 - d.*flag;
  }
  d.fDtrControl = kDtrControlDisable;
  d.fRtsControl = kRtsControlHandshake;
  DCB w{};
  ASSERT_TRUE(ToWin32Dcb(d, w));
  Dcb back;
  FromWin32Dcb(w, back);
  EXPECT_EQ(back, d);
}

TEST(DcbMapping, AValueTooWideForItsBitFieldIsRefused) {
  DCB w{};
  Dcb d = Distinct();
  d.fOutX = 2;
  EXPECT_FALSE(ToWin32Dcb(d, w));
  d = Distinct();
  d.fDtrControl = 4;
  EXPECT_FALSE(ToWin32Dcb(d, w));
  d = Distinct();
  d.fRtsControl = 4;
  EXPECT_FALSE(ToWin32Dcb(d, w));
  d = Distinct();
  d.fAbortOnError = 0xFFFFFFFF;
  EXPECT_FALSE(ToWin32Dcb(d, w));
}

TEST(TimeoutMapping, TheFiveFieldsGoAcrossAsTheyAre) {
  const CommTimeouts t{kMaxDword, 2, 1500, 250, 3000};
  COMMTIMEOUTS w{};
  ToWin32Timeouts(t, w);
  EXPECT_EQ(w.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(w.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(w.ReadTotalTimeoutConstant, 1500u);
  EXPECT_EQ(w.WriteTotalTimeoutMultiplier, 250u);
  EXPECT_EQ(w.WriteTotalTimeoutConstant, 3000u);
  CommTimeouts back;
  FromWin32Timeouts(w, back);
  EXPECT_EQ(back, t);
}

TEST(PurgeMapping, EachFlagIsItsWin32Flag) {
  EXPECT_EQ(ToWin32PurgeFlags(kPurgeTxAbort), static_cast<uint32_t>(PURGE_TXABORT));
  EXPECT_EQ(ToWin32PurgeFlags(kPurgeRxAbort), static_cast<uint32_t>(PURGE_RXABORT));
  EXPECT_EQ(ToWin32PurgeFlags(kPurgeTxClear), static_cast<uint32_t>(PURGE_TXCLEAR));
  EXPECT_EQ(ToWin32PurgeFlags(kPurgeRxClear), static_cast<uint32_t>(PURGE_RXCLEAR));
  EXPECT_EQ(ToWin32PurgeFlags(kPurgeRxClear | kPurgeTxClear),
            static_cast<uint32_t>(PURGE_RXCLEAR | PURGE_TXCLEAR));
  EXPECT_EQ(ToWin32PurgeFlags(0), 0u);
}

}  // namespace
}  // namespace quillon::platform::win32
