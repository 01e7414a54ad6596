#include "platform/Mounts.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace mirel {

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool UnderMount(const std::string& path, const std::string& mp) {
  if (mp == "/") return true;
  return path.compare(0, mp.size(), mp) == 0 && (path.size() == mp.size() || path[mp.size()] == '/');
}

}  // namespace

std::vector<TMountEntry> ReadMountTable(const std::string& mountinfo) {
  std::vector<TMountEntry> table;
  std::ifstream in(mountinfo);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string id, parent, devno, root, mp, opts;
    if (!(f >> id >> parent >> devno >> root >> mp >> opts)) continue;
    std::string tok;
    while (f >> tok && tok != "-") {
    }
    TMountEntry e;
    if (!(f >> e.FsType >> e.Source)) continue;
    e.MountPoint = Unescape(mp);
    e.Source = Unescape(e.Source);
    if (auto colon = devno.find(':'); colon != std::string::npos) {
      e.Major = static_cast<unsigned>(std::stoul(devno.substr(0, colon)));
      e.Minor = static_cast<unsigned>(std::stoul(devno.substr(colon + 1)));
    }
    e.ReadOnly = ("," + opts + ",").find(",ro,") != std::string::npos;
    table.push_back(e);
  }
  return table;
}

TMountEntry MountOf(const std::string& path, const std::vector<TMountEntry>& table) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  std::string s = p.string();
  TMountEntry best;
  size_t bestLen = 0;
  bool found = false;
  // Later entries stack over earlier ones at the same point.
  for (const TMountEntry& e : table) {
    if (UnderMount(s, e.MountPoint) && (!found || e.MountPoint.size() >= bestLen)) {
      best = e;
      bestLen = e.MountPoint.size();
      found = true;
    }
  }
  return best;
}

namespace {

// FUSE mounts do not say which driver serves them; the mounted source's boot
// sector does (an ntfs-3g mount of an image shows as plain "fuse").
bool SourceIsNtfs(const std::string& source) {
  std::ifstream in(source, std::ios::binary);
  char boot[11] = {};
  return in.read(boot, sizeof boot) && std::string(boot + 3, 8) == "NTFS    ";
}

}  // namespace

std::string GetVolumeFileSystem(const std::string& path) {
  TMountEntry m = MountOf(path, ReadMountTable());
  if (m.FsType.empty()) return "Unknown";
  if (m.FsType == "ntfs3" || m.FsType == "ntfs") return "NTFS";
  if ((m.FsType == "fuseblk" || m.FsType == "fuse") && SourceIsNtfs(m.Source)) return "NTFS";
  if (m.FsType == "vfat" || m.FsType == "msdos") return "FAT";
  return m.FsType;
}

bool IsOnDevice(const std::string& path, const std::string& device) {
  struct stat dev {}, target {};
  if (::stat(device.c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode)) return false;
  if (::stat(path.c_str(), &target) != 0) {
    // A destination that does not exist yet lies where its nearest existing folder lies.
    fs::path p = fs::absolute(path);
    while (p.has_parent_path() && p != p.parent_path() && ::stat(p.c_str(), &target) != 0) p = p.parent_path();
  }
  // FUSE mounts (ntfs-3g) report an anonymous device; the mount table names the source.
  TMountEntry m = MountOf(path, ReadMountTable());
  struct stat src {};
  dev_t mounted = target.st_dev;
  if (!m.Source.empty() && ::stat(m.Source.c_str(), &src) == 0 && S_ISBLK(src.st_mode)) mounted = src.st_rdev;
  if (mounted == dev.st_rdev) return true;
  // A partition of the scanned whole disk: sysfs links the partition under its disk.
  std::error_code ec;
  fs::path part = fs::canonical("/sys/dev/block/" + std::to_string(major(mounted)) + ":" + std::to_string(minor(mounted)), ec);
  fs::path disk = fs::canonical("/sys/dev/block/" + std::to_string(major(dev.st_rdev)) + ":" + std::to_string(minor(dev.st_rdev)), ec);
  return !part.empty() && !disk.empty() && part.parent_path() == disk;
}

}  // namespace mirel
