#include "ntfs/MftReader.h"

#include <algorithm>
#include <array>
#include <bit>

#include "core/ByteRanges.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/Text.h"
#include "ntfs/NtfsAttrListEntry.h"
#include "ntfs/NtfsFileName.h"
#include "ntfs/NtfsFixups.h"
#include "ntfs/NtfsRecordHeader.h"
#include "ntfs/NtfsStdInfo.h"

namespace mirel {

namespace {

// Caps on what a damaged record can make the reader load.
constexpr size_t MAX_ATTR_LIST_BYTES = 1 << 20;
constexpr size_t MAX_EFS_BYTES = 256 << 10;
constexpr size_t MAX_MFT_BITMAP_BYTES = 64 << 20;

bool ValidSectorSize(uint32_t bps) { return bps >= 256 && bps <= 4096 && std::has_single_bit(bps); }

// Freeing a record moves its sequence number on by one, passing over 0.
uint16_t NextSequence(uint16_t s) { return s == 0 ? 0 : s == 0xFFFF ? 1 : static_cast<uint16_t>(s + 1); }

// Whether a record named in file's attribute list (with sequence number
// entrySeq) holds a part of that file: null when it does, else why not.
//
// A live file's records are in use, carry the sequence numbers its list
// gives, and its extensions name its record with its own sequence number.
// Freeing a file clears the in-use flag of each of its records and moves
// each one's sequence number on by one, while the references stay as they
// were. So a deleted file's extension is not in use, carries the list's
// sequence number or the next one, and names the file's record with the
// file's sequence number or the one before. An extension in use while the
// file is deleted belongs to another file now, whatever it names.
const char* RecordMismatch(const TNtfsFileInfo& file, bool isBase, uint16_t entrySeq, const std::vector<uint8_t>& rec) {
  const std::optional<TMftRecordHeader> h = DecodeMftRecordHeader(rec);
  if (!h) return "it is no MFT record";
  const bool deleted = file.Deleted;
  if (h->Sequence != entrySeq && !(deleted && h->Sequence == NextSequence(entrySeq)))
    return "its sequence number is not the one the attribute list gives";
  if (isBase) return nullptr;
  if (h->InUse() == deleted) return deleted ? "it is in use by another file" : "it is not in use";
  if (h->BaseRecord != (file.RecordNumber & MFT_REF_MASK) ||
      (h->BaseSequence != file.Sequence && !(deleted && NextSequence(h->BaseSequence) == file.Sequence)))
    return "it belongs to another file";
  return nullptr;
}

}  // namespace

TMftReader::TMftReader(const TByteSource* volumeHandle, int64_t bootSectorOffset)
    : VolumeHandle(volumeHandle), BootSectorOffset(bootSectorOffset) {
  if (!Init()) MftRunList.clear();
}

TMftReader::~TMftReader() { Clear(); }

void TMftReader::Clear() {
  MftRunList.clear();
  MftLostExtents = 0;
}

bool TMftReader::ReadGeometry(std::span<const uint8_t> sector) {
  const std::optional<TNtfsBootSector> boot = DecodeNtfsBootSector(sector);
  if (boot) Boot = *boot;
  const uint32_t bps = Boot.BytesPerSector, spc = Boot.SectorsPerCluster, rs = Boot.RecordSize;
  const int64_t mftLcn = Boot.MftLcn;
  const int64_t volumeBytes = VolumeHandle ? VolumeHandle->Size() : 0;
  if (!ValidSectorSize(bps) || spc == 0 || rs < 256 || rs < bps) {
    WriteDebugLog(
        "%s: unusable boot sector geometry; Bytes Per Sector = %u; Sectors Per Cluster = %u; "
        "Record Size = %u; Mft Lcn = %lld",
        "MftReader.Init", bps, spc, rs, static_cast<long long>(mftLcn));
    Failure = "the boot sector's geometry cannot be used (" + std::to_string(bps) + " bytes per sector, " +
              std::to_string(spc) + " sectors per cluster, MFT records of " + std::to_string(rs) + " bytes)";
    return false;
  }
  if (mftLcn < 0 || mftLcn >= volumeBytes / (int64_t{bps} * spc)) {
    WriteDebugLog("%s: the MFT lies outside the volume; Mft Lcn = %lld; Volume Bytes = %lld", "MftReader.Init",
                  static_cast<long long>(mftLcn), static_cast<long long>(volumeBytes));
    Failure = "the boot sector places the MFT at cluster " + std::to_string(mftLcn) + ", outside the " +
              std::to_string(volumeBytes) + " bytes the source holds";
    return false;
  }
  BytesPerSector = bps;
  ClusterSize = bps * spc;
  RecordSize = rs;
  MftLcn = mftLcn;
  VolumeClusters = volumeBytes / ClusterSize;
  return true;
}

bool TMftReader::Init() {
  if (!VolumeHandle || !VolumeHandle->IsValid()) {
    Failure = "the volume cannot be opened";
    return false;
  }
  std::vector<uint8_t> boot(512);
  size_t got = ReadDisk(*VolumeHandle, boot.data(), boot.size(), BootSectorOffset);
  if (got != boot.size()) {
    WriteDebugLog("%s: unable to read boot sector; Read = %zu", "MftReader.Init", got);
    Failure = "the boot sector cannot be read";
    return false;
  }
  return ReadGeometry(boot) && ReadMftRecord();
}

bool TMftReader::ReadMftRecord() {
  MftRunList.clear();
  MftLostExtents = 0;
  const int64_t offset = MftLcn * ClusterSize;
  const std::string where = "$MFT record 0 (the MFT's own record, at byte " + std::to_string(offset) + ")";
  std::vector<uint8_t> bytes(RecordSize);
  TByteRanges unreadable;
  if (ReadDiskPatched(*VolumeHandle, bytes.data(), bytes.size(), offset, unreadable) < bytes.size()) {
    WriteDebugLog("%s: unable to read the MFT record; Offset = %lld; Unreadable = %s", "MftReader.Init",
                  static_cast<long long>(offset), unreadable.Describe().c_str());
    Failure = where + (offset + RecordSize > VolumeHandle->Size() ? " lies past the end of the source"
                                                                  : " could not be read (read error)");
    return false;
  }
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> mft = ReadFileInfo(0, valid, bytes);
  if (!mft) {
    WriteDebugLog("%s: the MFT record is damaged; Offset = %lld", "MftReader.Init", static_cast<long long>(offset));
    Failure = where + " is damaged: it is no valid MFT record";
    return false;
  }
  mft->RecordNumber = 0;
  TStreamRuns data = GetFileDataStreamsRunList(*mft, {});
  MftDataSize = std::max<int64_t>(0, data.DataSize);
  MftRunList = std::move(data.Runs);
  MftLostExtents = data.LostExtents;
  if (MftRunList.empty()) {
    Failure = where + (data.LostExtents > 0 ? " has a damaged run list" : " maps no MFT data");
    return false;
  }
  return true;
}

int64_t TMftReader::ClusterOffset(int64_t lcn) const {
  if (lcn < 0 || ClusterSize == 0 || lcn > INT64_MAX / ClusterSize) return -1;
  return lcn * ClusterSize;
}

int64_t TMftReader::GetRecordOffset(int64_t n) const {
  if (n < 0 || RecordSize == 0 || n > INT64_MAX / RecordSize) return -1;
  const int64_t v = n * RecordSize;
  int64_t runsEnd = 0;
  for (const TNtfsRun& r : MftRunList) {
    const int64_t bytes = int64_t{r.Length} * ClusterSize;
    int64_t from, end;
    if (__builtin_mul_overflow(r.Vcn, int64_t{ClusterSize}, &from) || __builtin_add_overflow(from, bytes, &end))
      continue;
    if (v >= from && v < end) {
      const int64_t at = ClusterOffset(r.Lcn);
      return at < 0 || at > INT64_MAX - (v - from) ? -1 : at + (v - from);
    }
    runsEnd = std::max(runsEnd, end);
  }
  // A record in a hole between the runs has no known place; past them the
  // MFT is taken as contiguous.
  if (v < runsEnd) return -1;
  const int64_t mftStart = ClusterOffset(MftLcn);
  return mftStart < 0 || mftStart > INT64_MAX - v ? -1 : mftStart + v;
}

bool TMftReader::FixupsIntact(std::span<const uint8_t> rec) const {
  if (RecordSize == 0 || rec.size() < RecordSize) return false;
  const std::span<const uint8_t> record = rec.first(RecordSize);
  return DecodeMftRecordHeader(record) && mirel::FixupsIntact(record, BytesPerSector);
}

bool TMftReader::FixupRecord(std::vector<uint8_t>& rec) const {
  if (RecordSize == 0 || rec.size() < RecordSize) return false;
  const std::span<uint8_t> record(rec.data(), RecordSize);
  return DecodeMftRecordHeader(record) && ApplyFixups(record, BytesPerSector) == TFixupResult::Applied;
}

TRecordBytes TMftReader::LoadRecord(const TNtfsFileInfo& fileInfo) const {
  if (fileInfo.RecordData) return fileInfo.RecordData;
  const int64_t n = fileInfo.RecordNumber & MFT_REF_MASK;
  auto rec = OpenMftRec(GetRecordOffset(n));
  if (!rec) {
    WriteDebugLog("%s: unable to read the record again; Record = %lld", "MftReader.LoadRecord",
                  static_cast<long long>(n));
    return nullptr;
  }
  const TMftRecordHeader h = DecodeMftRecordHeader(*rec).value_or(TMftRecordHeader{});
  if (h.Sequence != fileInfo.Sequence || h.InUse() == fileInfo.Deleted) {
    WriteDebugLog("%s: the record was reused since the scan; Record = %lld; Sequence = %u; Now = %u",
                  "MftReader.LoadRecord", static_cast<long long>(n), fileInfo.Sequence, h.Sequence);
    return nullptr;
  }
  return rec;
}

std::shared_ptr<std::vector<uint8_t>> TMftReader::OpenMftRec(int64_t offset) const {
  if (!VolumeHandle || RecordSize == 0 || offset < 0) return nullptr;
  auto rec = std::make_shared<std::vector<uint8_t>>(RecordSize);
  if (ReadDisk(*VolumeHandle, rec->data(), RecordSize, offset) < RecordSize) return nullptr;
  if (!FixupRecord(*rec)) return nullptr;
  return rec;
}

std::unique_ptr<TNtfsFileInfo> TMftReader::ReadFileInfo(uint8_t flags, bool& valid, int64_t offset) const {
  valid = false;
  if (!VolumeHandle || RecordSize == 0 || offset < 0) return nullptr;
  std::vector<uint8_t> buf(RecordSize);
  if (ReadDisk(*VolumeHandle, buf.data(), RecordSize, offset) < RecordSize) return nullptr;
  return ReadFileInfo(flags, valid, buf);
}

std::unique_ptr<TNtfsFileInfo> TMftReader::ReadFileInfo(uint8_t flags, bool& valid,
                                                        std::span<const uint8_t> bytes) const {
  valid = false;
  if (RecordSize == 0 || bytes.size() < RecordSize) return nullptr;
  if (!FixupsIntact(bytes)) return nullptr;
  valid = true;
  // The flags and the base reference lie before the first sector's end,
  // where no fixup reaches: records passed over are never copied.
  const std::optional<TMftRecordHeader> head = DecodeMftRecordHeader(bytes);
  if (!head) return nullptr;
  if ((flags & rfDeletedOnly) && (head->InUse() || !head->IsBase())) return nullptr;
  auto rec = std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.begin() + RecordSize);
  if (!FixupRecord(*rec)) return nullptr;
  return IndexRecord(std::move(rec));
}

