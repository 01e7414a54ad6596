#include "exfat/ExfatEraser.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

#include "core/UpdateView.h"

namespace mirel {

namespace {

// A folder holds at most 256 MiB of 32-byte slots, three to an empty file.
constexpr int kMaxFilesPerFolder = (256 << 20) / 96;
constexpr int kMaxFolderDepth = 128;

bool IsSubfolder(const std::string& path, dev_t device) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == device;
}

}  // namespace

void TExfatEraser::FillFolderSets(const std::string& folder, int depth) {
  // With the free space taken, a folder cannot grow: files are created until
  // its own free slots run out.
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
      if (name != "." && name != ".." && IsSubfolder(folder + name, self.st_dev)) subfolders.push_back(name);
    }
    ::closedir(dir);
  }
  for (const std::string& name : subfolders) {
    if (IsCancelled()) break;
    FillFolderSets(folder + name + "/", depth + 1);
  }
}

bool TExfatEraser::Erase() {
  RemoveLeftovers();
  const bool result = TDiskEraser::Erase();
  if (result) FillFolderSets(Root);
  CloseFileHandles();
  UpdatingThread().EraseDone(Disk);
  return result;
}

}  // namespace mirel
