// quillon-flash as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "e2e/cli_fixture.h"
#include "platform/sha256.h"

namespace quillon::cli {
namespace {

TEST_F(Cli, AFontDownloadOverAPseudoTerminal) {
  const auto flash = dir / "flash.bin";
  testing::SimProcess sim;
  const std::string pty = sim.Start({"--flash-out", flash.string()});
  ASSERT_FALSE(pty.empty());
  const std::string image = Image("fonts.bin", 70000);

  const ProcessResult r = Flash({"--type", "US&EU font", "--port", pty, image}, 60000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LastLine(r.out), "result 1: Download successfully completed!");
  // Not a terminal: one line per step.
  EXPECT_NE(r.err.find("Erasing flash sector 1 of 2...\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Download completed!\n"), std::string::npos);

  ASSERT_EQ(sim.Stop(), 0);
  std::ifstream in(flash, std::ios::binary);
  const std::vector<char> dump{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  ASSERT_EQ(dump.size(), 4390912u);
  std::ifstream img(image, std::ios::binary);
  const std::vector<char> expected{std::istreambuf_iterator<char>(img),
                                   std::istreambuf_iterator<char>()};
  const size_t sector18 = 0x10000 * 14;  // sectors 1-4 fill the first 64 KiB
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dump.begin() + sector18));
  EXPECT_EQ(static_cast<uint8_t>(dump[sector18 + expected.size()]), 0xFF);
}

TEST_F(Cli, AMalformedCommandLineGivesUsageAndNoResult) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--type", "main"}, std::vector<std::string>{"--bogus", "x.mfw"},
        std::vector<std::string>{"x.mfw"}, std::vector<std::string>{"-t", "main", "-p"},
        std::vector<std::string>{"-t", "main", "-i", "firewire", "x.mfw"}}) {
    const ProcessResult r = Flash(args);
    EXPECT_EQ(r.status, 2) << args.front();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage: quillon-flash"), std::string::npos);
  }
  const ProcessResult help = Flash({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--type"), std::string::npos);
}

TEST_F(Cli, TheSettingsAreCheckedAsTheDialogChecksThem) {
  const std::string bin = Image("firmware.bin", 100);
  ProcessResult r = Flash({"-t", "main", "-p", "COM1", bin});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out), "result 1020: Invalid binary data file!");

  r = Flash({"-t", "main", "-p", "COM21", Image("f.mfw", 10)});
  EXPECT_EQ(LastLine(r.out), "result 1013: Illegal COM port set!");

  r = Flash({"-t", "main", "-p", "COM2", "--parity", "mark", Image("g.mfw", 10)});
  EXPECT_EQ(LastLine(r.out), "result 1014: Illegal parity set!");

  r = Flash({"-t", "main", "-p", "COM2", "-b", "14400", Image("h.mfw", 10)});
  EXPECT_EQ(LastLine(r.out), "result 1015: Illegal baud rate set!");

  r = Flash({"-t", "fonts please", "-p", "COM2", Image("i.bin", 10)});
  EXPECT_EQ(LastLine(r.out), "result 1012: Unrecognized download type set!");
}

TEST_F(Cli, ThePortIsOpenedBeforeTheImageIsChecked) {
  ProcessResult r = Flash({"-t", "main", "-p", "/nonexistent/tty", (dir / "missing.mfw").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out), "result 1017: Unable to get serial port handle!");
  EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;

  r = Flash({"-t", "main", "-p", "sim", (dir / "missing.mfw").string()});
  EXPECT_EQ(LastLine(r.out), "result 1007: Unable to open file!");
}