std::unique_ptr<TNtfsFileInfo> TMftReader::IndexRecord(TRecordBytes rec) const {
  if (!rec || RecordSize == 0 || rec->size() < RecordSize) return nullptr;
  const std::optional<TMftRecordHeader> head = DecodeMftRecordHeader(*rec);
  if (!head || head->FirstAttribute >= RecordSize) return nullptr;
  auto fi = std::make_unique<TNtfsFileInfo>();
  fi->Deleted = !head->InUse();
  fi->IsDirectory = head->IsDirectory();
  fi->Sequence = head->Sequence;
  // An attribute that does not fit the record ends the walk: it and what
  // follows are never looked at. Where each kind first appears is kept, so
  // that the lookups of a scan need not walk the record again.
  std::array<size_t, akCount> first{};
  bool namedData = false;
  size_t off = head->FirstAttribute;
  while (std::optional<TAttrExtent> a = AttrExtentAt(*rec, off)) {
    if (a->Type == atAttributeList) fi->AttrList = true;
    if (const TAttrKind kind = AttrKindOf(a->Type); kind < akCount && first[kind] == 0) first[kind] = off;
    if (a->Type == atData && a->NameLength != 0) namedData = true;
    off += a->Length;
  }
  fi->RecordData = std::move(rec);
  if (namedData) fi->RecordData.SetNamedData();
  for (size_t kind = 0; kind < akCount; ++kind)
    fi->RecordData.SetFirstOf(static_cast<TAttrKind>(kind), first[kind] != 0 ? first[kind] : off);
  return fi;
}

