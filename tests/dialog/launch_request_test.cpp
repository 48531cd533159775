// The dialog and quillon-flash describe the same download alike: for the
// same settings the dialog's FLASH NOW and the command line's options give
// the same request to the launch.
#include <gtest/gtest.h>

#include <ostream>

#include "cli/options.h"
#include "engine/result_codes.h"
#include "support/writer_fixture.h"

namespace quillon::app {

void PrintTo(const DownloadRequest& r, std::ostream* os) {
  *os << "{interface " << static_cast<int>(r.interface) << ", type " << static_cast<int>(r.type)
      << ", port '" << r.portName << "', image '" << r.imagePath << "', first " << r.firstSector
      << ", " << r.baudRate << ' ' << r.parityText << ' ' << r.stopBits << '}';
}

namespace {

class LaunchRequest : public testing::WriterFixture {};

TEST_F(LaunchRequest, TheDialogAndTheCommandLineAgree) {
  struct Case {
    int radio;
    const char* port;  // "" leaves the list alone
    const char* baud;
    const char* parity;
    const char* stopBits;
    const char* typeText;  // as the dialog lists it
    const char* file;
    cli::Options options;  // the same on the command line (without the image)
  };
  const auto cli = [](const char* type, const char* interface, const char* port, const char* baud,
                      const char* parity, const char* stop) {
    cli::Options o;
    o.type = type;
    o.interface = interface;
    o.port = port;
    o.baud = baud;
    o.parity = parity;
    o.stopBits = stop;
    return o;
  };
  const std::vector<Case> cases = {
      {IDC_SERIAL, "COM1", "9600", "EVEN", "2", "MAIN FIRMWARE", "a.mfw",
       cli("main", "serial", "COM1", "9600", "even", "2")},
      {IDC_SERIAL, "COM1", "38400", "NONE", "1", "US&EU FONT", "f.bin",
       cli("US&EU font", "serial", "com1", "38400", "NONE", "1")},
      {IDC_PARALLEL, "LPT1", "", "", "", "IPL FIRMWARE", "b.ipl",
       cli("ipl", "parallel", "LPT1", "4800", "odd", "2")},
      {IDC_USB, "", "", "", "", "MAIN FIRMWARE", "c.mfw", cli("main", "usb", "", "x", "x", "x")},
  };
  MakePrinter();
  MapPrinterPorts();
  ModelTable table;
  ASSERT_EQ(table.LoadModelTable(), 0);
  ASSERT_EQ(table.SelectModel(), 1);
  ASSERT_EQ(table.SplitDownloadTypes(), 1);
  for (const Case& c : cases) {
    const std::string image = WriteImage(c.file, testing::ImagePattern(40000));
    Start();
    ASSERT_TRUE(backend.Click(main, c.radio));
    if (*c.port) {
      ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string(c.port)));
    }
    if (*c.baud) {
      ASSERT_TRUE(backend.SelectListItem(main, IDC_BAUD_LIST, std::string(c.baud)));
      ASSERT_TRUE(backend.SelectListItem(main, IDC_PARITY_LIST, std::string(c.parity)));
      ASSERT_TRUE(backend.SelectListItem(main, IDC_STOP_LIST, std::string(c.stopBits)));
    }
    ChooseFile(c.typeText, image);
    const size_t boxes = backend.MessageBoxes().size();
    ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
    ASSERT_TRUE(WaitForBoxes(boxes + 1));
    EXPECT_EQ(BoxTexts().back(), "Download successfully completed!") << c.file;
    const DownloadRequest fromDialog = OnDialog([](CWriterDlg& d) { return d.request; });
    // The result box comes before the controls are enabled again.
    ASSERT_TRUE(backend.WaitFor([&] { return backend.IsControlEnabled(main, IDC_EXIT); }));
    ASSERT_TRUE(backend.Click(main, IDC_EXIT));
    EXPECT_EQ(ExitCode(), engine::kSuccess);

    cli::Options options = c.options;
    options.image = image;
    DownloadRequest fromCommandLine;
    ASSERT_EQ(cli::MakeRequest(options, table, fromCommandLine), engine::kSuccess) << c.file;
    EXPECT_EQ(fromDialog, fromCommandLine) << c.file;
    EXPECT_EQ(fromDialog.imagePath, image);
  }
}

}  // namespace
}  // namespace quillon::app
