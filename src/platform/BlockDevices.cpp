#include "platform/BlockDevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace mirel {

const char* DriveTypeName(unsigned type) {
  switch (type) {
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOTE: return "network";
    case DRIVE_CDROM: return "optical";
    case DRIVE_RAMDISK: return "ramdisk";
    case DRIVE_IMAGE: return "image";
    default: return "unknown";
  }
}

namespace {

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

unsigned ClassifyBlockDevice(const std::string& name, bool removable, const std::string& devicePath) {
  if (StartsWith(name, "sr")) return DRIVE_CDROM;
  if (StartsWith(name, "nbd") || StartsWith(name, "rbd")) return DRIVE_REMOTE;
  if (StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "loop")) return DRIVE_RAMDISK;
  if (removable || StartsWith(name, "mmcblk") || devicePath.find("/usb") != std::string::npos) return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

std::vector<TBlockDevice> EnumerateBlockDevices(const std::string& sysRoot) {
  std::vector<TBlockDevice> out;
  std::error_code ec;
  fs::path classDir = fs::path(sysRoot) / "class" / "block";
  // disk name -> whether any partition of it was seen
  std::map<std::string, bool> disksWithParts;
  struct Candidate {
    std::string Name, Disk;
    bool IsPartition;
    fs::path Dir;
  };
  std::vector<Candidate> all;
  for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    fs::path dir = fs::canonical(it->path(), ec);
    if (ec) {
      ec.clear();
      dir = it->path();
    }
    bool isPart = fs::exists(dir / "partition");
    std::string disk = isPart ? dir.parent_path().filename().string() : name;
    if (isPart) disksWithParts[disk] = true;
    all.push_back({name, disk, isPart, dir});
  }
  for (const auto& c : all) {
    if (!c.IsPartition && disksWithParts.count(c.Name)) continue;
    std::string size = ReadLine(c.Dir / "size");
    if (size.empty() || size == "0") continue;
    fs::path diskDir = c.IsPartition ? c.Dir.parent_path() : c.Dir;
    bool removable = ReadLine(diskDir / "removable") == "1";
    unsigned type = ClassifyBlockDevice(c.Name, removable, diskDir.string());
    if (type == DRIVE_CDROM || type == DRIVE_REMOTE) continue;
    out.push_back({c.Name, "/dev/" + c.Name, type});
  }
  std::sort(out.begin(), out.end(), [](const TBlockDevice& a, const TBlockDevice& b) { return a.Name < b.Name; });
  return out;
}

}  // namespace mirel