void TMftReader::InitAttrSearchContext(const TNtfsFileInfo& fileInfo, uint32_t type, TNtfsAttrLookupContext& ctx,
                                       int32_t id) const {
  // Field by field: contexts are reset once per attribute sought in every record.
  ctx.FileInfo = &fileInfo;
  ctx.Record = LoadRecord(fileInfo);
  ctx.Kind = akCount;
  ctx.Index = 0;
  ctx.AttrType = type;
  ctx.AttrId = id;
  ctx.ListCursor.NeedLoad = true;
  ctx.ListCursor.Base = ctx.Record;
  ctx.ListCursor.ListData.clear();
  ctx.ListCursor.Unreadable = false;
  ctx.ListCursor.Current = 0;
  ctx.ListCursor.Seen.clear();
  ctx.ListCursor.Lost.clear();
  if (fileInfo.HasAttrList()) return;
  if (TAttrKind kind = AttrKindOf(type); kind != akAttrList) {
    ctx.Kind = kind;
    if (fileInfo.RecordData) ctx.Index = fileInfo.RecordData.FirstOf(kind);
  }
}

TNtfsAttr TMftReader::FindNextAttr(TNtfsAttrLookupContext& ctx) const {
  if (!ctx.FileInfo || !ctx.Record) return {};
  if (ctx.FileInfo->HasAttrList())
    return FindExternalAttribute(*ctx.FileInfo, ctx.AttrType, ctx.ListCursor, ctx.AttrId);
  if (ctx.Kind == akCount) return {};
  return NextAttrIn(ctx.Record, ctx.Kind, ctx.Index);
}

