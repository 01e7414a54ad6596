#include "ntfs/MftReader.h"

#include <bit>
#include <cstring>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/Text.h"

namespace mirel {

namespace {

// Caps on what a damaged record can make the reader load.
constexpr size_t MAX_ATTR_LIST_BYTES = 1 << 20;
constexpr size_t MAX_EFS_BYTES = 256 << 10;
constexpr size_t MAX_MFT_BITMAP_BYTES = 64 << 20;
// Shortest attribute-list entry: the fields up to the instance number.
constexpr size_t MIN_LIST_ENTRY = 26;

bool ValidSectorSize(uint32_t bps) { return bps >= 256 && bps <= 4096 && std::has_single_bit(bps); }

}  // namespace

uint32_t NtfsRecordSize(std::span<const uint8_t> boot) {
  TLeReader b(boot);
  if (!b.Has(64, 4)) return 0;
  uint8_t v[4] = {b.U8(64), b.U8(65), b.U8(66), b.U8(67)};
  if (v[0] & 0x80) {
    // A negative power of two, stored as a byte that may not be sign-extended.
    if (v[3] == 0) {
      v[3] = 0xFF;
      if (v[2] == 0) {
        v[2] = 0xFF;
        if (v[1] == 0) v[1] = 0xFF;
      }
    }
    int32_t n = static_cast<int32_t>(uint32_t{v[0]} | uint32_t{v[1]} << 8 | uint32_t{v[2]} << 16 | uint32_t{v[3]} << 24);
    int64_t e = n < 0 ? -int64_t{n} : int64_t{n};
    return e > 16 ? 0 : uint32_t{1} << e;
  }
  uint64_t size = uint64_t{b.U16(11)} * b.U8(13) * b.U32(64);
  return size > 65536 ? 0 : static_cast<uint32_t>(size);
}

TMftReader::TMftReader(const TRawSource* volumeHandle, int64_t bootSectorOffset)
    : VolumeHandle(volumeHandle), BootSectorOffset(bootSectorOffset) {
  Init();
}

TMftReader::~TMftReader() { Clear(); }

void TMftReader::Clear() {
  MftRunList.clear();
}

bool TMftReader::ReadGeometry(std::span<const uint8_t> boot) {
  TLeReader b(boot);
  uint32_t bps = b.U16(11), spc = b.U8(13);
  uint32_t rs = NtfsRecordSize(boot);
  int64_t mftLcn = static_cast<int64_t>(b.U64(48));
  int64_t volumeBytes = VolumeHandle ? VolumeHandle->Size() : 0;
  if (!ValidSectorSize(bps) || spc == 0 || rs < 256 || rs < bps || mftLcn < 0 ||
      mftLcn >= volumeBytes / int64_t{bps * spc}) {
    WriteDebugLog("%s: unusable boot sector geometry; Bytes Per Sector = %u; Sectors Per Cluster = %u; "
                  "Record Size = %u; Mft Lcn = %lld",
                  "MftReader.Init", bps, spc, rs, static_cast<long long>(mftLcn));
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
  if (!VolumeHandle || !VolumeHandle->IsValid()) return false;
  std::vector<uint8_t> boot(512);
  size_t got = ReadDisk(*VolumeHandle, boot.data(), boot.size(), BootSectorOffset);
  if (got != boot.size()) {
    WriteDebugLog("%s: unable to read boot sector; Read = %zu", "MftReader.Init", got);
    return false;
  }
  std::memcpy(BootSector.data(), boot.data(), BootSector.size());
  if (!ReadGeometry(boot)) return false;
  MftRunList.clear();

  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> mft = ReadFileInfo(0, valid, MftLcn * ClusterSize);
  if (!mft) {
    WriteDebugLog("%s: unable to read the MFT record; Offset = %lld", "MftReader.Init",
                  static_cast<long long>(MftLcn * ClusterSize));
    return false;
  }
  MftDataSize = GetFileSize(*mft);
  if (mft->HasAttrList()) {
    TAttrListCursor cursor;
    while (TNtfsAttr a = FindExternalAttribue(*mft, atData, cursor, -1)) {
      if (!a.NonResident() || a.HasName()) continue;
      TRunList runs;
      DecompressRunList(a, runs);
      MftRunList.insert(MftRunList.end(), runs.begin(), runs.end());
    }
  } else {
    GetFileRunList(*mft, MftRunList);
  }
  return !MftRunList.empty();
}

int64_t TMftReader::ClusterOffset(int64_t lcn) const {
  if (lcn < 0 || ClusterSize == 0 || lcn > INT64_MAX / ClusterSize) return -1;
  return lcn * ClusterSize;
}

int64_t TMftReader::GetRecordOffset(int64_t n) const {
  if (n < 0 || RecordSize == 0 || n > INT64_MAX / RecordSize) return -1;
  const int64_t contiguous = MftLcn * ClusterSize + n * RecordSize;
  int64_t v = n * RecordSize;
  for (const TNtfsRun& r : MftRunList) {
    int64_t u = int64_t{r.Length} * ClusterSize;
    if (v < u) return ClusterOffset(r.Lcn) < 0 ? -1 : ClusterOffset(r.Lcn) + v;
    v -= u;
  }
  return contiguous;
}

bool TMftReader::FixupsIntact(std::span<const uint8_t> rec) const {
  if (RecordSize == 0 || rec.size() < RecordSize || std::memcmp(rec.data(), "FILE", 4) != 0) return false;
  TLeReader r(rec.data(), RecordSize);
  size_t usa = r.U16(4), count = r.U16(6);
  if (count == 0) return true;
  if (usa > RecordSize) return false;
  // The array and every sector it protects must lie inside the record.
  if (usa + 2 * count > RecordSize || (count - 1) * size_t{BytesPerSector} > RecordSize) return false;
  uint16_t seq = r.U16(usa);
  for (size_t i = 1; i < count; ++i)
    if (r.U16(i * BytesPerSector - 2) != seq) return false;
  return true;
}

bool TMftReader::FixupRecord(std::vector<uint8_t>& rec) const {
  if (!FixupsIntact(rec)) return false;
  TLeReader r(rec.data(), RecordSize);
  const size_t usa = r.U16(4), count = r.U16(6);
  for (size_t i = 1; i < count; ++i) {
    const size_t end = i * BytesPerSector - 2;
    rec[end] = rec[usa + 2 * i];
    rec[end + 1] = rec[usa + 2 * i + 1];
  }
  return true;
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
  TLeReader r(*rec);
  const bool inUse = r.U16(22) & 0x0001;
  if (r.U16(16) != fileInfo.Sequence || inUse == fileInfo.Deleted) {
    WriteDebugLog("%s: the record was reused since the scan; Record = %lld; Sequence = %u; Now = %u",
                  "MftReader.LoadRecord", static_cast<long long>(n), fileInfo.Sequence, r.U16(16));
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
  TLeReader head(bytes.data(), RecordSize);
  const uint16_t recFlags = head.U16(22);
  const bool inUse = recFlags & 0x0001;
  if ((flags & rfDeletedOnly) && (inUse || head.U64(32) != 0)) return nullptr;
  auto rec = std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.begin() + RecordSize);
  FixupRecord(*rec);
  TLeReader r(rec->data(), RecordSize);
  size_t first = r.U16(20);
  if (first >= RecordSize) return nullptr;

  auto fi = std::make_unique<TNtfsFileInfo>();
  fi->Deleted = !inUse;
  fi->IsDirectory = recFlags & 0x0002;
  fi->Sequence = r.U16(16);
  size_t off = first;
  while (off + 8 <= RecordSize) {
    uint32_t type = r.U32(off);
    if (type == atEnd) break;
    size_t len = r.U16(off + 4);
    // An attribute that does not fit the record ends the walk: it and what
    // follows are never looked at.
    if (len < 16 || off + len > RecordSize) break;
    if (type == atAttributeList) fi->AttrList = true;
    off += len;
  }
  fi->RecordData = std::move(rec);
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
  ctx.ListCursor.ListData.clear();
  ctx.ListCursor.Current = 0;
  ctx.ListCursor.Seen.clear();
  if (fileInfo.HasAttrList()) return;
  if (TAttrKind kind = AttrKindOf(type); kind != akAttrList) ctx.Kind = kind;
}

TNtfsAttr TMftReader::FindNextAttr(TNtfsAttrLookupContext& ctx) const {
  if (!ctx.FileInfo || !ctx.Record) return {};
  if (ctx.FileInfo->HasAttrList()) return FindExternalAttribue(*ctx.FileInfo, ctx.AttrType, ctx.ListCursor, ctx.AttrId);
  if (ctx.Kind == akCount) return {};
  return NextAttrIn(ctx.Record, ctx.Kind, ctx.Index);
}

TNtfsAttr TMftReader::FindExternalAttribue(const TNtfsFileInfo& fileInfo, uint32_t type, TAttrListCursor& cursor,
                                           int32_t id) const {
  if (cursor.NeedLoad) {
    size_t index = 0;
    const TNtfsAttr listAttr = NextAttrIn(LoadRecord(fileInfo), akAttrList, index);
    cursor.NeedLoad = false;
    cursor.Current = 0;
    cursor.ListData = ReadAttrContent(listAttr, MAX_ATTR_LIST_BYTES);
    // The clusters' slack after the list is not part of it.
    int64_t size = listAttr.DataSize();
    if (size >= 0 && static_cast<uint64_t>(size) < cursor.ListData.size()) cursor.ListData.resize(size);
  }
  const std::vector<uint8_t>& list = cursor.ListData;
  while (cursor.Current + MIN_LIST_ENTRY <= list.size()) {
    TLeReader e(list.data() + cursor.Current, list.size() - cursor.Current);
    size_t len = e.U16(4);
    if (len == 0) break;
    if (len < MIN_LIST_ENTRY || len > e.Size()) {
      WriteDebugLog("%s: attribute list entry out of bounds; Offset = %zu; Length = %zu; List Size = %zu",
                    "MftReader.FindExternalAttribue", cursor.Current, len, list.size());
      cursor.Current = list.size();
      break;
    }
    cursor.Current += len;
    uint32_t etype = e.U32(0);
    uint16_t eid = e.U16(24);
    int64_t ref = static_cast<int64_t>(e.U64(16)) & MFT_REF_MASK;
    if ((type != atEnd && etype != type) || (id != -1 && eid != id)) continue;
    if (!cursor.Seen.insert({ref, etype, eid}).second) continue;
    int64_t offset = GetRecordOffset(ref);
    if (offset <= 0) continue;
    TRecordBytes rec = OpenMftRec(offset);
    if (!rec) continue;
    if (TNtfsAttr a = FindAttrInRecord(rec, etype, eid)) return a;
  }
  return {};
}

TNtfsAttr TMftReader::FindAttrInRecord(const TRecordBytes& record, uint32_t type, int32_t id) const {
  if (!record || record->size() < RecordSize || RecordSize == 0) return {};
  TLeReader r(record->data(), RecordSize);
  for (size_t off = r.U16(20); off + 8 <= RecordSize;) {
    uint32_t t = r.U32(off);
    if (t == atEnd) break;
    size_t len = r.U16(off + 4);
    if (len < 16 || off + len > RecordSize) break;
    if ((type == atEnd || t == type) && (id == -1 || r.U16(off + 14) == static_cast<uint16_t>(id)))
      return TNtfsAttr(record, off, len);
    off += len;
  }
  return {};
}

bool TMftReader::DecompressRunList(const TNtfsAttr& attr, TRunList& runs) const {
  runs.clear();
  if (!attr || !attr.NonResident()) return true;
  std::span<const uint8_t> a = attr.Span();
  TLeReader r(a);
  const size_t end = a.size();
  size_t p = r.U16(0x20);
  if (p >= end) return true;
  uint64_t vcn = static_cast<uint64_t>(attr.StartVcn());
  int64_t lcn = 0;
  while (p < end && a[p] != 0) {
    const size_t L = a[p] & 0x0F, F = a[p] >> 4;
    if (L == 0) break;
    const size_t next = p + 1 + L + F;
    if (L > 8 || F > 8 || next > end) {
      WriteDebugLog("%s: run reaches past its attribute; Offset = %zu; Attribute Length = %zu",
                    "MftReader.DecompressRunList", p, end);
      runs.clear();
      return false;
    }
    const uint64_t len = r.UN(p + 1, L);
    TNtfsRun run{static_cast<int64_t>(vcn), -1, static_cast<uint32_t>(len)};
    vcn += len;
    if (F != 0) {
      int64_t offset = r.SN(p + 1 + L, F);
      if (offset != 0) {
        if (__builtin_add_overflow(lcn, offset, &lcn)) {
          WriteDebugLog("%s: run offset overflows; Offset = %zu", "MftReader.DecompressRunList", p);
          runs.clear();
          return false;
        }
      } else {
        // An explicit zero offset: the run continues after the previous run
        // with clusters, and its length is completed from the following run.
        const TNtfsRun* prev = nullptr;
        if (!runs.empty()) prev = runs.back().Lcn > 0 ? &runs.back() : (runs.size() >= 2 ? &runs[runs.size() - 2] : nullptr);
        if (prev && __builtin_add_overflow(lcn, int64_t{prev->Length}, &lcn)) {
          WriteDebugLog("%s: run offset overflows; Offset = %zu", "MftReader.DecompressRunList", p);
          runs.clear();
          return false;
        }
        if (next + 1 < end && a[next] != 0 && a[next + 1] <= 16) run.Length = 16u - a[next + 1];
      }
      run.Lcn = lcn;
    }
    runs.push_back(run);
    p = next;
  }
  return true;
}

void TMftReader::GetFileRunList(const TNtfsFileInfo& fileInfo, TRunList& runs) const {
  runs.clear();
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (!a.NonResident() || a.HasName()) continue;
    TRunList part;
    DecompressRunList(a, part);
    runs.insert(runs.end(), part.begin(), part.end());
  }
}

TNtfsAttr TMftReader::GetFileDataStreamsRunList(const TNtfsFileInfo& fileInfo, const std::string& name,
                                                TRunList& runs) const {
  runs.clear();
  TNtfsAttr first;
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (a.HasName() && !a.NameReadable()) {
      WriteDebugLog("%s: stream name outside its attribute; Attribute Length = %zu",
                    "MftReader.GetFileDataStreamsRunList", a.Span().size());
      continue;
    }
    if (!SameStreamName(a.Name(), name)) continue;
    if (!first) first = a;
    if (!a.NonResident()) break;
    if (runs.empty()) {
      DecompressRunList(a, runs);
      continue;
    }
    TRunList part;
    DecompressRunList(a, part);
    runs.insert(runs.end(), part.begin(), part.end());
  }
  return first;
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
    std::vector<uint8_t> data = ReadAttrContent(a, MAX_EFS_BYTES);
    if (!data.empty()) return data;
  }
  return {};
}

