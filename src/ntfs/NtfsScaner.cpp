#include "ntfs/NtfsScaner.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/UpdateView.h"
#include "ntfs/EfsImage.h"
#include "ntfs/RecoveryNtfsStream.h"

namespace mirel {

namespace {

// The MFT is read in blocks of this size rather than one read per record.
constexpr size_t MFT_BLOCK = 1 << 20;
// Bitmap bytes read and cached at a time: 64 KiB cover 2 GiB of 4 KiB clusters.
constexpr size_t BITMAP_CHUNK = 64 << 10;

// A window of MFT bytes read ahead in large blocks.
class TMftBlock {
public:
  explicit TMftBlock(const TRawSource& handle) : Handle(handle) {}
  // need bytes at pos (fewer where the volume ends); a new block is read from
  // pos when they are not all held, reaching at most to limit.
  std::span<const uint8_t> Get(int64_t pos, size_t need, int64_t limit) {
    if (pos >= Start && pos + static_cast<int64_t>(need) <= Start + static_cast<int64_t>(Valid))
      return {Buf.data() + (pos - Start), need};
    size_t want = static_cast<size_t>(std::clamp<int64_t>(limit - pos, static_cast<int64_t>(need), MFT_BLOCK));
    Buf.resize(want);
    Start = pos;
    Valid = ReadDisk(Handle, Buf.data(), want, pos);
    return {Buf.data(), std::min(need, Valid)};
  }

private:
  const TRawSource& Handle;
  std::vector<uint8_t> Buf;
  int64_t Start = -1;
  size_t Valid = 0;
};

}  // namespace

TNtfsScaner::TNtfsScaner(TDiskObject* disk) : TDiskScaner(disk) {}

TNtfsScaner::~TNtfsScaner() { ReleaseScanData(); }

void TNtfsScaner::ReleaseScanData() {
  TDiskScaner::ReleaseScanData();
  FolderIndex.clear();
  BitmapStream.reset();
  BitmapEntry.reset();
  BitmapChunks.clear();
  Reader.reset();
}

bool TNtfsScaner::Init() {
  BitmapStream.reset();
  Reader.reset();
  bool ok = TDiskScaner::Init();
  if (ok) {
    Reader = std::make_unique<TMftReader>(&Handle, Disk ? Disk->BootSectorOffset : 0);
    ClusterSize = Reader->ClusterSize;
  }
  return ok;
}

void TNtfsScaner::ScanForFiles() {
  if (Disk) Disk->ClearCatalogue();
  if (!Init()) return;
  ReadClustersBitmap();

  const TMftReader& r = *Reader;
  const int64_t cs = r.ClusterSize;
  // Records lie only within the MFT's data; its runs may allocate more, and a
  // damaged run list may claim clusters far past it.
  const int64_t mftBytes = (r.MftDataSize + cs - 1) / std::max<int64_t>(cs, 1) * cs;
  const int64_t volumeBytes = Handle.Size();
  const uint8_t flags = QuickScan ? rfDeletedOnly : 0;
  TMftBlock block(Handle);
  int64_t walked = 0;
  for (const TNtfsRun& run : r.MftRunList) {
    if (walked >= mftBytes || IsStopped()) break;
    const int64_t start = r.ClusterOffset(run.Lcn);
    const int64_t runBytes = int64_t{run.Length} * cs;
    if (start < 0 || start >= volumeBytes) {
      WriteDebugLog("%s: MFT run outside the volume; Lcn = %lld; Length = %u", "NtfsScaner.ScanForFiles",
                    static_cast<long long>(run.Lcn), run.Length);
      walked += runBytes;
      continue;
    }
    const int64_t end = std::min({start + runBytes, volumeBytes, start + (mftBytes - walked)});
    const int64_t runFirst = walked;
    for (int64_t pos = start; pos < end;) {
      if (IsStopped()) break;
      bool valid = false;
      const int64_t number = (runFirst + pos - start) / r.RecordSize;
      std::span<const uint8_t> bytes = block.Get(pos, r.RecordSize, end);
      std::unique_ptr<TNtfsFileInfo> rec = r.ReadFileInfo(flags, valid, bytes);
      if (rec && !rec->IsDirectory) {
        try {
          PublishRecord(std::move(rec), number);
        } catch (const std::exception& e) {
          WriteDebugLog("%s: %s raised exception; Record = %lld", "NtfsScaner.AddFile", e.what(),
                        static_cast<long long>(number));
        }
      }
      // Past what is no record at all the walk moves a whole cluster on; a
      // torn record costs only itself, its neighbours are records still.
      const bool torn = !valid && bytes.size() >= 4 && std::memcmp(bytes.data(), "FILE", 4) == 0;
      if (torn)
        WriteDebugLog("%s: record fails its update-sequence check; Record = %lld; Offset = %lld",
                      "NtfsScaner.ScanForFiles", static_cast<long long>(number), static_cast<long long>(pos));
      const int64_t step = valid || torn ? r.RecordSize : cs;
      pos += step;
      walked = runFirst + (pos - start);
      UpdatingThread().ScanProgress(Disk, std::min(walked, r.MftDataSize), r.MftDataSize);
    }
    walked = runFirst + runBytes;
  }
  UpdatingThread().ScanDone(Disk);
}

void TNtfsScaner::PublishRecord(std::unique_ptr<TNtfsFileInfo> rec, int64_t recordNumber) {
  rec->RecordNumber = recordNumber;
  // A record without any $FILE_NAME names no file (mkntfs leaves such
  // placeholders unused in the reserved range).
  TNtfsAttrLookupContext names;
  Reader->InitAttrSearchContext(*rec, atFileName, names);
  if (!Reader->FindNextAttr(names)) return;
  TFileInfo t;
  t.Name = Reader->GetFileName(*rec);
  t.Size = Reader->GetFileSize(*rec);
  if (!Reader->GetStdInfo(t, *rec)) return;
  t.Parent = AddDirToTree(rec->ParentRecord);
  // A live file of the Long mode still has all its clusters.
  t.Condition = rec->Deleted ? CalcFileCondition(*rec) : 100;
  // Most files have no named stream: the list is made only for those that do.
  TNtfsAttrLookupContext data;
  Reader->InitAttrSearchContext(*rec, atData, data);
  bool named = false;
  while (!named) {
    const TNtfsAttr a = Reader->FindNextAttr(data);
    if (!a) break;
    named = a.HasName();
  }
  if (named)
    for (TNamedStream& s : Reader->GetFileStreams(*rec))
      if (!s.Name.empty()) rec->Streams.push_back(std::move(s));
  // Everything the catalogue shows is taken; the record is read again when
  // the file is opened.
  rec->RecordData.reset();
  AddFile(std::move(t), std::move(rec));
}

namespace {

PFileInfo NewEntry(TFileInfo& t, std::unique_ptr<TNtfsFileInfo> rec) {
  auto* e = new TFileInfo;
  e->Name = std::move(t.Name);
  e->Size = t.Size;
  e->Attributes = t.Attributes;
  e->CreationTime = t.CreationTime;
  e->LastWriteTime = t.LastWriteTime;
  e->Condition = t.Condition;
  e->Parent = t.Parent;
  e->TreeNode = t.TreeNode;
  e->FsInfo = std::move(rec);
  return e;
}

}  // namespace

int TNtfsScaner::AddFile(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec) {
  if (!Disk || !rec) return -1;
  PFileInfo e = NewEntry(tmpl, std::move(rec));
  int i = Disk->Files.Add(e);
  PublishFile(e);
  return i;
}

int TNtfsScaner::AddDir(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec) {
  if (!Disk || !rec) return -1;
  const int64_t n = rec->RecordNumber & MFT_REF_MASK;
  PFileInfo e = NewEntry(tmpl, std::move(rec));
  int i = Disk->Folders.Add(e);
  FolderIndex[n] = e;
  PublishFolder(e);
  return i;
}

PFileInfo TNtfsScaner::FindFolder(int64_t n) const {
  auto it = FolderIndex.find(n & MFT_REF_MASK);
  return it == FolderIndex.end() ? nullptr : it->second;
}

PFileInfo TNtfsScaner::AddDirToTree(int64_t n) {
  std::vector<int64_t> chain;
  return AddDirToTree(n, chain);
}

PFileInfo TNtfsScaner::AddDirToTree(int64_t n, std::vector<int64_t>& chain) {
  n &= MFT_REF_MASK;
  if (PFileInfo f = FindFolder(n)) return f;
  if (!Reader) return nullptr;
  // A folder is never linked under itself or its own descendants: the folder
  // that would close a loop is left at the top.
  if (std::find(chain.begin(), chain.end(), n) != chain.end() || chain.size() >= MAX_FOLDER_DEPTH) {
    WriteDebugLog("%s: parent chain loops or is too deep; Record = %lld; Depth = %zu", "NtfsScaner.AddDirToTree",
                  static_cast<long long>(n), chain.size());
    return nullptr;
  }
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> rec = Reader->ReadFileInfo(0, valid, Reader->GetRecordOffset(n));
  if (!rec) return nullptr;
  chain.push_back(n);
  TFileInfo t;
  if (rec->IsDirectory) {
    if (n == ROOT_RECORD)
      t.Name = (Disk ? Disk->Name + ": (" + Disk->VolumeLabel : std::string(": (")) + ")";
    else
      t.Name = Reader->GetFileName(*rec);
    Reader->GetStdInfo(t, *rec);
    if (rec->ParentRecord > 0 && rec->ParentRecord != n) t.Parent = AddDirToTree(rec->ParentRecord, chain);
  } else {
    // The record was reused by a file: the folder is known only by its number.
    t.Name = "$folder_" + std::to_string(n);
    rec->Deleted = true;
    t.Parent = AddDirToTree(ROOT_RECORD, chain);
  }
  chain.pop_back();
  rec->RecordNumber = n;
  int i = AddDir(std::move(t), std::move(rec));
  return i >= 0 ? Disk->Folders[i] : nullptr;
}

void TNtfsScaner::ReadClustersBitmap() {
  BitmapStream.reset();
  BitmapEntry.reset();
  BitmapChunks.clear();
  if (!Reader) return;
  const int64_t offset = Reader->GetRecordOffset(BITMAP_RECORD);
  if (offset <= 0) return;
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> rec = Reader->ReadFileInfo(0, valid, offset);
  if (!rec) {
    WriteDebugLog("%s: unable to read the cluster bitmap record; Offset = %lld", "NtfsScaner.ReadClustersBitmap",
                  static_cast<long long>(offset));
    return;
  }
  BitmapEntry = std::make_unique<TFileInfo>();
  BitmapEntry->Disk = Disk;
  BitmapEntry->Size = Reader->GetFileSize(*rec);
  BitmapEntry->FsInfo = std::move(rec);
  BitmapStream = std::make_unique<TRecoveryNtfsStream>(Reader.get(), BitmapEntry.get());
}

std::span<const uint8_t> TNtfsScaner::BitmapBytes(int64_t byte) {
  if (!BitmapStream || byte < 0 || byte >= BitmapStream->GetSize()) return {};
  const auto chunk = static_cast<size_t>(byte / BITMAP_CHUNK);
  if (chunk >= BitmapChunks.size()) BitmapChunks.resize(chunk + 1);
  std::vector<uint8_t>& bytes = BitmapChunks[chunk];
  if (bytes.empty()) {
    const int64_t first = static_cast<int64_t>(chunk * BITMAP_CHUNK);
    bytes.resize(static_cast<size_t>(std::min<int64_t>(BITMAP_CHUNK, BitmapStream->GetSize() - first)));
    BitmapStream->Seek(first, TSeekOrigin::Beginning);
    // Bytes that cannot be read count as clusters in use.
    const size_t got = BitmapStream->Read(bytes.data(), bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got), bytes.end(), uint8_t{0xFF});
  }
  const size_t at = static_cast<size_t>(byte % BITMAP_CHUNK);
  return std::span<const uint8_t>(bytes).subspan(at);
}