TNtfsAttr TMftReader::FindExternalAttribute(const TNtfsFileInfo& fileInfo, uint32_t type, TAttrListCursor& cursor,
                                            int32_t id) const {
  if (cursor.NeedLoad) {
    cursor.NeedLoad = false;
    cursor.Current = 0;
    if (!cursor.Base) cursor.Base = LoadRecord(fileInfo);
    size_t index = 0;
    const TNtfsAttr listAttr = NextAttrIn(cursor.Base, akAttrList, index);
    std::optional<std::vector<uint8_t>> list = ReadAttrContent(listAttr, MAX_ATTR_LIST_BYTES);
    if (!list) {
      WriteDebugLog("%s: the attribute list cannot be read; Record = %lld", "MftReader.FindExternalAttribute",
                    static_cast<long long>(fileInfo.RecordNumber & MFT_REF_MASK));
      cursor.Unreadable = true;
      list.emplace();
    }
    cursor.ListData = std::move(*list);
    // The clusters' slack after the list is not part of it.
    int64_t size = listAttr.DataSize();
    if (size >= 0 && static_cast<uint64_t>(size) < cursor.ListData.size()) cursor.ListData.resize(size);
  }
  const std::vector<uint8_t>& list = cursor.ListData;
  const int64_t own = fileInfo.RecordNumber & MFT_REF_MASK;
  while (cursor.Current < list.size()) {
    const TAttrListStep step = DecodeAttrListEntry(std::span<const uint8_t>(list).subspan(cursor.Current));
    if (step.Kind == TAttrListStep::End) break;
    if (step.Kind == TAttrListStep::Damaged) {
      WriteDebugLog("%s: attribute list entry out of bounds; Offset = %zu; List Size = %zu",
                    "MftReader.FindExternalAttribute", cursor.Current, list.size());
      cursor.Current = list.size();
      break;
    }
    const TAttrListEntry& e = step.Entry;
    cursor.Current += e.Length;
    if ((type != atEnd && e.Type != type) || (id != -1 && e.Instance != id)) continue;
    if (!cursor.Seen.insert({e.Record, e.Type, e.Instance}).second) continue;
    TRecordBytes rec = e.Record == own ? cursor.Base : OpenMftRec(GetRecordOffset(e.Record));
    const char* why =
        !rec ? "the record cannot be read" : RecordMismatch(fileInfo, e.Record == own, e.RecordSequence, *rec);
    TNtfsAttr a = why ? TNtfsAttr() : FindAttrInRecord(rec, e.Type, e.Instance);
    if (a) return a;
    cursor.Lost.push_back({e.Type, e.Name, e.Record, e.LowestVcn, why ? why : "the record lacks the attribute"});
  }
  return {};
}