std::string TMftReader::GetFileName(TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atFileName, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    std::span<const uint8_t> v = a.Value();
    TLeReader r(v);
    if (v.size() < 66 || r.U8(65) == 2) continue;
    fileInfo.ParentRecord = static_cast<int64_t>(r.U64(0)) & MFT_REF_MASK;
    size_t len = r.U8(64);
    std::span<const uint8_t> chars = r.Bytes(66, len * 2);
    if (len != 0 && chars.empty()) continue;
    return Utf16LeToUtf8(chars.data(), len);
  }
  return {};
}

int64_t TMftReader::GetFileSize(TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atData, ctx);
  while (TNtfsAttr a = FindNextAttr(ctx)) {
    if (a.HasName()) continue;
    fileInfo.CompressionUnit = a.CompressionExponent();
    int64_t size = a.DataSize();
    return size < 0 ? 0 : size;
  }
  return 0;
}

bool TMftReader::GetStdInfo(TFileInfo& entry, TNtfsFileInfo& fileInfo) const {
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(fileInfo, atStandardInformation, ctx);
  TNtfsAttr a = FindNextAttr(ctx);
  std::span<const uint8_t> v = a.Value();
  if (v.size() < 40) return false;
  TLeReader r(v);
  entry.Attributes = r.U32(32);
  entry.CreationTime = r.U64(0);
  entry.LastWriteTime = r.U64(8);
  fileInfo.Compressed = entry.Attributes & faCompressed;
  fileInfo.Encrypted = entry.Attributes & faEncrypted;
  return true;
}

