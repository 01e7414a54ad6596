#include "ntfs/NtfsScaner.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <optional>
#include <thread>

#include "core/BatchQueue.h"
#include "core/DebugLog.h"
#include "core/DiskObject.h"
#include "core/UpdateView.h"
#include "ntfs/EfsImage.h"
#include "ntfs/NtfsFixups.h"
#include "ntfs/NtfsRecordHeader.h"
#include "ntfs/RecoveryNtfsStream.h"

namespace mirel {

size_t ReadMarkingMissing(TRecoveryStream& stream, uint8_t* buffer, size_t count) {
  const int64_t at = stream.Position();
  const size_t got = stream.Read(buffer, count);
  std::fill(buffer + got, buffer + count, uint8_t{0xFF});
  for (const TByteRange& r : stream.Missing()) {
    const int64_t from = std::max(r.Offset, at), to = std::min(r.End(), at + static_cast<int64_t>(got));
    if (from < to) std::fill(buffer + (from - at), buffer + (to - at), uint8_t{0xFF});
  }
  return got;
}

namespace {

// The MFT is read in blocks of this size rather than one read per record.
constexpr size_t MFT_BLOCK = 1 << 20;
// Bitmap bytes read and cached at a time: 64 KiB cover 2 GiB of 4 KiB clusters.
constexpr size_t BITMAP_CHUNK = 64 << 10;

// Records handed from the walking thread to the cataloguing one at a time,
// and batches the walker may be ahead by: half a MiB of 1 KiB records.
constexpr size_t BATCH_RECORDS = 64;
constexpr size_t QUEUED_BATCHES = 8;

// Ranges of warnings kept before the rest are only counted.
constexpr size_t MAX_RANGE_WARNINGS = 20;

// A window of MFT bytes read ahead in large blocks; what the source cannot
// give is zero-filled and remembered.
class TMftBlock {
public:
  explicit TMftBlock(const TByteSource& handle) : Handle(handle) {}
  // need bytes at pos; a new block is read from pos when they are not all
  // held, reaching at most to limit. unreadable tells whether any of them
  // could not be read.
  std::span<const uint8_t> Get(int64_t pos, size_t need, int64_t limit, bool& unreadable) {
    if (!(pos >= Start && pos + static_cast<int64_t>(need) <= Start + static_cast<int64_t>(Buf.size()))) {
      const auto want = static_cast<size_t>(std::clamp<int64_t>(limit - pos, static_cast<int64_t>(need), MFT_BLOCK));
      Buf.resize(want);
      Start = pos;
      Bad.Clear();
      (void)ReadDiskPatched(Handle, Buf.data(), want, pos, Bad);
    }
    unreadable = Bad.Intersects(pos - Start, static_cast<int64_t>(need));
    return {Buf.data() + (pos - Start), need};
  }

private:
  const TByteSource& Handle;
  std::vector<uint8_t> Buf;
  TByteRanges Bad;
  int64_t Start = -1;
};

std::string RecordRange(const TByteRange& r) {
  return r.Length == 1 ? "MFT record " + std::to_string(r.Offset)
                       : "MFT records " + std::to_string(r.Offset) + ".." + std::to_string(r.End() - 1);
}

}  // namespace

TNtfsScaner::TNtfsScaner(TDiskObject* disk) : TDiskScaner(disk) {}

TNtfsScaner::~TNtfsScaner() { ReleaseScanData(); }

void TNtfsScaner::ReleaseScanData() {
  TDiskScaner::ReleaseScanData();
  FolderIndex.clear();
  BitmapStream.reset();
  BitmapEntry.reset();
  BitmapChunks.clear();
  BitmapUnread.Clear();
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

// Records the walking thread read and found worth decoding, as they lie in
// the MFT: one block of bytes per batch, so that the memory changes threads
// once per batch and not once per record.
struct TNtfsScaner::TRecordBatch {
  std::vector<uint8_t> Bytes;
  std::vector<int64_t> Numbers;
  // Bytes of the MFT walked when the batch was handed over.
  int64_t Walked = 0;
};

struct TNtfsScaner::TLostRecords {
  TByteRanges PastEnd, Unreadable, Unplaced, Damaged;
  void Add(TByteRanges& to, int64_t first, int64_t end) {
    if (end > first) to.Add(first, end - first);
  }
};

void TNtfsScaner::ScanForFiles() {
  ClearScanProblems();
  if (Disk) Disk->ClearCatalogue();
  if (!Init()) {
    ScanFailure = "the volume cannot be opened" + (Handle.Error().empty() ? std::string() : ": " + Handle.Error());
    return;
  }
  if (Reader->MftRunList.empty()) {
    // Without the MFT's own record and runs no record can be found.
    ScanFailure = Reader->Failure.empty() ? std::string("the MFT cannot be read") : Reader->Failure;
    ReportDone();
    return;
  }
  ReadClustersBitmap();

  // Records are read, checked and sorted out on a thread of their own while
  // this one decodes those kept, links them into the tree, rates them
  // against the bitmap and catalogues them.
  TLostRecords lost;
  TBatchQueue<TRecordBatch> queue(QUEUED_BATCHES);
  std::exception_ptr walkFailure;
  std::thread walker([&] {
    try {
      WalkMft(queue, lost);
    } catch (...) {
      walkFailure = std::current_exception();
    }
    queue.Close();
  });
  // However this thread leaves, the walker is told and waited for.
  struct TJoin {
    TBatchQueue<TRecordBatch>& Queue;
    std::thread& Walker;
    ~TJoin() {
      if (!Walker.joinable()) return;
      Queue.Abandon();
      Walker.join();
    }
  } join{queue, walker};
  const size_t rs = Reader->RecordSize;
  std::shared_ptr<std::vector<uint8_t>> scratch;
  while (std::optional<TRecordBatch> batch = queue.Pop()) {
    for (size_t i = 0; i < batch->Numbers.size() && !IsStopped(); ++i) {
      const int64_t number = batch->Numbers[i];
      const auto bytes = std::span<const uint8_t>(batch->Bytes).subspan(i * rs, rs);
      // A catalogued file keeps no hold on its record's bytes: the buffer
      // serves the next record unless something still holds it.
      if (!scratch || scratch.use_count() != 1) scratch = std::make_shared<std::vector<uint8_t>>(rs);
      std::copy(bytes.begin(), bytes.end(), scratch->begin());
      std::unique_ptr<TNtfsFileInfo> rec = Reader->IndexRecord(scratch);
      if (!rec || rec->IsDirectory) continue;
      try {
        PublishRecord(std::move(rec), number);
      } catch (const std::exception& e) {
        WriteDebugLog("%s: %s raised exception; Record = %lld", "NtfsScaner.AddFile", e.what(),
                      static_cast<long long>(number));
      }
    }
    if (IsStopped()) break;
    ReportProgress(batch->Walked, Reader->MftDataSize);
  }
  queue.Abandon();
  walker.join();
  if (walkFailure) std::rethrow_exception(walkFailure);

  if (!IsStopped()) {
    ReportLostRecords(lost.PastEnd, "could not be read: the source ends before the MFT does");
    ReportLostRecords(lost.Unreadable, "could not be read (read error)");
    ReportLostRecords(lost.Unplaced, "could not be read: the MFT's run list is damaged");
    ReportLostRecords(lost.Damaged, "could not be decoded: torn or damaged");
    if (Reader->MftLostExtents > 0 && lost.Unplaced.Empty())
      ScanWarnings.push_back("part of the MFT's run list is damaged: some MFT records may not have been read");
    if (BitmapStream && !BitmapStream->Missing().Empty())
      ScanWarnings.push_back(
          "part of the cluster bitmap ($Bitmap) could not be read: files with clusters there "
          "are rated as overwritten");
  }
  ReportDone();
}

void TNtfsScaner::WalkMft(TBatchQueue<TRecordBatch>& queue, TLostRecords& lost) const {
  const TMftReader& r = *Reader;
  const int64_t cs = r.ClusterSize, rs = r.RecordSize;
  // Records lie only within the MFT's data; its runs may allocate more, and a
  // damaged run list may claim clusters far past it.
  const int64_t mftBytes = (r.MftDataSize + cs - 1) / cs * cs;
  const int64_t volumeBytes = Handle.Size();
  TMftBlock block(Handle);
  TRecordBatch batch;
  batch.Bytes.reserve(BATCH_RECORDS * static_cast<size_t>(rs));
  auto handOver = [&](int64_t walked) {
    batch.Walked = std::min(walked, r.MftDataSize);
    const bool taken = queue.Push(std::move(batch));
    batch = TRecordBatch();
    batch.Bytes.reserve(BATCH_RECORDS * static_cast<size_t>(rs));
    return taken;
  };
  auto records = [rs](int64_t first, int64_t end) { return std::pair{first / rs, (end + rs - 1) / rs}; };
  int64_t placed = 0;
  for (const TNtfsRun& run : r.MftRunList) {
    if (IsStopped()) return;
    int64_t vStart, vEnd;
    if (__builtin_mul_overflow(run.Vcn, cs, &vStart) || vStart >= mftBytes) break;
    vEnd = std::min(mftBytes, vStart + int64_t{run.Length} * cs);
    if (vStart > placed) {
      auto [a, b] = records(placed, vStart);
      lost.Add(lost.Unplaced, a, b);
    }
    placed = std::max(placed, vEnd);
    const int64_t start = r.ClusterOffset(run.Lcn);
    if (start < 0 || start >= volumeBytes) {
      WriteDebugLog("%s: MFT run outside the volume; Lcn = %lld; Length = %u", "NtfsScaner.ScanForFiles",
                    static_cast<long long>(run.Lcn), run.Length);
      auto [a, b] = records(vStart, vEnd);
      lost.Add(start < 0 ? lost.Unplaced : lost.PastEnd, a, b);
      continue;
    }
    const int64_t end = start + (vEnd - vStart);
    int64_t pos = start;
    while (pos < end && pos + rs <= volumeBytes) {
      if (IsStopped()) return;
      bool valid = false, unreadable = false;
      const int64_t number = (vStart + pos - start) / rs;
      std::span<const uint8_t> bytes = block.Get(pos, static_cast<size_t>(rs), end, unreadable);
      if (unreadable) {
        lost.Add(lost.Unreadable, number, number + 1);
        pos += rs;
        continue;
      }
      if ((valid = r.FixupsIntact(bytes)) && Wanted(bytes)) {
        // The fixups are put in place here, off the cataloguing thread.
        batch.Bytes.insert(batch.Bytes.end(), bytes.begin(), bytes.end());
        if (ApplyFixups(std::span(batch.Bytes).last(bytes.size()), r.BytesPerSector) == TFixupResult::Applied)
          batch.Numbers.push_back(number);
        else
          batch.Bytes.resize(batch.Bytes.size() - bytes.size());
      }
      // Past what is no record at all the walk moves a whole cluster on; a
      // torn record costs only itself, its neighbours are records still.
      const bool torn = !valid && std::memcmp(bytes.data(), "FILE", 4) == 0;
      if (torn) {
        WriteDebugLog("%s: record fails its update-sequence check; Record = %lld; Offset = %lld",
                      "NtfsScaner.ScanForFiles", static_cast<long long>(number), static_cast<long long>(pos));
        lost.Add(lost.Damaged, number, number + 1);
      }
      pos += valid || torn ? rs : cs;
      if (batch.Numbers.size() >= BATCH_RECORDS && !handOver(vStart + pos - start)) return;
    }
    if (!handOver(vStart + pos - start)) return;
    if (pos < end) {
      auto [a, b] = records(vStart + (pos - start), vEnd);
      lost.Add(lost.PastEnd, a, b);
    }
  }
  if (placed < r.MftDataSize) {
    auto [a, b] = records(placed, r.MftDataSize);
    lost.Add(lost.Unplaced, a, b);
  }
}

void TNtfsScaner::ReportLostRecords(const TByteRanges& records, const std::string& why) {
  size_t shown = 0;
  for (const TByteRange& r : records) {
    if (shown++ == MAX_RANGE_WARNINGS) {
      ScanWarnings.push_back("and " + std::to_string(records.Count() - MAX_RANGE_WARNINGS) +
                             " more ranges of MFT records " + why);
      break;
    }
    ScanWarnings.push_back(RecordRange(r) + " " + why);
  }
}

bool TNtfsScaner::Wanted(std::span<const uint8_t> record) const {
  // The flags and the base reference lie before the first sector's end,
  // where no fixup reaches.
  const std::optional<TMftRecordHeader> head = DecodeMftRecordHeader(record);
  if (!head || head->IsDirectory()) return false;
  return !Options.Quick || (!head->InUse() && head->IsBase());
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
  if (!Reader->GetStdInfo(t, *rec)) return;
  const TStreamRuns data = Reader->GetFileDataStreamsRunList(*rec, {});
  t.Size = data.First ? data.DataSize : 0;
  t.Parent = AddDirToTree(rec->ParentRecord());
  t.Condition = static_cast<int16_t>(CalcFileCondition(*rec, data));  // a percentage
  // An encrypted file is saved as its raw image only when its $EFS data can
  // make one; the writer asks before it opens the stream.
  if (rec->Encrypted && BuildEfsImageHeader(Reader->GetEfsData(*rec)).empty()) {
    WriteDebugLog("%s: no usable $EFS data, the file is served as stored; Record = %lld", "NtfsScaner.AddFile",
                  static_cast<long long>(recordNumber));
    rec->Encrypted = false;
  }
  // Most files have no named stream: the list is made only for those that
  // do. Without an attribute list the record's index already tells.
  bool named = rec->RecordData.HasNamedData();
  if (rec->HasAttrList()) {
    TNtfsAttrLookupContext streams;
    Reader->InitAttrSearchContext(*rec, atData, streams);
    while (!named) {
      const TNtfsAttr a = Reader->FindNextAttr(streams);
      if (!a) break;
      named = a.HasName();
    }
  }
  if (named) {
    rec->Streams = std::make_unique<std::vector<TNamedStream>>();
    for (TNamedStream& s : Reader->GetFileStreams(*rec))
      if (!s.Name.empty()) rec->Streams->push_back(std::move(s));
  }
  // Everything the catalogue shows is taken; the record is read again when
  // the file is opened.
  rec->RecordData.reset();
  if (AddFile(std::move(t), std::move(rec)) < 0)
    WriteDebugLog("%s: the file could not be catalogued; Record = %lld", "NtfsScaner.AddFile",
                  static_cast<long long>(recordNumber));
}

int TNtfsScaner::AddFile(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec) {
  if (!Disk || !rec) return -1;
  tmpl.FsInfo = std::move(rec);
  TFileInfo* e = Disk->Catalogue.Add(std::move(tmpl));
  int i = Disk->Files.Add(e);
  PublishFile(e);
  return i;
}

int TNtfsScaner::AddDir(TFileInfo tmpl, std::unique_ptr<TNtfsFileInfo> rec) {
  if (!Disk || !rec) return -1;
  const int64_t n = rec->RecordNumber & MFT_REF_MASK;
  tmpl.FsInfo = std::move(rec);
  TFileInfo* e = Disk->Catalogue.Add(std::move(tmpl));
  int i = Disk->Folders.Add(e);
  FolderIndex[n] = e;
  PublishFolder(e);
  return i;
}

TFileInfo* TNtfsScaner::FindFolder(int64_t n) const {
  auto it = FolderIndex.find(n & MFT_REF_MASK);
  return it == FolderIndex.end() ? nullptr : it->second;
}

TFileInfo* TNtfsScaner::AddDirToTree(int64_t n) {
  std::vector<int64_t> chain;
  return AddDirToTree(n, chain);
}

TFileInfo* TNtfsScaner::AddDirToTree(int64_t n, std::vector<int64_t>& chain) {
  n &= MFT_REF_MASK;
  if (TFileInfo* f = FindFolder(n)) return f;
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
  rec->RecordNumber = n;
  chain.push_back(n);
  TFileInfo t;
  if (rec->IsDirectory) {
    if (n == ROOT_RECORD)
      t.Name = (Disk ? Disk->Name + ": (" + Disk->VolumeLabel : std::string(": (")) + ")";
    else
      t.Name = Reader->GetFileName(*rec);
    if (!Reader->GetStdInfo(t, *rec))
      WriteDebugLog("%s: folder without standard information; Record = %lld", "NtfsScaner.AddDirToTree",
                    static_cast<long long>(n));
    if (rec->ParentRecord() > 0 && rec->ParentRecord() != n) t.Parent = AddDirToTree(rec->ParentRecord(), chain);
  } else {
    // The record was reused by a file: the folder is known only by its number.
    t.Name = "$folder_" + std::to_string(n);
    rec->Deleted = true;
    // Its sequence number is lost with it; 0, which no record in use carries,
    // keeps its address apart from the file's that holds the record now.
    rec->Sequence = 0;
    t.Parent = AddDirToTree(ROOT_RECORD, chain);
  }
  chain.pop_back();
  rec->RecordData.reset();
  int i = AddDir(std::move(t), std::move(rec));
  return i >= 0 ? Disk->Folders[i] : nullptr;
}

void TNtfsScaner::ReadClustersBitmap(bool quiet) {
  BitmapStream.reset();
  BitmapEntry.reset();
  BitmapChunks.clear();
  BitmapUnread.Clear();
  BitmapQuiet = quiet;
  if (!Reader) return;
  const int64_t offset = Reader->GetRecordOffset(BITMAP_RECORD);
  bool valid = false;
  std::unique_ptr<TNtfsFileInfo> rec = Reader->ReadFileInfo(0, valid, offset);
  if (!rec && quiet) return;
  if (!rec) {
    WriteDebugLog("%s: unable to read the cluster bitmap record; Offset = %lld", "NtfsScaner.ReadClustersBitmap",
                  static_cast<long long>(offset));
    ScanWarnings.push_back(
        "the cluster bitmap ($Bitmap, MFT record 6) could not be read: deleted files are rated "
        "as overwritten");
    return;
  }
  rec->RecordNumber = BITMAP_RECORD;
  BitmapEntry = std::make_unique<TFileInfo>();
  BitmapEntry->Disk = Disk;
  BitmapEntry->Size = Reader->GetFileSize(*rec);
  BitmapEntry->FsInfo = std::move(rec);
  BitmapStream = std::make_unique<TRecoveryNtfsStream>(Reader.get(), BitmapEntry.get(), quiet);
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
    // What the bitmap does not deliver counts as clusters in use.
    const size_t got = ReadMarkingMissing(*BitmapStream, bytes.data(), bytes.size());
    if (got < bytes.size()) {
      BitmapUnread.Add(first + static_cast<int64_t>(got), static_cast<int64_t>(bytes.size() - got));
      if (!BitmapQuiet)
        WriteDebugLog("%s: the cluster bitmap ends early; Offset = %lld", "NtfsScaner.BitmapBytes",
                      static_cast<long long>(first));
    }
    for (const TByteRange& r : BitmapStream->Missing()) {
      const int64_t from = std::max(r.Offset, first), to = std::min(r.End(), first + static_cast<int64_t>(got));
      if (from < to) BitmapUnread.Add(from, to - from);
    }
  }
  const size_t at = static_cast<size_t>(byte % BITMAP_CHUNK);
  return std::span<const uint8_t>(bytes).subspan(at);
}

int64_t TNtfsScaner::CountFreeClusters(int64_t lcn, int64_t count, bool& stopped) {
  stopped = false;
  if (!BitmapStream || lcn < 0 || count <= 0) return 0;
  // Clusters past the bitmap, and past the end of the source, count as in
  // use without being visited.
  const int64_t bitmapClusters = BitmapStream->GetSize() > INT64_MAX / 8 ? INT64_MAX : BitmapStream->GetSize() * 8;
  const int64_t known = std::min(bitmapClusters, Reader ? Reader->VolumeClusters : 0);
  if (lcn >= known) return 0;
  const int64_t last = lcn + std::min(count, known - lcn);
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

std::vector<TVcnRange> TNtfsScaner::ClustersInUse(int64_t lcn, int64_t count) {
  std::vector<TVcnRange> used;
  if (!BitmapStream || lcn < 0 || count <= 0) return used;
  const int64_t end = count > INT64_MAX - lcn ? INT64_MAX : lcn + count;
  const int64_t bitmapClusters = BitmapStream->GetSize() > INT64_MAX / 8 ? INT64_MAX : BitmapStream->GetSize() * 8;
  const int64_t known = std::clamp<int64_t>(bitmapClusters, lcn, end);
  for (int64_t c = lcn; c < known;) {
    const int64_t firstByte = c / 8;
    std::span<const uint8_t> bytes = BitmapBytes(firstByte);
    if (bytes.empty()) break;
    const int64_t sliceEnd = std::min(known, (firstByte + static_cast<int64_t>(bytes.size())) * 8);
    for (; c < sliceEnd; ++c) {
      const uint8_t b = bytes[static_cast<size_t>(c / 8 - firstByte)];
      // Whole free bytes are passed over at once.
      if (b == 0 && c % 8 == 0 && c + 8 <= sliceEnd) {
        c += 7;
        continue;
      }
      if (!(b >> (c % 8) & 1) || (!BitmapUnread.Empty() && BitmapUnread.Intersects(c / 8, 1))) continue;
      if (!used.empty() && used.back().End == c)
        ++used.back().End;
      else
        used.push_back({c, c + 1});
    }
  }
  return used;
}

int TNtfsScaner::CalcFileCondition(const TNtfsFileInfo& rec, const TStreamRuns& data) {
  if (!Reader) return 0;
  // No unnamed data: a live file has all it has, a deleted one nothing to recover.
  if (!data.First) return rec.Deleted || data.LostExtents > 0 ? 0 : 100;
  if (!data.First.NonResident()) return static_cast<int64_t>(data.First.Value().size()) >= data.DataSize ? 100 : 0;
  const int64_t cs = Reader->ClusterSize;
  // Clusters of the data that no usable extent maps are lost; those past the
  // end of the source are not there; runs without clusters do not count.
  int64_t total = 0, good = 0;
  for (const TVcnRange& gap : data.Gaps(data.DataSize / cs + (data.DataSize % cs != 0))) total += gap.End - gap.First;
  for (size_t i = 0; i < data.Runs.size(); ++i) {
    const TNtfsRun& run = data.Runs[i];
    if (run.Lcn < 0) continue;
    const int64_t length = std::max<int64_t>(0, data.RunEnd(i) - run.Vcn);
    total += length;
    if (!rec.Deleted) {
      good += std::clamp<int64_t>(Reader->VolumeClusters - run.Lcn, 0, length);
      continue;
    }
    bool stopped = false;
    good += CountFreeClusters(run.Lcn, length, stopped);
    if (stopped) return 0;
  }
  int condition = total > 0 ? static_cast<int>(good * 100 / total) : (rec.Deleted ? 0 : 100);
  // A file with a part that cannot be placed is never whole.
  if (data.LostExtents > 0) condition = std::min(condition, 99);
  return condition;
}

std::vector<uint8_t> TNtfsScaner::CreateEfsRecoveryData(const TFileInfo& entry) const {
  const auto* rec = dynamic_cast<const TNtfsFileInfo*>(entry.FsInfo.get());
  if (!rec || !rec->Encrypted || !Reader) return {};
  return BuildEfsImageHeader(Reader->GetEfsData(*rec));
}

}  // namespace mirel