TNtfsAttr TMftReader::FindAttrInRecord(const TRecordBytes& record, uint32_t type, int32_t id) const {
  if (!record || record->size() < RecordSize || RecordSize == 0) return {};
  const std::span<const uint8_t> bytes(record->data(), RecordSize);
  const std::optional<TMftRecordHeader> head = DecodeMftRecordHeader(bytes);
  if (!head) return {};
  size_t off = head->FirstAttribute;
  while (std::optional<TAttrExtent> a = AttrExtentAt(bytes, off)) {
    if (type == atEnd || a->Type == type) {
      TNtfsAttr found(record, off, a->Length);
      if (id == -1 || found.Header().Instance == static_cast<uint16_t>(id)) return found;
    }
    off += a->Length;
  }
  return {};
}

TStreamRuns TMftReader::GetFileDataStreamsRunList(const TNtfsFileInfo& fileInfo, const std::string& name) const {
  TStreamRuns out;
  const int64_t record = fileInfo.RecordNumber & MFT_REF_MASK;
  auto lose = [&](const char* why, int64_t vcn) {
    ++out.LostExtents;
    WriteDebugLog("%s: extent left out, %s; Record = %lld; Stream = %s; Vcn = %lld",
                  "MftReader.GetFileDataStreamsRunList", why, static_cast<long long>(record), name.c_str(),
                  static_cast<long long>(vcn));
  };
  TNtfsAttr vcnZero;
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (a.HasName() && !a.NameReadable()) {
      WriteDebugLog("%s: stream name outside its attribute; Attribute Length = %zu",
                    "MftReader.GetFileDataStreamsRunList", a.Span().size());
      continue;
    }
    // Most lookups are of the unnamed stream: no name needs converting.
    if (name.empty() ? a.HasName() : !SameStreamName(a.Name(), name)) continue;
    if (!out.First) out.First = a;
    if (!a.NonResident()) {
      vcnZero = a;
      break;
    }
    if (a.StartVcn() == 0 && !vcnZero) vcnZero = a;
    std::optional<TRunList> runs = DecodeRunList(a);
    if (!runs)
      lose("its run list is damaged", a.StartVcn());
    else if (!out.Place(*runs))
      lose("it overlaps another extent", a.StartVcn());
  }
  if (fileInfo.HasAttrList() && ctx.ListCursor.Unreadable) lose("the attribute list cannot be read", 0);
  for (const TLostListEntry& l : ctx.ListCursor.Lost)
    if (l.Type == atData && SameStreamName(l.Name, name)) lose(l.Why, l.LowestVcn);
  if (vcnZero) {
    out.First = vcnZero;
    out.DataSize = std::max<int64_t>(0, vcnZero.DataSize());
  } else if (!out.Runs.empty()) {
    // Only the first extent holds the sizes: without it, the data reach as
    // far as the runs that are left.
    const int64_t end = out.RunEnd(out.Runs.size() - 1);
    out.DataSize = ClusterSize == 0 || end > INT64_MAX / ClusterSize ? 0 : end * ClusterSize;
  }
  return out;
}

std::vector<TNamedStream> TMftReader::GetFileStreams(const TNtfsFileInfo& fileInfo) const {
  std::vector<TNamedStream> streams;
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (a.HasName() && !a.NameReadable()) {
      WriteDebugLog("%s: stream name outside its attribute; Attribute Length = %zu", "MftReader.GetFileStreams",
                    a.Span().size());
      continue;
    }
    std::string n = a.Name();
    bool known = false;
    for (const TNamedStream& s : streams) known = known || SameStreamName(s.Name, n);
    if (!known) streams.push_back({n, a.DataSize()});
  }
  return streams;
}

