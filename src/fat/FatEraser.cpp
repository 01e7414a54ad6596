#include "fat/FatEraser.h"

#include <dirent.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <cstdint>
#include <vector>

#include "core/UpdateView.h"

namespace mirel {

namespace {

// A folder of FAT holds at most 65536 entries; deeper trees than this are not
// made by any FAT driver.
constexpr int kMaxFilesPerFolder = 65536;
constexpr int kMaxFolderDepth = 128;

bool IsFolder(const std::string& path, dev_t device) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == device;
}

}  // namespace

void TFatEraser::HideFile(int fd) {
  uint32_t attr = 0;
  if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attr) != 0) return;
  attr |= ATTR_HIDDEN;
  ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attr);
}

void TFatEraser::FillFolderEntries(const std::string& folder, int depth) {
  int tries = 3, made = 0;
  while (tries != 0 && made < kMaxFilesPerFolder && !IsCancelled()) {
    if (OpenTempFile(folder, true, false) >= 0) {
      tries = 3;
      ++made;
    } else {
      --tries;
    }
  }
  if (depth >= kMaxFolderDepth) return;
  struct stat self {};
  if (::stat(folder.c_str(), &self) != 0) return;
  std::vector<std::string> subfolders;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      if (IsCancelled()) break;
      std::string name = e->d_name;
      if (name != "." && name != ".." && IsFolder(folder + name, self.st_dev)) subfolders.push_back(name);
    }
    ::closedir(dir);
  }
  for (const std::string& name : subfolders) {
    if (IsCancelled()) break;
    FillFolderEntries(folder + name + "/", depth + 1);
  }
}

bool TFatEraser::Erase() {
  RemoveLeftovers();
  bool result = TDiskEraser::Erase();
  if (result) FillFolderEntries(Root);
  CloseFileHandles();
  UpdatingThread().EraseDone(Disk);
  return result;
}

}  // namespace mirel
