#include "workers/EraseTarget.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "core/DiskObject.h"

namespace fs = std::filesystem;

namespace mirel {

namespace {

std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

bool Matches(const TMountEntry& m, const std::string& canonical, const struct stat& st) {
  if (S_ISBLK(st.st_mode)) {
    if (makedev(m.Major, m.Minor) == st.st_rdev) return true;
    struct stat src {};
    return !m.Source.empty() && ::stat(m.Source.c_str(), &src) == 0 && S_ISBLK(src.st_mode) &&
           src.st_rdev == st.st_rdev;
  }
  return !m.Source.empty() && m.Source[0] == '/' && Canonical(m.Source) == canonical;
}

}  // namespace

uint8_t FileSystemOfMountType(const std::string& t) {
  if (t == "vfat" || t == "msdos" || t == "fuse.fusefat") return fsFat16;
  if (t == "ntfs3" || t == "ntfs" || t == "fuse.ntfs-3g") return fsNtfs;
  if (t == "exfat" || t == "fuse.exfat") return fsExfat;
  return fsNone;
}

bool IsEraserTempName(const std::string& n) {
  if (n.size() != 12 || (n[0] != '_') || (n[1] != 'E' && n[1] != 'e')) return false;
  for (size_t i = 2; i < 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(n[i]))) return false;
  std::string ext = n.substr(8);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".BAK";
}

bool FindEraseTarget(const std::string& given, const std::vector<TMountEntry>& table, TEraseTarget& target,
                     std::string& why) {
  struct stat st {};
  if (::stat(given.c_str(), &st) != 0) {
    why = given + ": no such file, device or folder";
    return false;
  }
  const std::string canonical = Canonical(given);
  const TMountEntry* found = nullptr;
  if (S_ISDIR(st.st_mode)) {
    // Later entries stack over earlier ones at the same point.
    for (const TMountEntry& m : table)
      if (m.MountPoint == canonical) found = &m;
    if (!found) {
      why = given + " is a folder but not the mount point of a volume";
      return false;
    }
  } else {
    std::vector<dev_t> loops;
    if (S_ISREG(st.st_mode)) loops = LoopDevicesBackedBy(canonical);
    for (const TMountEntry& m : table) {
      bool viaLoop = false;
      for (dev_t d : loops) viaLoop = viaLoop || makedev(m.Major, m.Minor) == d;
      if (viaLoop || Matches(m, canonical, st)) found = &m;
    }
    if (!found) {
      why = given +
            " is not mounted; erasing works through the mounted file system: mount it read-write "
            "and run again (the mount point may be given instead)";
      return false;
    }
  }
  if (found->ReadOnly) {
    why = given + " is mounted read-only at " + found->MountPoint + "; remount it read-write to erase";
    return false;
  }
  target.MountPoint = found->MountPoint;
  target.Source = found->Source;
  target.FsType = found->FsType;
  target.FileSystem = FileSystemOfMountType(found->FsType);
  return true;
}

}  // namespace mirel