std::vector<uint8_t> TMftReader::GetEfsData(const TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atLoggedUtilityStream, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (!a.NameReadable() || !SameStreamName(a.Name(), "$EFS")) continue;
    std::optional<std::vector<uint8_t>> data = ReadAttrContent(a, MAX_EFS_BYTES);
    if (data && !data->empty()) return std::move(*data);
  }
  return {};
}

std::string TMftReader::GetFileName(TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atFileName, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    std::optional<TNtfsFileName> name = DecodeFileName(a.Value());
    if (!name || name->NameSpace == fnDos) continue;
    fileInfo.SetParentRecord(name->ParentRecord);
    fileInfo.SetFnTimes(name->Times);
    fileInfo.HasFnTimes = true;
    return std::move(name->Name);
  }
  return {};
}

int64_t TMftReader::GetFileSize(TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (a.HasName()) continue;
    int64_t size = a.DataSize();
    return size < 0 ? 0 : size;
  }
  return 0;
}

bool TMftReader::GetStdInfo(TFileInfo& entry, TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atStandardInformation, ctx);
  const std::optional<TNtfsStdInfo> si = DecodeStdInfo(FindNextAttr(ctx).Value());
  if (!si) return false;
  entry.Attributes = si->Attributes;
  entry.CreationTime = si->Times.Created;
  entry.LastWriteTime = si->Times.Modified;
  fileInfo.SetSiTimes(si->Times.Changed, si->Times.Accessed);
  fileInfo.Encrypted = entry.Attributes & faEncrypted;
  return true;
}

std::optional<int64_t> TMftReader::CountFreeMftRecords() const {
  // The MFT's bitmap is read only here: every recovery stream opens a reader
  // of its own, and none of them needs it.
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> mft = ReadFileInfo(0, valid, ClusterOffset(MftLcn));
  if (!mft) return std::nullopt;
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(*mft, atBitmap, ctx);
  const TNtfsAttr bitmap = FindNextAttr(ctx);
  std::optional<std::vector<uint8_t>> bits = ReadAttrContent(bitmap, MAX_MFT_BITMAP_BYTES);
  if (!bitmap || !bits) return std::nullopt;
  // Only the bits of records the MFT holds: past them lie the bitmap's
  // unused bytes and its clusters' slack, which name no record.
  const int64_t records = RecordSize == 0 ? 0 : MftDataSize / RecordSize;
  int64_t zeros = 0;
  for (int64_t i = 0; i < records && static_cast<uint64_t>(i / 8) < bits->size(); ++i)
    zeros += !((*bits)[static_cast<size_t>(i / 8)] >> (i % 8) & 1);
  return zeros;
}

std::optional<std::vector<uint8_t>> TMftReader::ReadAttrContent(const TNtfsAttr& attr, size_t limit) const {
  if (!attr.NonResident()) {
    std::span<const uint8_t> v = attr.Value();
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(std::min(v.size(), limit)));
  }
  std::optional<TRunList> runs = DecodeRunList(attr);
  if (!runs) return std::nullopt;
  return ReadRuns(*runs, limit);
}

std::optional<std::vector<uint8_t>> TMftReader::ReadRuns(const TRunList& runs, size_t limit) const {
  std::vector<uint8_t> out;
  if (!VolumeHandle || ClusterSize == 0) return std::nullopt;
  for (const TNtfsRun& r : runs) {
    if (out.size() >= limit) break;
    size_t want = static_cast<size_t>(std::min<uint64_t>(uint64_t{r.Length} * ClusterSize, limit - out.size()));
    size_t at = out.size();
    out.resize(at + want);
    if (r.Lcn < 0) continue;
    const int64_t offset = ClusterOffset(r.Lcn);
    size_t got = offset < 0 ? 0 : ReadDisk(*VolumeHandle, out.data() + at, want, offset);
    if (got < want) {
      WriteDebugLog("%s: unable to read clusters; Lcn = %lld; Size = %zu; Read = %zu", "MftReader.ReadRuns",
                    static_cast<long long>(r.Lcn), want, got);
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace mirel