int64_t TMftReader::CountFreeMftRecords() const {
  // The MFT's bitmap is read only here: every recovery stream opens a reader
  // of its own, and none of them needs it.
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> mft = ReadFileInfo(0, valid, ClusterOffset(MftLcn));
  if (!mft) return 0;
  TNtfsAttrLookupContext ctx;
  InitAttrSearchContext(*mft, atBitmap, ctx);
  const TNtfsAttr bitmap = FindNextAttr(ctx);
  std::vector<uint8_t> bits = ReadAttrContent(bitmap, MAX_MFT_BITMAP_BYTES);
  // Only the bits of records the MFT holds: past them lie the bitmap's
  // unused bytes and its clusters' slack, which name no record.
  const int64_t records = RecordSize == 0 ? 0 : MftDataSize / RecordSize;
  int64_t zeros = 0;
  for (int64_t i = 0; i < records && static_cast<uint64_t>(i / 8) < bits.size(); ++i)
    zeros += !(bits[static_cast<size_t>(i / 8)] >> (i % 8) & 1);
  return zeros;
}

std::vector<uint8_t> TMftReader::ReadAttrContent(const TNtfsAttr& attr, size_t limit) const {
  if (!attr.NonResident()) {
    std::span<const uint8_t> v = attr.Value();
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(std::min(v.size(), limit)));
  }
  TRunList runs;
  DecompressRunList(attr, runs);
  return ReadRuns(runs, limit);
}

std::vector<uint8_t> TMftReader::ReadRuns(const TRunList& runs, size_t limit) const {
  std::vector<uint8_t> out;
  if (!VolumeHandle || ClusterSize == 0) return out;
  for (const TNtfsRun& r : runs) {
    if (out.size() >= limit) break;
    size_t want = static_cast<size_t>(std::min<uint64_t>(uint64_t{r.Length} * ClusterSize, limit - out.size()));
    size_t at = out.size();
    out.resize(at + want);
    if (r.Lcn < 0) continue;
    size_t got = ClusterOffset(r.Lcn) < 0 ? 0 : ReadDisk(*VolumeHandle, out.data() + at, want, ClusterOffset(r.Lcn));
    if (got < want) {
      WriteDebugLog("%s: unable to read clusters; Lcn = %lld; Size = %zu; Read = %zu", "MftReader.ReadRuns",
                    static_cast<long long>(r.Lcn), want, got);
      out.resize(at + got);
      break;
    }
  }
  return out;
}

}  // namespace mirel
