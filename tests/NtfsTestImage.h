#pragma once
// Hand-built MFT records and writable copies of the NTFS fixture images, for
// the cases real tools cannot make (encrypted files, damaged records).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/DiskObject.h"

#include "TestSupport.h"

namespace mirel::test {

using TBytes = std::vector<uint8_t>;

// Mapping pairs from (length, LCN delta) pairs; a delta of nullopt-like
// SPARSE makes a run without clusters.
constexpr int64_t SPARSE = INT64_MIN;
TBytes EncodeRuns(const std::vector<std::pair<uint64_t, int64_t>>& runs);

class TRecordBuilder {
public:
  // flags: 0x0001 in use, 0x0002 directory.
  explicit TRecordBuilder(uint16_t flags = 0, uint64_t baseRef = 0, uint32_t recordSize = 1024);

  TRecordBuilder& StdInfo(uint32_t attributes, uint64_t created = 0x01D0000000000000ULL,
                          uint64_t modified = 0x01D0000000000000ULL);
  TRecordBuilder& FileName(uint64_t parent, const std::string& asciiName, uint8_t nameSpace = 1);
  TRecordBuilder& Resident(uint32_t type, const std::string& name, const TBytes& value, uint16_t instance = 0);
  TRecordBuilder& NonResident(uint32_t type, const std::string& name, const TBytes& pairs, int64_t dataSize,
                              uint16_t instance = 0, uint64_t startVcn = 0, uint16_t compressionExp = 0,
                              uint16_t flags = 0);
  // Raw attribute bytes as given (for damaged attributes).
  TRecordBuilder& Raw(const TBytes& attribute);
  // The record's sequence number (1 unless set).
  TRecordBuilder& Sequence(uint16_t sequence);
  // The record with its end marker and update-sequence fixups applied.
  TBytes Build(uint32_t bytesPerSector = 512) const;

private:
  uint16_t Flags;
  uint64_t BaseRef;
  uint32_t RecordSize;
  uint16_t Seq = 1;
  TBytes Attrs;
  uint16_t NextInstance = 0;
};

// An attribute-list entry for type/instance held in record ref.
TBytes AttrListEntry(uint32_t type, uint64_t ref, uint16_t instance, uint64_t lowestVcn = 0);

// A private, writable copy of a fixture image.
class TNtfsImageCopy {
public:
  explicit TNtfsImageCopy(const std::string& fixture = "ntfs.img");
  const std::filesystem::path& Path() const { return File; }
  int64_t RecordOffset(int64_t n) const;
  void WriteRecord(int64_t n, const TBytes& record);
  void WriteAt(int64_t offset, const TBytes& bytes);
  TBytes ReadAt(int64_t offset, size_t count) const;
  uint32_t ClusterSize = 0;

private:
  TTempDir Dir;
  std::filesystem::path File;
};

// Bytes of count, each a function of its position and seed.
TBytes Pattern(size_t count, uint8_t seed);

// Sends the debug log to a file of its own while it lives.
class TCapturedLog {
public:
  TCapturedLog();
  ~TCapturedLog();
  std::string Text() const;
  // Lines that contain what.
  int Count(const std::string& what) const;

private:
  TTempDir Dir;
  std::string Old;
};

// A volume scanned to its end in the given mode.
class TScannedImage {
public:
  explicit TScannedImage(const std::filesystem::path& image, bool quick = true);
  // The file (not folder) at a path relative to the root; null when absent.
  TFileInfo* File(const std::string& path) const;
  TFileInfo* Folder(const std::string& path) const;
  // Every stream byte through the file system's recovery stream.
  std::string ReadAll(TFileInfo* entry, const std::string& stream = {}, size_t chunk = 65536) const;
  std::unique_ptr<TDiskObject> Disk;
};

}  // namespace mirel::test
