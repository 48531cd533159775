#include "app/validate_settings.h"

#include <gtest/gtest.h>

#include "engine/result_codes.h"

namespace quillon::app {
namespace {

class Validate : public ::testing::Test {
 protected:
  ModelTable table;
  DialogSettings in{
      Interface::kSerial, "COM1", "MAIN FIRMWARE", "firmware.mfw", "NONE", "38400", "1"};
  ValidatedSettings out;

  void SetUp() override {
    table.LoadModelTable();
    table.SelectModel();
    table.SplitDownloadTypes();
  }
  int Check() { return ValidateSettings(in, table, out); }
};

TEST_F(Validate, AGoodSerialSetting) {
  in.portText = "com12";
  in.parityText = "even";
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.portName, "COM12");
  EXPECT_EQ(out.parityText, "EVEN");
  EXPECT_EQ(out.baudRate, 38400);
  EXPECT_EQ(out.stopBits, 1);
  EXPECT_EQ(out.firstSector, 6);
  EXPECT_EQ(out.mainProg, 1);
  EXPECT_EQ(out.iplProg + out.fontProg, 0);
  EXPECT_EQ(out.interface, Interface::kSerial);
}

TEST_F(Validate, DownloadTypesSetTheirFlagAndFirstSector) {
  in.typeText = "ipl firmware";
  in.fileText = "boot.ipl";
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.firstSector, 4);
  EXPECT_EQ(out.iplProg, 1);
  EXPECT_EQ(out.mainProg + out.fontProg, 0);
  in.typeText = "US&EU FONT";
  in.fileText = "fonts.bin";
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.firstSector, 18);
  EXPECT_EQ(out.fontProg, 1);
  EXPECT_EQ(out.mainProg + out.iplProg, 0);
  in.typeText = "FONTS";
  EXPECT_EQ(Check(), engine::kUnknownDownloadType);
}

TEST_F(Validate, FileNames) {
  struct Case {
    const char* type;
    const char* file;
    int code;
  };
  for (const Case c :
       {Case{"MAIN FIRMWARE", "firmware.mfw", 1}, Case{"MAIN FIRMWARE", "FIRMWARE.MFW", 1},
        Case{"MAIN FIRMWARE", "firmware.bin", 1020}, Case{"MAIN FIRMWARE", "BINARY FILE", 1020},
        Case{"MAIN FIRMWARE", "a.b.mfw", 1020}, Case{"MAIN FIRMWARE", "x.mfwx", 1},
        Case{"MAIN FIRMWARE", "x.mf", 1020}, Case{"MAIN FIRMWARE", "", 1020},
        Case{"IPL FIRMWARE", "x.mfw", 1020}, Case{"US&EU FONT", "f.BIN", 1}}) {
    in.typeText = c.type;
    in.fileText = c.file;
    EXPECT_EQ(Check(), c.code) << c.type << " / " << c.file;
  }
}

TEST_F(Validate, SerialPortAndLineSettings) {
  struct Case {
    const char* port;
    const char* parity;
    const char* baud;
    const char* stop;
    int code;
  };
  for (const Case c :
       {Case{"", "NONE", "38400", "1", 1013}, Case{"COM21", "NONE", "38400", "1", 1013},
        Case{"COM0", "NONE", "38400", "1", 1013}, Case{"LPT1", "NONE", "38400", "1", 1013},
        Case{"COM20", "MARK", "38400", "1", 1014}, Case{"COM2", "odd", "38400", "1", 1},
        Case{"COM2", "NONE", "14400", "1", 1015}, Case{"COM2", "NONE", "1200", "1", 1},
        Case{"COM2", "NONE", "115200", "2", 1}, Case{"COM2", "NONE", "9600", "1.5", 1016},
        Case{"COM2", "NONE", "9600", "", 1016}}) {
    in.portText = c.port;
    in.parityText = c.parity;
    in.baudText = c.baud;
    in.stopBitsText = c.stop;
    EXPECT_EQ(Check(), c.code) << c.port << ' ' << c.parity << ' ' << c.baud << ' ' << c.stop;
  }
}

TEST_F(Validate, ChecksComeInTheirOrder) {
  in = {Interface::kSerial, "COM99", "NOTHING", "x", "X", "1", "9"};
  EXPECT_EQ(Check(), engine::kIllegalComPort);
  in.portText = "COM1";
  EXPECT_EQ(Check(), engine::kUnknownDownloadType);
  in.typeText = "MAIN FIRMWARE";
  EXPECT_EQ(Check(), engine::kInvalidImage);
  in.fileText = "x.mfw";
  EXPECT_EQ(Check(), engine::kIllegalParity);
  in.parityText = "NONE";
  EXPECT_EQ(Check(), engine::kIllegalBaud);
  in.baudText = "9600";
  EXPECT_EQ(Check(), engine::kIllegalStopBits);
}

TEST_F(Validate, ParallelChecksItsPortButNoLineSettings) {
  in = {Interface::kParallel, "lpt3", "MAIN FIRMWARE", "f.mfw", "X", "X", "X"};
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.portName, "LPT3");
  EXPECT_EQ(out.interface, Interface::kParallel);
  in.portText = "LPT11";
  EXPECT_EQ(Check(), engine::kIllegalParallelPort);
  in.portText = "COM1";
  EXPECT_EQ(Check(), engine::kIllegalParallelPort);
}

TEST_F(Validate, UsbNeedsNoPort) {
  in = {Interface::kUsb, "", "MAIN FIRMWARE", "f.mfw", "", "", ""};
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.interface, Interface::kUsb);
}

TEST_F(Validate, ADevicePathStandsForThePortOnTheCommandLine) {
  in.portText = "/dev/pts/7";
  EXPECT_EQ(Check(), engine::kIllegalComPort);
  in.portIsDevice = true;
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(out.portName, "/dev/pts/7");
}

}  // namespace
}  // namespace quillon::app
