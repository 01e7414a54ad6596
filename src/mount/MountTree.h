#pragma once
// The catalogue as the mount serves it: the files that pass a filter and the
// folders above them, under names that are safe and distinct in each folder.
// Built once and never changed afterwards, so any number of threads may look
// paths up without a lock.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/FileInfo.h"

namespace mirel {

// Longest name the kernel looks up (NAME_MAX).
constexpr size_t MOUNT_NAME_MAX = 255;

// A volume's name as one served name: made safe as recovery makes it, with
// " (n)" before the extension for n > 1, and cut at a character boundary to
// MOUNT_NAME_MAX bytes (keeping the extension and the number).
std::string ServedName(const std::string& name, int n = 1);

struct TMountNode {
  std::string Name;
  // The entry served; for the top folder the volume's root entry, or null.
  TFileInfo* Entry = nullptr;
  uint32_t Parent = 0;
  bool IsFolder = false;
  // An encrypted file is served as its raw image, "NAME.efs", as recovery writes it.
  bool RawImage = false;
  // Bytes served: the entry's size, or the raw image's.
  int64_t Size = 0;
  // Sorted by name.
  std::vector<uint32_t> Children;
};

class TMountTree {
public:
  static constexpr uint32_t TOP = 0;

  // folders and files: a volume's catalogue lists. accept chooses the files
  // (all when empty); a folder is served when an accepted file lies below it.
  // What lies in the volume's root, and entries whose folder is unknown, are
  // served at the top.
  TMountTree(const TDiskItems& folders, const TDiskItems& files, const TEntryFilter& accept);

  // The node at a "/"-separated path from the top ("/" is the top).
  [[nodiscard]] std::optional<uint32_t> Find(std::string_view path) const;
  // The node that serves the entry.
  [[nodiscard]] std::optional<uint32_t> NodeOf(TFileInfo* entry) const;
  // "/dir/name"; "/" for the top.
  std::string PathOf(uint32_t node) const;
  const TMountNode& operator[](uint32_t node) const { return Nodes[node]; }
  uint32_t Count() const { return static_cast<uint32_t>(Nodes.size()); }
  uint32_t FileCount() const { return Files; }
  int64_t TotalBytes() const { return Bytes; }

private:
  uint32_t Add(TFileInfo* entry, bool folder);
  // The node of the entry's folder.
  uint32_t ParentNode(const TFileInfo& entry) const;
  // Makes every node's parent chain end at the top.
  void CutLoops();
  void NameChildren(uint32_t folder);

  std::vector<TMountNode> Nodes;
  std::unordered_map<TFileInfo*, uint32_t> Index;
  uint32_t Files = 0;
  int64_t Bytes = 0;
};

}  // namespace mirel
