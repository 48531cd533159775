// Images that are no regular file, behind an image's name: the check and the
// procedure refuse them at once, without an open that waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

namespace fs = std::filesystem;

class NoRegularFile : public testing::SerialDownload {
 protected:
  // Runs `call` and gives what it returned. Should it still run after a
  // second, the FIFO at `fifo` (if any) is opened for writing, which ends an
  // open waiting on it, and the test fails.
  int WithinASecond(const std::function<int()>& call, const fs::path& fifo) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread watchdog([&] {
      if (finished.wait_for(std::chrono::seconds(1)) == std::future_status::ready) return;
      ADD_FAILURE() << "still opening after a second";
      while (finished.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (fifo.empty()) continue;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    });
    const int code = call();
    done.set_value();
    watchdog.join();
    return code;
  }
};

TEST_F(NoRegularFile, AFifoASocketOrADeviceIsRefusedAt1007WithoutWaiting) {
  struct Case {
    const char* name;
    std::function<bool(const fs::path&)> make;
    bool isFifo;
  };
  int listener = -1;
  const Case cases[] = {
      {"a FIFO", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, true},
      {"a Unix socket",
       [&listener](const fs::path& p) {
         listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         if (listener < 0 || p.string().size() >= sizeof address.sun_path) return false;
         std::strcpy(address.sun_path, p.c_str());
         return ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
                    0 &&
                ::listen(listener, 1) == 0;
       },
       false},
      {"a link to /dev/zero",
       [](const fs::path& p) {
         std::error_code error;
         fs::create_symlink("/dev/zero", p, error);
         return !error;
       },
       false},
  };
  MakePrinter();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path image = dir / (std::string(c.isFifo ? "pipe" : "other") + ".mfw");
    fs::remove(image);
    ASSERT_TRUE(c.make(image)) << std::strerror(errno);
    const fs::path fifo = c.isFifo ? image : fs::path();

    ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
    EXPECT_EQ(WithinASecond([&] { return download->CheckImageFile(image.string()); }, fifo),
              kUnableToOpenFile);
    EXPECT_TRUE(emulated.line->Closed());  // the check closes the port it refuses for
    EXPECT_EQ(WithinASecond(
                  [&] {
                    return download->DownloadSerial(image.string(), 6, 1, 0, flashSectorSizes,
                                                    {"sim"});
                  },
                  fifo),
              kUnableToOpenFile);
    download->EndDownload();
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(clock.NowMs(), 0);  // nothing waited on the clock either
  }
  if (listener >= 0) ::close(listener);
}

}  // namespace
}  // namespace quillon::engine
