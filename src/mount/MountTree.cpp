#include "mount/MountTree.h"

#include <algorithm>
#include <unordered_set>

#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "workers/DestinationPolicy.h"
#include "workers/RecoveredFileWriter.h"

namespace mirel {

namespace {

// Longer "extensions" are part of the name, and cut with it.
constexpr size_t MAX_KEPT_EXTENSION = 32;

}  // namespace

std::string ServedName(const std::string& name, int n) {
  const std::string safe = SafeFileName(name);
  const std::string number = n > 1 ? " (" + std::to_string(n) + ")" : "";
  size_t dot = ExtensionStart(safe);
  if (safe.size() - dot > MAX_KEPT_EXTENSION) dot = safe.size();
  std::string stem = safe.substr(0, dot);
  const std::string ext = safe.substr(dot);
  // A longer name could be listed but never looked up.
  const size_t room = MOUNT_NAME_MAX - number.size() - ext.size();
  if (stem.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  return stem + number + ext;
}

TMountTree::TMountTree(const TDiskItems& folders, const TDiskItems& files, const TEntryFilter& accept) {
  Nodes.emplace_back();
  Nodes[TOP].IsFolder = true;
  for (TFileInfo* f : folders)
    if (f && IsVolumeRoot(*f)) {
      Nodes[TOP].Entry = f;
      break;
    }

  // The folders above accepted files, in the order they were met.
  std::vector<TFileInfo*> accepted, above;
  std::unordered_set<TFileInfo*> needed;
  for (TFileInfo* f : files) {
    if (!f || (accept && !accept(*f))) continue;
    accepted.push_back(f);
    int depth = 0;
    for (TFileInfo* p = f->Parent; p && !IsVolumeRoot(*p) && depth < MAX_FOLDER_DEPTH; p = p->Parent, ++depth) {
      if (!needed.insert(p).second) break;
      above.push_back(p);
    }
  }
  // Catalogue order first, so that names are numbered as recovery numbers them.
  for (TFileInfo* d : folders)
    if (needed.erase(d)) Add(d, true);
  for (TFileInfo* d : above)
    if (needed.erase(d)) Add(d, true);
  for (TFileInfo* f : accepted) Add(f, false);

  for (uint32_t i = 1; i < Count(); ++i) Nodes[i].Parent = ParentNode(*Nodes[i].Entry);
  CutLoops();
  for (uint32_t i = 1; i < Count(); ++i) Nodes[Nodes[i].Parent].Children.push_back(i);
  for (uint32_t i = 0; i < Count(); ++i)
    if (Nodes[i].IsFolder) NameChildren(i);
}

uint32_t TMountTree::Add(TFileInfo* entry, bool folder) {
  TMountNode node;
  node.Entry = entry;
  node.IsFolder = folder;
  if (!folder) {
    node.Size = std::max<int64_t>(0, entry->Size);
    if (entry->FsInfo && entry->FsInfo->IsEncrypted()) {
      // The raw image is longer than the data; only its stream knows by how
      // much, and whether there is one (without its key data the file is
      // served as it lies).
      if (std::unique_ptr<TRecoveryStream> s = CreateRecoveryStream(entry)) node.Size = s->GetSize();
      node.RawImage = entry->FsInfo->IsEncrypted();
    }
    ++Files;
    Bytes += node.Size;
  }
  const auto index = Count();
  Index.emplace(entry, index);
  Nodes.push_back(std::move(node));
  return index;
}

uint32_t TMountTree::ParentNode(const TFileInfo& entry) const {
  TFileInfo* const parent = entry.Parent;
  if (!parent || IsVolumeRoot(*parent)) return TOP;
  const auto it = Index.find(parent);
  return it == Index.end() ? TOP : it->second;
}

void TMountTree::CutLoops() {
  // Each node is walked once: 1 while on the current walk, 2 once it is
  // known to reach the top.
  std::vector<uint8_t> state(Nodes.size(), 0);
  std::vector<uint32_t> walk;
  for (uint32_t i = 1; i < Count(); ++i) {
    walk.clear();
    uint32_t n = i;
    while (n != TOP && state[n] == 0) {
      state[n] = 1;
      walk.push_back(n);
      n = Nodes[n].Parent;
    }
    // Back on this walk: a loop of folders in a damaged catalogue, served
    // from the top at the first folder of it met.
    if (n != TOP && state[n] == 1) Nodes[n].Parent = TOP;
    for (uint32_t w : walk) state[w] = 2;
  }
}

void TMountTree::NameChildren(uint32_t folder) {
  std::vector<uint32_t>& children = Nodes[folder].Children;
  // Files keep their own names before folders do, as recovery writes them first.
  std::stable_partition(children.begin(), children.end(), [this](uint32_t c) { return !Nodes[c].IsFolder; });
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, int> next;
  for (uint32_t c : children) {
    TMountNode& node = Nodes[c];
    const std::string base = node.RawImage ? node.Entry->Name + ".efs" : node.Entry->Name.Str();
    int n = std::max(1, next[base]);
    std::string name = ServedName(base, n);
    while (!taken.insert(name).second) name = ServedName(base, ++n);
    next[base] = n + 1;
    node.Name = std::move(name);
  }
  std::sort(children.begin(), children.end(), [this](uint32_t a, uint32_t b) { return Nodes[a].Name < Nodes[b].Name; });
}

std::optional<uint32_t> TMountTree::Find(std::string_view path) const {
  uint32_t node = TOP;
  size_t at = 0;
  while (at < path.size()) {
    if (path[at] == '/') {
      ++at;
      continue;
    }
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string_view name = path.substr(at, end - at);
    const std::vector<uint32_t>& children = Nodes[node].Children;
    const auto it = std::lower_bound(children.begin(), children.end(), name,
                                     [this](uint32_t c, std::string_view n) { return Nodes[c].Name < n; });
    if (it == children.end() || Nodes[*it].Name != name) return std::nullopt;
    node = *it;
    at = end;
  }
  return node;
}

std::optional<uint32_t> TMountTree::NodeOf(TFileInfo* entry) const {
  if (entry && entry == Nodes[TOP].Entry) return TOP;
  const auto it = Index.find(entry);
  if (it == Index.end()) return std::nullopt;
  return it->second;
}

std::string TMountTree::PathOf(uint32_t node) const {
  std::vector<const std::string*> names;
  for (uint32_t n = node; n != TOP; n = Nodes[n].Parent) names.push_back(&Nodes[n].Name);
  if (names.empty()) return "/";
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + **it;
  return path;
}

}  // namespace mirel
