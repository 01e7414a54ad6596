#include "core/DiskList.h"

#include <filesystem>
#include <set>
#include <stdexcept>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/Text.h"
#include "platform/BlockDevices.h"

namespace fs = std::filesystem;

namespace mirel {

TDiskList::TDiskList(const std::vector<std::string>& sources, bool withDevices) {
  FillDiskListItems(sources, withDevices);
}

TDiskList::~TDiskList() {
  for (TDiskObject* d : Items) {
    try {
      delete d;
    } catch (...) {
    }
  }
  Items.Clear();
}

void TDiskList::AddVolume(std::string name, const std::string& path, unsigned driveType) {
  // Volume names are unique, compared without case, since users type them.
  std::set<std::string> taken;
  for (TDiskObject* d : Items) taken.insert(ToLowerAscii(d->Name));
  std::string unique = name;
  for (int n = 2; taken.count(ToLowerAscii(unique)); ++n) unique = name + "~" + std::to_string(n);
  try {
    Items.Add(new TDiskObject(unique, path, driveType));
  } catch (const std::exception& e) {
    WriteDebugLog("%s: unable to create DiskObject; Disk = %s", "DiskList.FillDiskListItems", unique.c_str());
    Rejected.push_back({path, e.what()});
  }
}

void TDiskList::FillDiskListItems(const std::vector<std::string>& sources, bool withDevices) {
  std::set<std::string> seen;
  for (const std::string& src : sources) {
    std::error_code ec;
    fs::path p(src);
    bool isDevice = fs::is_block_file(p, ec);
    std::string name = p.filename().string();
    if (name.empty()) name = src;
    seen.insert(fs::weakly_canonical(p, ec).string());
    AddVolume(name, src, isDevice ? ClassifyBlockDevice(name, false, {}) : DRIVE_IMAGE);
  }
  if (!withDevices) return;
  for (const TBlockDevice& dev : EnumerateBlockDevices()) {
    std::error_code ec;
    if (seen.count(fs::weakly_canonical(dev.Path, ec).string())) continue;
    AddVolume(dev.Name, dev.Path, dev.DriveType);
  }
}

}  // namespace mirel
