#pragma once
// The bytes a scan of a volume cannot do without, read in large sequential
// pieces: on FAT the reserved area, every allocation table and every live
// directory reachable from the root; on NTFS the whole master file table.
// The time this takes is the floor for any scan of the same volume. The byte
// ranges are found with the engine's own geometry and record decoding.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/ByteRanges.h"
#include "core/DiskObject.h"
#include "fat/FatDirEntry.h"
#include "fat/FatScaner.h"
#include "fat/FatTable.h"
#include "ntfs/MftReader.h"
#include "platform/RawSource.h"

namespace mirel::bench {

using mirel::TByteRange;

class TMetadataRead {
public:
  static constexpr size_t kChunk = 1 << 20;

  explicit TMetadataRead(TDiskObject& disk) : Disk(disk) {}

  // Reads the metadata; false (with Error) when the volume cannot be read.
  bool Run() {
    Source = Disk.AllocHandle();
    if (!Source.IsValid()) return Fail("cannot open " + Disk.Path);
    if (Disk.FileSystem == fsNtfs) return ReadNtfs();
    if (auto* fat = dynamic_cast<TFatScaner*>(Disk.Scaner.get())) return ReadFat(*fat);
    return Fail(Disk.Path + ": neither FAT nor NTFS");
  }

  // What was read, in reading order; touching ranges are joined.
  std::vector<TByteRange> Ranges;
  int64_t Bytes = 0;
  int64_t Reads = 0;
  std::string Error;

private:
  bool Fail(std::string why) {
    Error = std::move(why);
    return false;
  }

  // Reads [offset, offset + length) in pieces of at most kChunk bytes. Each
  // piece goes to sink(pieceOffset, data, size) when one is given.
  template <typename Sink>
  bool ReadRange(int64_t offset, int64_t length, Sink&& sink) {
    if (Buffer.empty()) Buffer.resize(kChunk);
    for (int64_t done = 0; done < length;) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(kChunk, length - done));
      const size_t got = Source.Read(Buffer.data(), want, offset + done);
      ++Reads;
      if (got != want) return Fail("short read at byte " + std::to_string(offset + done));
      sink(offset + done, Buffer.data(), got);
      done += static_cast<int64_t>(got);
    }
    Bytes += length;
    if (!Ranges.empty() && Ranges.back().Offset + Ranges.back().Length == offset)
      Ranges.back().Length += length;
    else
      Ranges.push_back({offset, length});
    return true;
  }

  bool ReadNtfs() {
    TMftReader mft(&Source, Disk.BootSectorOffset);
    if (mft.MftRunList.empty() || mft.ClusterSize == 0) return Fail(Disk.Path + ": no readable MFT");
    const int64_t cluster = mft.ClusterSize;
    for (const TNtfsRun& run : mft.MftRunList) {
      const int64_t start = run.Vcn * cluster;
      const int64_t length = std::min<int64_t>(int64_t{run.Length} * cluster, mft.MftDataSize - start);
      if (run.Lcn < 0 || length <= 0) continue;
      const int64_t at = mft.ClusterOffset(run.Lcn);
      if (at < 0) return Fail(Disk.Path + ": MFT run outside the volume");
      if (!ReadRange(at, length, [](int64_t, const uint8_t*, size_t) {})) return false;
    }
    return true;
  }

  // The allocation-table entry of cluster n from the copy kept in Table.
  uint32_t FatEntry(uint32_t n) const { return fat::ReadFatEntry(Table, Kind, n).value_or(0); }

  // Contiguous runs of the chain from first, each cluster taken once in the
  // whole walk, so a damaged table cannot make it circle.
  std::vector<TByteRange> Chain(const TFatScaner& fat, uint32_t first) {
    std::vector<TByteRange> runs;
    for (uint32_t c = first; c >= 2 && c <= fat.MaxCluster && SeenClusters.insert(c).second;) {
      const int64_t at = fat.ClusterOffset(c);
      if (!runs.empty() && runs.back().Offset + runs.back().Length == at)
        runs.back().Length += fat.ClusterSize;
      else
        runs.push_back({at, fat.ClusterSize});
      const uint32_t next = FatEntry(c);
      if (fat.EndsChain(next)) break;
      c = next;
    }
    return runs;
  }

  // Queues the live folders a directory's bytes name ("." and ".." aside).
  void QueueSubfolders(const std::vector<uint8_t>& dir, bool fat32) {
    for (size_t at = 0; at + fat::kDirEntrySize <= dir.size(); at += fat::kDirEntrySize) {
      const uint8_t* e = dir.data() + at;
      if (e[0] == 0) return;
      if (e[0] == fat::kDeletedMark || e[0] == '.' || fat::IsLongNameEntry(e)) continue;
      const uint8_t attr = fat::EntryAttributes(e);
      if ((attr & 0x10) && !(attr & 0x08)) Pending.push_back(fat::EntryFirstCluster(e, fat32));
    }
  }

  bool ReadFat(TFatScaner& fat) {
    if (!fat.Init()) return Fail(Disk.Path + ": unusable FAT geometry");
    // The reserved area, the tables and (FAT12/16) the root region lie
    // together in front of the data clusters.
    const int64_t tableAt = int64_t{fat.ReservedSectors} * fat.BytesPerSector + fat.ActiveFat * fat.FatSizeBytes;
    const int64_t rootAt = int64_t{fat.FirstDataSector - fat.RootDirSectors} * fat.BytesPerSector;
    const int64_t rootBytes = int64_t{fat.RootEntries} * fat::kDirEntrySize;
    Table.assign(static_cast<size_t>(fat.FatSizeBytes), 0);
    Kind = fat.Kind();
    const bool fat32 = Kind == fat::TFatKind::Fat32;
    std::vector<uint8_t> root(fat32 ? 0 : static_cast<size_t>(rootBytes));
    auto keep = [](std::vector<uint8_t>& to, int64_t toAt, int64_t at, const uint8_t* data, size_t size) {
      const int64_t from = std::max(at, toAt),
                    end = std::min(at + static_cast<int64_t>(size), toAt + static_cast<int64_t>(to.size()));
      if (from < end) std::copy(data + (from - at), data + (end - at), to.begin() + (from - toAt));
    };
    if (!ReadRange(0, fat.DataStart, [&](int64_t at, const uint8_t* data, size_t size) {
          keep(Table, tableAt, at, data, size);
          keep(root, rootAt, at, data, size);
        }))
      return false;
    if (fat32)
      Pending.push_back(fat.RootCluster);
    else
      QueueSubfolders(root, false);
    std::vector<uint8_t> dir;
    while (!Pending.empty()) {
      const uint32_t first = Pending.front();
      Pending.pop_front();
      dir.clear();
      for (const TByteRange& run : Chain(fat, first)) {
        if (!ReadRange(run.Offset, run.Length,
                       [&](int64_t, const uint8_t* data, size_t size) { dir.insert(dir.end(), data, data + size); }))
          return false;
      }
      QueueSubfolders(dir, fat32);
    }
    return true;
  }

  TDiskObject& Disk;
  TSourceHandle Source;
  std::vector<uint8_t> Buffer;
  std::vector<uint8_t> Table;
  fat::TFatKind Kind = fat::TFatKind::Fat12;
  std::deque<uint32_t> Pending;
  std::unordered_set<uint32_t> SeenClusters;
};

}  // namespace mirel::bench
