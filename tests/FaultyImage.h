#pragma once
// An image served through a FUSE file system whose reads of chosen sectors
// fail with EIO: real read errors for the engine, as a disk with bad sectors
// gives them.
#include <sys/types.h>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mirel::test {

struct TSectorRange {
  int64_t First = 0;  // 512-byte sectors
  int64_t Count = 1;
};

class TFaultyImage {
public:
  TFaultyImage(const std::filesystem::path& image, std::vector<TSectorRange> bad);
  ~TFaultyImage();
  TFaultyImage(const TFaultyImage&) = delete;
  TFaultyImage& operator=(const TFaultyImage&) = delete;

  // Error says why the mount failed, empty when it worked.
  bool Mounted() const { return Error.empty(); }
  // The image as served, with its failing sectors.
  std::string Path() const { return (MountDir / "image").string(); }
  std::string Error;

private:
  std::filesystem::path MountDir;
  pid_t Server = -1;
};

}  // namespace mirel::test
