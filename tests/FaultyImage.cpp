#include "FaultyImage.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace mirel::test {

namespace {

bool Served(const std::filesystem::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TFaultyImage::TFaultyImage(const std::filesystem::path& image, std::vector<TSectorRange> bad) {
  char tmpl[] = "/tmp/mirel-faultfs-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    Error = "cannot make a mount point";
    return;
  }
  MountDir = tmpl;
  std::vector<std::string> args = {MIREL_FAULTFS, image.string(), MountDir.string()};
  for (const TSectorRange& r : bad) args.push_back(std::to_string(r.First) + "+" + std::to_string(r.Count));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Server = ::fork();
  if (Server == 0) {
    // A test that aborts must not leave the server behind holding the test
    // runner's output pipe open: the runner would wait on it for ever.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  for (int i = 0; i < 500 && !Served(MountDir / "image"); ++i) {
    int status = 0;
    if (Server > 0 && ::waitpid(Server, &status, WNOHANG) == Server) {
      Server = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Served(MountDir / "image")) Error = "the FUSE server did not come up (is /dev/fuse there?)";
}

TFaultyImage::~TFaultyImage() {
  if (Server > 0) {
    const std::string cmd = "fusermount3 -u " + MountDir.string() + " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) ::kill(Server, SIGTERM);
    int status = 0;
    ::waitpid(Server, &status, 0);
  }
  if (!MountDir.empty()) ::rmdir(MountDir.c_str());
}

}  // namespace mirel::test
