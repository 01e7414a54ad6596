#include "core/DiskList.h"

#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/Text.h"
#include "platform/BlockDevices.h"
#include "platform/Partitions.h"

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

bool TDiskList::AddVolume(std::string name, const std::string& path, unsigned driveType, int64_t base,
                          int64_t length, bool keepUnrecognised) {
  // Volume names are unique, compared without case, since users type them.
  std::set<std::string> taken;
  for (TDiskObject* d : Items) taken.insert(ToLowerAscii(d->Name));
  std::string unique = name;
  for (int n = 2; taken.count(ToLowerAscii(unique)); ++n) unique = name + "~" + std::to_string(n);
  try {
    auto disk = std::make_unique<TDiskObject>(unique, path, driveType, base, length);
    if (!keepUnrecognised && disk->FileSystem == fsNone && disk->OpenError.empty()) return false;
    Items.Add(disk.release());
    return true;
  } catch (const std::exception& e) {
    WriteDebugLog("%s: unable to create DiskObject; Disk = %s", "DiskList.FillDiskListItems", unique.c_str());
    Rejected.push_back({path, e.what()});
    return false;
  }
}

void TDiskList::AddSource(const std::string& name, const std::string& path, unsigned driveType, int wantPartition,
                          const std::string& asGiven) {
  std::vector<TPartition> parts = ReadPartitionTable(path);
  if (parts.empty()) {
    if (wantPartition > 0)
      Rejected.push_back({asGiven, "holds no partition table"});
    else
      AddVolume(name, path, driveType);
    return;
  }
  bool found = false;
  for (const TPartition& p : parts) {
    if (wantPartition > 0 && p.Number != wantPartition) continue;
    found = true;
    // Only partitions holding a file system we read are volumes; one asked
    // for by number is listed whatever it holds, so the user learns why.
    AddVolume(name + "#" + std::to_string(p.Number), path, driveType, p.Start, p.Length, wantPartition > 0);
  }
  if (wantPartition > 0 && !found) Rejected.push_back({asGiven, "no partition " + std::to_string(wantPartition)});
}

int TDiskList::AddSource(const std::string& source) {
  const int before = Count();
  const size_t rejected = Rejected.size();
  FillDiskListItems({source}, false);
  // A source that is neither an image nor a volume still says why.
  if (Count() == before && Rejected.size() == rejected) Rejected.push_back({source, "holds no volume"});
  return Count() - before;
}

TDiskObject* TDiskList::Reopen(int index) {
  TDiskObject* old = Items.Items(index);
  if (!old) return nullptr;
  try {
    auto fresh = std::make_unique<TDiskObject>(old->Name, old->Path, old->DriveType, old->Base, old->Length);
    Items.Set(index, fresh.get());
    delete old;
    return fresh.release();
  } catch (const std::exception& e) {
    WriteDebugLog("%s: unable to reopen %s: %s", "DiskList.Reopen", old->Path.c_str(), e.what());
    return nullptr;
  }
}

void TDiskList::FillDiskListItems(const std::vector<std::string>& sources, bool withDevices) {
  std::set<std::string> seen;
  static const std::regex partitionSuffix(R"(^(.*)#([0-9]{1,3})$)");
  for (const std::string& src : sources) {
    std::error_code ec;
    std::string path = src;
    int want = 0;
    std::smatch m;
    // "card.img#2" is partition 2 of card.img, unless a file has that very name.
    if (!fs::exists(src, ec) && std::regex_match(src, m, partitionSuffix) && fs::exists(m[1].str(), ec)) {
      path = m[1].str();
      want = std::stoi(m[2].str());
    }
    fs::path p(path);
    bool isDevice = fs::is_block_file(p, ec);
    std::string name = p.filename().string();
    if (name.empty()) name = path;
    seen.insert(fs::weakly_canonical(p, ec).string());
    AddSource(name, path, isDevice ? ClassifyBlockDevice(name, false, {}) : DRIVE_IMAGE, want, src);
  }
  if (!withDevices) return;
  for (const TBlockDevice& dev : EnumerateBlockDevices()) {
    std::error_code ec;
    if (seen.count(fs::weakly_canonical(dev.Path, ec).string())) continue;
    AddSource(dev.Name, dev.Path, dev.DriveType, 0, dev.Path);
  }
}

}  // namespace mirel
