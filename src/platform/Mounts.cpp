#include "platform/Mounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::vector<dev_t> LoopDevicesBackedBy(const std::string& image) {
  std::vector<dev_t> found;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator("/sys/block", ec)) {
    if (e.path().filename().string().rfind("loop", 0) != 0) continue;
    std::ifstream backing(e.path() / "loop" / "backing_file");
    std::string file;
    if (!std::getline(backing, file) || fs::weakly_canonical(file, ec).string() != image) continue;
    std::ifstream devFile(e.path() / "dev");
    unsigned maj = 0, min = 0;
    char colon = 0;
    if (devFile >> maj >> colon >> min) found.push_back(makedev(maj, min));
  }
  return found;
}

namespace {

// Whether dev is disk itself or one of its partitions (sysfs lists a
// partition inside its disk's folder).
bool IsDeviceOrPartitionOf(dev_t dev, dev_t disk) {
  if (dev == disk) return true;
  auto sysfs = [](dev_t d) {
    std::error_code ec;
    return fs::canonical("/sys/dev/block/" + std::to_string(major(d)) + ":" + std::to_string(minor(d)), ec);
  };
  const fs::path part = sysfs(dev), whole = sysfs(disk);
  return !part.empty() && !whole.empty() && part.parent_path() == whole;
}

}  // namespace

std::optional<TMountEntry> MountFromSource(const std::string& path, const std::string& source,
                                           const std::vector<TMountEntry>& table) {
  std::error_code ec;
  fs::path at = fs::absolute(path, ec);
  struct stat target {};
  while (::stat(at.c_str(), &target) != 0) {
    if (!at.has_parent_path() || at == at.parent_path()) return std::nullopt;
    at = at.parent_path();
  }
  struct stat src {};
  if (::stat(source.c_str(), &src) != 0) return std::nullopt;
  const std::string canonicalSource = fs::weakly_canonical(source, ec).string();
  std::vector<dev_t> devices;
  if (S_ISBLK(src.st_mode))
    devices.push_back(src.st_rdev);
  else if (S_ISREG(src.st_mode))
    devices = LoopDevicesBackedBy(canonicalSource);

  const TMountEntry m = MountOf(at.string(), table);
  // FUSE mounts report an anonymous device; their source field names what
  // they serve (ntfs-3g shows the device or the image file).
  std::vector<dev_t> mounted{target.st_dev};
  struct stat named {};
  if (!m.Source.empty() && m.Source[0] == '/' && ::stat(m.Source.c_str(), &named) == 0) {
    if (S_ISBLK(named.st_mode)) mounted.push_back(named.st_rdev);
    if (fs::weakly_canonical(m.Source, ec).string() == canonicalSource) return m;
  }
  for (dev_t d : mounted)
    for (dev_t s : devices)
      if (IsDeviceOrPartitionOf(d, s)) return m;
  return std::nullopt;
}

}  // namespace mirel
