#include "mount/MountAttributes.h"

#include <cerrno>

#include "mount/ServedFile.h"

namespace mirel {

namespace {

constexpr std::string_view USER = "user.";
constexpr std::string_view CONDITION = "user.mirel.condition";
constexpr std::string_view DELETED = "user.mirel.deleted";
constexpr std::string_view ADDRESS = "user.mirel.address";

bool IsOwnName(std::string_view name) { return name == CONDITION || name == DELETED || name == ADDRESS; }

// A stream whose name cannot be an attribute's, or would hide one of ours,
// is not listed.
bool Servable(const TNamedStream& s) {
  const std::string name = std::string(USER) + s.Name;
  return s.Name.find('\0') == std::string::npos && !IsOwnName(name);
}

std::vector<TNamedStream> StreamsOf(const TFileInfo& entry) {
  return entry.FsInfo ? entry.FsInfo->NamedStreams() : std::vector<TNamedStream>{};
}

}  // namespace

std::vector<std::string> AttributeNames(const TFileInfo& entry) {
  std::vector<std::string> names = {std::string(CONDITION), std::string(DELETED)};
  if (entry.FsInfo && !entry.FsInfo->Address().empty()) names.emplace_back(ADDRESS);
  for (const TNamedStream& s : StreamsOf(entry))
    if (Servable(s)) names.push_back(std::string(USER) + s.Name);
  return names;
}

TAttributeValue AttributeValue(TFileInfo* entry, std::string_view name) {
  if (name == CONDITION) return {0, std::to_string(entry->Condition)};
  if (name == DELETED) return {0, !entry->FsInfo || entry->FsInfo->IsDeleted() ? "true" : "false"};
  if (name == ADDRESS) {
    std::string address = entry->FsInfo ? entry->FsInfo->Address() : std::string();
    return address.empty() ? TAttributeValue{ENODATA, {}} : TAttributeValue{0, std::move(address)};
  }
  if (name.substr(0, USER.size()) != USER) return {ENODATA, {}};
  for (const TNamedStream& s : StreamsOf(*entry)) {
    if (!Servable(s) || name.substr(USER.size()) != s.Name) continue;
    if (s.Size < 0 || s.Size > static_cast<int64_t>(MAX_ATTRIBUTE_VALUE)) return {E2BIG, {}};
    TServedFile file(entry, s.Size, s.Name);
    std::string data(static_cast<size_t>(s.Size), '\0');
    const int64_t got = file.ReadAt(data.data(), data.size(), 0);
    if (got != s.Size) return {EIO, {}};
    return {0, std::move(data)};
  }
  return {ENODATA, {}};
}

}  // namespace mirel
