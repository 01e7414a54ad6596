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
#include "platform/SourceHandle.h"

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

bool TDiskList::AddVolume(const std::string& name, const std::string& path, unsigned driveType, int64_t base,
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
  // libblkid reads raw files and devices itself; other formats go through
  // their byte source.
  TSourceHandle whole = TSourceHandle::Open(path);
  std::vector<TPartition> parts;
  if (whole.IsValid()) parts = whole.Format() == "raw" ? ReadPartitionTable(path) : ReadPartitionTable(*whole.Whole());
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

void TDiskList::AddAtOffset(const std::string& name, const std::string& path, unsigned driveType, int64_t sectors,
                            const std::string& asGiven) {
  const TSourceHandle whole = TSourceHandle::Open(path);
  if (whole.IsValid() && sectors * 512 >= whole.Size()) {
    Rejected.push_back({asGiven, "sector " + std::to_string(sectors) + " lies past the end of the source (" +
                                     std::to_string(whole.Size() / 512) + " sectors)"});
    return;
  }
  AddVolume(name + "@" + std::to_string(sectors), path, driveType, sectors * 512);
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
  static const std::regex offsetSuffix(R"(^(.*)@([0-9]{1,15})$)");
  for (const std::string& src : sources) {
    std::error_code ec;
    std::string path = src;
    int want = 0;
    int64_t sectors = -1;
    std::smatch m;
    // "card.img#2" is partition 2 of card.img and "disk.img@2048" the volume
    // 2048 sectors into it, unless a file has that very name.
    if (!fs::exists(src, ec) && std::regex_match(src, m, partitionSuffix) && fs::exists(m[1].str(), ec)) {
      path = m[1].str();
      want = std::stoi(m[2].str());
    } else if (!fs::exists(src, ec) && std::regex_match(src, m, offsetSuffix) && fs::exists(m[1].str(), ec)) {
      path = m[1].str();
      sectors = std::stoll(m[2].str());
    }
    fs::path p(path);
    bool isDevice = fs::is_block_file(p, ec);
    std::string name = p.filename().string();
    if (name.empty()) name = path;
    seen.insert(fs::weakly_canonical(p, ec).string());
    const unsigned driveType = isDevice ? ClassifyBlockDevice(name, false, {}) : DRIVE_IMAGE;
    if (sectors >= 0)
      AddAtOffset(name, path, driveType, sectors, src);
    else
      AddSource(name, path, driveType, want, src);
  }
  if (!withDevices) return;
  for (const TBlockDevice& dev : EnumerateBlockDevices()) {
    std::error_code ec;
    if (seen.count(fs::weakly_canonical(dev.Path, ec).string())) continue;
    AddSource(dev.Name, dev.Path, dev.DriveType, 0, dev.Path);
  }
}

}  // namespace mirel