TEST_F(Cli, AFifoNamedAsAnImageIsRefusedAtOnce) {
  const fs::path pipe = dir / "pipe.mfw";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = Flash({"-t", "main", "-p", "sim", pipe.string()}, 10000);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1) << r.err;  // not killed at the limit
  EXPECT_EQ(LastLine(r.out), "result 1007: Unable to open file!");
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(Cli, AnEmptyImageIsRefusedAndJsonSaysSo) {
  const ProcessResult r = Flash({"--json", "-t", "main", "-p", "sim", Image("empty.mfw", 0)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out),
            "{\"code\":1020,\"success\":false,\"message\":\"Invalid binary data file!\","
            "\"type\":\"MAIN FIRMWARE\",\"image\":\"" +
                (dir / "empty.mfw").string() + "\",\"port\":\"sim\"}");
}

TEST_F(Cli, APortNameMappedToTheBuiltInPrinter) {
  const auto flash = dir / "emulated.bin";
  const ProcessResult r =
      Flash({"-q", "-t", "ipl", "-p", "com3", Image("boot.ipl", 32768 + 100)}, 60000,
            {"QUILLON_COM3=sim:flash=" + flash.string() + ",restart-ms=500"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LastLine(r.out), "result 1: Download successfully completed!");
  EXPECT_EQ(r.err, "");  // quiet
  EXPECT_EQ(fs::file_size(flash), 4390912u);
}

TEST_F(Cli, AFontDownloadThroughTheParallelPort) {
  const auto flash = dir / "lpt.bin";
  const std::string image = Image("fonts.bin", 1000);
  const ProcessResult r = Flash({"--json", "-t", "font", "-i", "PARALLEL", "-p", "lpt2", image},
                                120000, {"QUILLON_LPT2=sim:flash=" + flash.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LastLine(r.out),
            "{\"code\":1,\"success\":true,\"message\":\"Download successfully completed!\","
            "\"type\":\"US&EU FONT\",\"image\":\"" +
                image + "\",\"port\":\"LPT2\"}");
  const size_t sector18 = 0x10000 * 14;
  EXPECT_EQ(DumpAt(flash, sector18, 1000), FileBytes(image));
  EXPECT_EQ(DumpAt(flash, sector18 + 1000, 1), std::vector<char>{'\xFF'});
}

TEST_F(Cli, AFontDownloadOverUsbWithThePrinterNamedByItsPath) {
  const auto flash = dir / "usb.bin";
  const std::string image = Image("fonts.bin", 1000);
  const ProcessResult r =
      Flash({"-t", "font", "-i", "usb", "-p", "sim:flash=" + flash.string(), image}, 180000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LastLine(r.out), "result 1: Download successfully completed!");
  EXPECT_NE(r.err.find("Calculating checksum\n"), std::string::npos) << r.err;
  EXPECT_EQ(DumpAt(flash, 0x10000 * 14, 1000), FileBytes(image));
}

TEST_F(Cli, PortsThatAreNotThereOnEachInterface) {
  // A parallel port whose device does not exist, and no USB printer.
  ProcessResult r = Flash({"-t", "font", "-i", "parallel", "-p", "LPT3", Image("f.bin", 10)}, 20000,
                          {"QUILLON_LPT3=" + (dir / "none").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out), "result 1034: Unable to set parallel port!");
  EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;

  r = Flash({"-t", "font", "-i", "usb", "-p", (dir / "lp9").string(), Image("f.bin", 10)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out),
            "result 1038: 1.Ensure that the printer is the default printer. 2.Check that the USB "
            "cable is plugged into the printer and the printer's interface is set to USB!");

  // The parallel port names stop at LPT10, and line settings are not checked.
  r = Flash({"-t", "font", "-i", "parallel", "-p", "LPT11", "-b", "300", Image("f.bin", 10)});
  EXPECT_EQ(LastLine(r.out), "result 1033: Invalid parallel port selection !");
}

TEST_F(Cli, CtrlCWhileThePrinterIsSwitchedCancels) {
  const auto log = dir / "log.txt";
  const ProcessResult r =
      Flash({"-t", "main", "-p", "sim:log=" + log.string(), Image("a.mfw", 70000)}, 60000, {},
            InterruptAt({"Switching printer to download..."}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out), "result 1027: Application was terminated by Cancel button!");
  std::ifstream in(log);
  const std::string transcript{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  EXPECT_EQ(transcript.find("erase"), std::string::npos) << transcript;
}

TEST_F(Cli, DuringFlashingTheFirstCtrlCOnlyWarnsAndASecondStops) {
  const ProcessResult warned = Flash({"-t", "font", "-p", "sim", Image("a.bin", 70000)}, 60000, {},
                                     InterruptAt({"Selecting flash sector 2 of 2..."}));
  EXPECT_EQ(warned.status, 0) << warned.err;
  EXPECT_EQ(LastLine(warned.out), "result 1: Download successfully completed!");
  EXPECT_NE(warned.err.find("Press Ctrl-C again within 5 s to stop anyway"), std::string::npos);

  const ProcessResult stopped =
      Flash({"-t", "font", "-p", "sim", Image("b.bin", 70000)}, 60000, {},
            InterruptAt({"Selecting flash sector 2 of 2...", "Press Ctrl-C again"}));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(LastLine(stopped.out), "result 1027: Application was terminated by Cancel button!");
  EXPECT_EQ(stopped.err.find("Download completed!"), std::string::npos);
}

// The lines of the standard error after the first one that holds `mark`.
std::vector<std::string> LinesAfter(const std::string& err, const std::string& mark) {
  std::vector<std::string> lines;
  const size_t at = err.find(mark);
  if (at == std::string::npos) return lines;
  size_t from = err.find('\n', at);
  while (from != std::string::npos && from + 1 < err.size()) {
    const size_t end = err.find('\n', from + 1);
    lines.push_back(err.substr(from + 1, end == std::string::npos ? end : end - from - 1));
    from = end;
  }
  return lines;
}

TEST_F(Cli, WhatIsWrongBeforeTheDownloadIsSaidOnStandardError) {
  const std::string fonts = Image("f.bin", 10);
  const std::string empty = Image("empty.mfw", 0);
  // Hash refusals come before the port (one that is not there) is opened.
  const std::string hash = *platform::FileSha256(fonts);
  const std::string zeros(64, '0');
  const std::string sidecar = Image("s.bin", 10);
  std::ofstream(sidecar + ".sha256") << zeros << "  s.bin\n";
  const std::vector<std::string> noPort = {"-t", "font", "-i", "parallel", "-p", "/nonexistent/lp"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), noPort.begin(), noPort.end());
    return args;
  };
  const std::string refused = "result 1044: Incorrect file selected. Peculiar code not match!";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the last line
    std::string err;  // a line of it
  };
  const std::vector<Case> cases = {
      {{"-t", "font", "-p", "sim:bogus=1", fonts},
       1,
       "result 1017: Unable to get serial port handle!",
       "quillon-flash: cannot open the built-in printer: unknown option 'bogus'\n"},
      {{"-t", "font", "-i", "usb", "-p", "sim:status=zz", fonts},
       1,
       "result 1038: 1.Ensure that the printer is the default printer. 2.Check that the USB cable "
       "is plugged into the printer and the printer's interface is set to USB!",
       "quillon-flash: cannot open the built-in printer: bad option 'status=zz': expected a hex "
       "byte\n"},
      {{"-t", "font", "-p", "sim", (dir / "gone.bin").string()},
       1,
       "result 1007: Unable to open file!",
       "quillon-flash: " + (dir / "gone.bin").string() + ": no such file\n"},
      {{"-t", "main", "-p", "sim", "--", empty},
       1,
       "result 1020: Invalid binary data file!",
       "quillon-flash: " + empty + ": the file is empty\n"},
      {{"--json", "-t", "main", "-p", "", "x.mfw"},
       2,
       R"({"code":null,"success":false,"message":"--port was given an empty name"})",
       "Usage: quillon-flash"},
      {{"-t", "main", "-i", "usb", "-p", "COM1", "x.mfw"}, 2, "", "Usage: quillon-flash"},
      {with({"--sha256", zeros, fonts}), 1, refused,
       "quillon-flash: " + fonts + ": its SHA-256 is " + hash + ", not the " + zeros +
           " that --sha256 gives: the file is not the image that was released; nothing was "
           "sent\n"},
      {with({sidecar}), 1, refused, "not the " + zeros + " that " + sidecar + ".sha256 gives"},
      {with({"--require-sha256", fonts}), 1, refused, fonts + ": no SHA-256 to check it against"},
      {{"-t", "font", "--sha256", "abc", fonts}, 2, "", "--sha256 abc is not a SHA-256"},
      // The plan checks the image as the download does, and opens no port.
      {with({"--plan", sidecar}), 1, refused, "not the " + zeros + " that " + sidecar + ".sha256"},
      {{"--plan", "-t", "main", "-p", "/nonexistent/tty", "--", empty},
       1,
       "result 1020: Invalid binary data file!",
       "quillon-flash: " + empty + ": the file is empty\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Flash(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back();
    EXPECT_EQ(LastLine(r.out), c.out) << c.args.back();
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args.back() << ": " << r.err;
  }
}

// The plan of a font download, then the download with its progress as JSON
// lines: the steps come in the order the plan's writes imply, and the time
// left starts at the plan's expected time and never grows.
TEST_F(Cli, ThePlanAndTheJsonProgressOfADownload) {
  const std::string image = Image("fonts.bin", 70000);
  const ProcessResult text = Flash({"--plan", "-t", "font", "-p", "sim", image});
  EXPECT_EQ(text.status, 0) << text.err;
  for (const char* line : {"    2. erase sector 19\n", "    4. write sector 18, 65536 bytes\n",
                           "2 sectors, 131072 bytes written, ", "Expected time: "}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << text.out;
  }
  const ProcessResult plan = Flash({"--plan", "--json", "-t", "font", "-p", "sim", image});
  const auto p = nlohmann::json::parse(plan.out);
  EXPECT_EQ(p["sectors"], nlohmann::json::array({19, 18}));
  EXPECT_EQ(p["sha256"], *platform::FileSha256(image));
  EXPECT_EQ(p["line_s"], 0.0);

  const ProcessResult run = Flash({"--progress=json", "-t", "font", "-p", "sim", image}, 60000);
  EXPECT_EQ(LastLine(run.out), "result 1: Download successfully completed!");
  std::vector<std::string> steps;
  double lastLeft = 1e9;
  for (size_t at = 0, end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1) {
    const auto line = nlohmann::json::parse(run.err.substr(at, end - at));
    const std::string status = line.at("status");
    if (steps.empty()) {
      EXPECT_EQ(line["left_s"], std::ceil(p["expected_s"].get<double>()));
    }
    if (steps.empty() || steps.back() != status) steps.push_back(status);
    EXPECT_LE(line["left_s"], lastLeft) << line;
    lastLeft = line["left_s"];
  }
  EXPECT_EQ(steps,
            (std::vector<std::string>{
                "Switching printer to download...", "Checking communication line status...",
                "Erasing flash sector 1 of 2...", "Erasing flash sector 2 of 2...",
                "Selecting flash sector 2 of 2...", "Downloading data to flash sector 2 of 2...",
                "Calculating checksum", "Selecting flash sector 1 of 2...",
                "Downloading data to flash sector 1 of 2...", "Calculating checksum",
                "Reseting printer...", "Download completed!"}));
}

TEST_F(Cli, EveryRunGoesToTheHistoryWhichHistoryShows) {
  const std::vector<std::string> env = {"QUILLON_HISTORY=" + (dir / "h.jsonl").string()};
  const std::string zeros(64, '0');
  Flash({"-q", "-t", "font", "-p", "/nonexistent/tty", Image("f.bin", 10)}, 20000, env);
  Flash({"-q", "-t", "font", "--sha256", zeros, Image("g.bin", 10)}, 20000, env);
  const ProcessResult table = Flash({"--history"}, 20000, env);
  EXPECT_EQ(table.status, 0) << table.err;
  std::vector<std::string> rows;
  for (size_t at = 0, end; (end = table.out.find('\n', at)) != std::string::npos; at = end + 1) {
    rows.push_back(table.out.substr(at, end - at));
  }
  ASSERT_EQ(rows.size(), 3u) << table.out;
  EXPECT_EQ(rows[0].rfind("START (UTC)", 0), 0u);
  for (const auto& [row, part] :
       {std::pair{1, " f.bin "}, {1, " 1017 "}, {2, " g.bin "}, {2, " 1044 "}, {2, " nothing"}}) {
    EXPECT_NE(rows[row].find(part), std::string::npos) << rows[row];
  }
  const ProcessResult json = Flash({"--history", "1", "--json"}, 20000, env);
  EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << json.out;  // one record
  EXPECT_NE(json.out.find(R"("code":1044,)"), std::string::npos) << json.out;

  // A history that cannot be written: a warning, and the same result.
  const ProcessResult r = Flash({"-q", "-t", "font", "-p", "/nonexistent/tty", Image("h.bin", 10)},
                                20000, {"QUILLON_HISTORY=" + (dir / "f.bin" / "h.jsonl").string()});
  EXPECT_EQ(LastLine(r.out), "result 1017: Unable to get serial port handle!");
  EXPECT_NE(r.err.find("quillon-flash: the download history cannot be written: "),
            std::string::npos)
      << r.err;
}

TEST_F(Cli, AFailureAfterTheFirstEraseSaysThePrinterNeedsARestart) {
  const ProcessResult r =
      Flash({"--json", "-q", "-t", "font", "-p", "sim:nak=erase:2", Image("a.bin", 70000)}, 60000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("\n"), r.out.size() - 1) << r.out;  // one line, the result
  EXPECT_NE(r.out.find(R"("code":1001)"), std::string::npos) << r.out;
  EXPECT_EQ(r.err,
            "quillon-flash: the printer may still be in its flash loader and its first sector is "
            "erased: switch it off and on, then flash again\n");
}

TEST_F(Cli, AStopAfterTheDownloadCompletedSaysSoAndShowsNoMoreProgress) {
  const auto flash = dir / "no-such-folder" / "flash.bin";
  const ProcessResult r =
      Flash({"-t", "font", "-p", "sim:flash=" + flash.string(), Image("a.bin", 70000)}, 60000, {},
            InterruptAt({"Download completed!", "Press Ctrl-C again"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(LastLine(r.out), "result 1: Download successfully completed!");
  EXPECT_EQ(r.err.find("incomplete"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(flash));
  // The flash file is written each time the port closes (first when it is
  // reopened after the switch); its problem is told once.
  const std::string problem = "quillon-flash: cannot write the flash file " + flash.string() +
                              ": No such file or directory\n";
  const size_t told = r.err.find(problem);
  EXPECT_NE(told, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(problem, told + 1), std::string::npos) << r.err;
  EXPECT_EQ(LinesAfter(r.err, "stopping the download: the download had already completed"),
            std::vector<std::string>{})
      << r.err;
}

TEST_F(Cli, AStopOverTheParallelPortBeforeTheFirstEraseSaysNothingWasErased) {
  const auto log = dir / "log.txt";
  const ProcessResult r =
      Flash({"-t", "font", "-i", "parallel", "-p", "sim:log=" + log.string(), Image("a.bin", 1000)},
            60000, {}, InterruptAt({"Switching printer to download...", "Press Ctrl-C again"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.out), "result 1027: Application was terminated by Cancel button!");
  const std::vector<std::string> after =
      LinesAfter(r.err, "stopping the download: nothing has been erased");
  ASSERT_NE(r.err.find("stopping the download: nothing has been erased"), std::string::npos)
      << r.err;
  for (const std::string& line : after) EXPECT_EQ(line.rfind("quillon-flash: ", 0), 0u) << r.err;
  std::ifstream in(log);
  const std::string transcript{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  EXPECT_EQ(transcript.find("erase"), std::string::npos) << transcript;
}

}  // namespace
}  // namespace quillon::cli