int64_t TNtfsScaner::CountFreeClusters(int64_t lcn, int64_t count, bool& stopped) {
  stopped = false;
  if (!BitmapStream || lcn < 0 || count <= 0) return 0;
  // Clusters past the bitmap count as in use without being visited.
  const int64_t bitmapClusters = BitmapStream->GetSize() > INT64_MAX / 8 ? INT64_MAX : BitmapStream->GetSize() * 8;
  if (lcn >= bitmapClusters) return 0;
  const int64_t last = lcn + std::min(count, bitmapClusters - lcn);
  int64_t free = 0;
  for (int64_t c = lcn; c < last;) {
    if (IsStopped()) {
      stopped = true;
      return 0;
    }
    const int64_t firstByte = c / 8;
    std::span<const uint8_t> bytes = BitmapBytes(firstByte);
    if (bytes.empty()) break;
    const int64_t sliceEnd = std::min(last, (firstByte + static_cast<int64_t>(bytes.size())) * 8);
    // Whole bytes are counted at once; the ends of the range bit by bit.
    for (; c < sliceEnd; ++c) {
      const uint8_t b = bytes[static_cast<size_t>(c / 8 - firstByte)];
      if (c % 8 == 0 && c + 8 <= sliceEnd) {
        free += 8 - std::popcount(b);
        c += 7;
      } else if (!(b >> (c % 8) & 1)) {
        ++free;
      }
    }
  }
  return free;
}

bool TNtfsScaner::IsClusterFree(int64_t lcn) {
  bool stopped = false;
  return CountFreeClusters(lcn, 1, stopped) == 1;
}

int TNtfsScaner::CalcFileCondition(const TNtfsFileInfo& rec) {
  if (!Reader) return 0;
  TRunList runs;
  TNtfsAttr data = Reader->GetFileDataStreamsRunList(rec, {}, runs);
  if (!data) return 0;
  if (!data.NonResident()) return 100;
  int64_t total = 0, free = 0;
  for (const TNtfsRun& run : runs) {
    if (run.Lcn < 0) continue;
    bool stopped = false;
    total += run.Length;
    free += CountFreeClusters(run.Lcn, run.Length, stopped);
    if (stopped) return 0;
  }
  return total > 0 ? static_cast<int>(free * 100 / total) : 0;
}

std::vector<uint8_t> TNtfsScaner::CreateEfsRecoveryData(const TFileInfo& entry) const {
  const auto* rec = dynamic_cast<const TNtfsFileInfo*>(entry.FsInfo.get());
  if (!rec || !rec->Encrypted || !Reader) return {};
  return BuildEfsImageHeader(Reader->GetEfsData(*rec));
}

}  // namespace mirel
