// `mirel cat` tells every way its output falls short: a stream that is not
// there, data the volume could not give, a destination that takes no more;
// and a SOURCE that is no volume is refused without waiting on it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <csignal>
#include <future>
#include <iostream>
#include <regex>

#include "FaultyImage.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirel::test;

namespace {

bool RunShell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Where writes fail for want of space: a tiny tmpfs filled up (as root), or
// else /dev/full.
class TFullDestination {
public:
  TFullDestination() {
    const fs::path mnt = Tmp / "mnt";
    fs::create_directories(mnt);
    if (::geteuid() == 0 && RunShell("mount -t tmpfs -o size=64k tmpfs '" + mnt.string() + "'")) {
      Mount = mnt;
      Fd = ::open((mnt / "out.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      const int filler = ::open((mnt / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      const std::string block(4096, 'x');
      for (size_t n = block.size(); n > 0;)
        if (::write(filler, block.data(), n) < 0) n /= 2;
      ::close(filler);
    } else {
      Fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    }
  }
  ~TFullDestination() {
    if (Fd >= 0) ::close(Fd);
    if (!Mount.empty()) RunShell("umount '" + Mount.string() + "'");
  }
  int Fd = -1;

private:
  TTempDir Tmp;
  fs::path Mount;
};

}  // namespace

TEST(CliCat, AStreamThatIsNotThereIsASourceError) {
  TCliRun r = RunMirel({"cat", Fixture("fat16.img").string(), "photos/IMG_0001.JPG", "--stream", "extra"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("photos/IMG_0001.JPG: no stream extra"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");  // not the main data in its place
}

TEST(CliCat, AFullDestinationIsAnErrorWithItsReason) {
  TFullDestination full;
  ASSERT_GE(full.Fd, 0);
  TCliRun r = RunMirel({"cat", Fixture("fat16.img").string(), "photos/IMG_0001.JPG"}, full.Fd);
  EXPECT_EQ(r.Status, 3);
  EXPECT_NE(r.Err.find("mirel: standard output: No space left on device"), std::string::npos) << r.Err;
}

TEST(CliCat, AClosedPipeEndsQuietly) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[0]);
  // As the program itself runs: a closed pipe shows as EPIPE.
  auto* previous = std::signal(SIGPIPE, SIG_IGN);
  TCliRun r = RunMirel({"cat", Fixture("fat16.img").string(), "photos/IMG_0001.JPG"}, fds[1]);
  std::signal(SIGPIPE, previous);
  ::close(fds[1]);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err.find("standard output"), std::string::npos) << r.Err;
}

TEST(CliCat, DataTheVolumeCouldNotGiveIsNamedByItsRanges) {
  TTempDir tmp;
  const fs::path image = tmp / "disk.img";
  fs::copy_file(Fixture("fat16.img"), image);
  const std::string want = ReadWholeFile(Fixture("fat16.files") / "photos/IMG_0001.JPG");
  const size_t at = ReadWholeFile(image).find(want.substr(0, 512));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(at % 512, 0u);

  // Every byte delivered outside the named ranges is the file's own, and the
  // ranges cover what could not be read: [lostFrom, lostTo) of the file.
  auto check = [&](const std::string& source, int64_t lostFrom, int64_t lostTo) {
    TCliRun r = RunMirel({"cat", source, "photos/IMG_0001.JPG"});
    EXPECT_EQ(r.Status, 3);
    const std::regex said(R"(photos/IMG_0001\.JPG: (\d+) of 5000 bytes could not be read: ([0-9+, ]+)\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.Err, m, said)) << r.Err;
    const std::string list = m[2];
    std::vector<std::pair<int64_t, int64_t>> ranges;
    int64_t total = 0;
    const std::regex pair(R"((\d+)\+(\d+))");
    for (std::sregex_iterator it(list.begin(), list.end(), pair), end; it != end; ++it) {
      ranges.emplace_back(std::stoll((*it)[1]), std::stoll((*it)[2]));
      total += ranges.back().second;
    }
    EXPECT_EQ(std::to_string(total), m[1].str());
    auto named = [&](int64_t i) {
      for (auto [off, len] : ranges)
        if (i >= off && i < off + len) return true;
      return false;
    };
    for (int64_t i = lostFrom; i < lostTo; ++i) ASSERT_TRUE(named(i)) << "byte " << i << " not named: " << r.Err;
    for (size_t i = 0; i < r.Out.size(); ++i) {
      if (!named(static_cast<int64_t>(i))) {
        ASSERT_EQ(r.Out[i], want[i]) << "byte " << i;
      }
    }
  };

  // A sector in the middle of the file that fails with EIO.
  {
    TFaultyImage faulty(image, {{static_cast<int64_t>(at / 512) + 4, 1}});
    if (faulty.Mounted())
      check(faulty.Path(), 4 * 512, 5 * 512);
    else
      std::cerr << "no failing-sector part: " << faulty.Error << "\n";
  }
  // The image cut short inside the file.
  fs::resize_file(image, at + 1000);
  check(image.string(), 1000, 5000);
}

TEST(CliSource, AFifoOrASocketIsRefusedAtOnce) {
  TTempDir tmp;
  const fs::path fifo = tmp / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto scan = std::async(std::launch::async, [&] { return RunMirel({"scan", fifo.string()}); });
  if (scan.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // Let the blocked open go, so the test can end.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    scan.wait();
    ::close(writer);
    FAIL() << "opening the FIFO waited for a writer";
  }
  TCliRun r = scan.get();
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("pipe: not an image file or a block device"), std::string::npos) << r.Err;

  const fs::path socketPath = tmp / "sock";
  const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  r = RunMirel({"list", socketPath.string(), fifo.string()});
  ::close(sock);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("sock: not an image file or a block device"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("pipe: not an image file or a block device"), std::string::npos) << r.Err;
}
