#pragma once
// Reads the master file table of an NTFS volume: geometry from the boot
// sector, records with their update-sequence fixups, attributes (also those
// moved to extension records through an attribute list), run lists, names,
// sizes, standard information, data streams and $EFS data. Read only.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/NtfsBootSector.h"
#include "ntfs/NtfsTypes.h"
#include "ntfs/RunList.h"
#include "platform/ByteSource.h"

namespace mirel {

enum : uint8_t { rfDeletedOnly = 0x01 };

// An attribute-list entry whose attribute could not be taken.
struct TLostListEntry {
  uint32_t Type = 0;
  std::string Name;
  int64_t Record = 0;
  int64_t LowestVcn = 0;
  const char* Why = "";
};

// The walk state over one record's attribute list.
struct TAttrListCursor {
  bool NeedLoad = true;
  // The file's base record, which list entries may name too.
  TRecordBytes Base;
  std::vector<uint8_t> ListData;
  // The list's own clusters could not all be read: it is not walked.
  bool Unreadable = false;
  size_t Current = 0;
  // Entries already followed: a list that names one extent twice yields it once.
  std::set<std::tuple<int64_t, uint32_t, uint16_t>> Seen;
  // Entries of the type sought whose record does not hold the file's attribute.
  std::vector<TLostListEntry> Lost;
};

struct TNtfsAttrLookupContext {
  const TNtfsFileInfo* FileInfo = nullptr;
  // The base record searched: the entry's own bytes or those read again.
  TRecordBytes Record;
  // The kind sought among the base record's attributes, and the byte offset
  // where the walk goes on.
  TAttrKind Kind = akCount;
  size_t Index = 0;
  uint32_t AttrType = 0;
  int32_t AttrId = -1;
  TAttrListCursor ListCursor;
};

class TMftReader {
public:
  // Reads the geometry and the $MFT's own record at once; when that fails the
  // run list stays empty, Failure says why, and a scan through this reader
  // finds nothing.
  // bootSectorOffset: where the boot sector in use lies (a backup copy when
  // the volume's first sector is damaged).
  explicit TMftReader(const TByteSource* volumeHandle, int64_t bootSectorOffset = 0);
  virtual ~TMftReader();
  TMftReader(const TMftReader&) = delete;
  TMftReader& operator=(const TMftReader&) = delete;

  virtual void Clear();

  // Byte offset of MFT record n by the MFT's runs; -1 for a record that no
  // run places below the last one's end. Past the runs the MFT is taken as
  // contiguous.
  [[nodiscard]] int64_t GetRecordOffset(int64_t n) const;
  // Byte offset of a cluster; -1 for a negative or unrepresentable one.
  [[nodiscard]] int64_t ClusterOffset(int64_t lcn) const;
  // The checked, fixed-up record at a volume byte offset, or null.
  [[nodiscard]] std::shared_ptr<std::vector<uint8_t>> OpenMftRec(int64_t offset) const;
  // Checks the signature and applies the fixups in place; false for no record.
  [[nodiscard]] bool FixupRecord(std::vector<uint8_t>& record) const;
  // The same check without changing the bytes.
  [[nodiscard]] bool FixupsIntact(std::span<const uint8_t> record) const;
  // The entry's base record: its own bytes, or the record read again by
  // number, which must still be the one scanned (same sequence number, same
  // in-use state); null otherwise.
  [[nodiscard]] TRecordBytes LoadRecord(const TNtfsFileInfo& fileInfo) const;
  // The record at offset (or in bytes already read, RecordSize of them),
  // indexed. valid tells whether a well-formed record was there at all.
  [[nodiscard]] std::unique_ptr<TNtfsFileInfo> ReadFileInfo(uint8_t flags, bool& valid, int64_t offset) const;
  [[nodiscard]] std::unique_ptr<TNtfsFileInfo> ReadFileInfo(uint8_t flags, bool& valid,
                                                            std::span<const uint8_t> bytes) const;
  // A record whose fixups were checked and applied, RecordSize bytes,
  // indexed; null when its header places no attribute in it.
  [[nodiscard]] std::unique_ptr<TNtfsFileInfo> IndexRecord(TRecordBytes record) const;

  void InitAttrSearchContext(const TNtfsFileInfo& fileInfo, uint32_t type, TNtfsAttrLookupContext& ctx,
                             int32_t id = -1) const;
  [[nodiscard]] TNtfsAttr FindNextAttr(TNtfsAttrLookupContext& ctx) const;
  // The next attribute of the type through the attribute list, taken only
  // from a record that holds a part of this file; entries whose record does
  // not are passed over and kept in cursor.Lost.
  [[nodiscard]] TNtfsAttr FindExternalAttribute(const TNtfsFileInfo& fileInfo, uint32_t type, TAttrListCursor& cursor,
                                                int32_t id) const;
  [[nodiscard]] TNtfsAttr FindAttrInRecord(const TRecordBytes& record, uint32_t type, int32_t id) const;

  // The named data stream (empty name: the unnamed one): its first extent
  // and the runs of every extent placed by VCN, the extents that could not be
  // used counted. First is empty when the stream does not exist.
  [[nodiscard]] TStreamRuns GetFileDataStreamsRunList(const TNtfsFileInfo& fileInfo, const std::string& name) const;
  // Every data stream once, the unnamed one with the empty name.
  [[nodiscard]] std::vector<TNamedStream> GetFileStreams(const TNtfsFileInfo& fileInfo) const;
  // The content of the first non-empty $EFS stream, or empty.
  [[nodiscard]] std::vector<uint8_t> GetEfsData(const TNtfsFileInfo& fileInfo) const;
  // The first name outside the DOS namespace; sets ParentRecord.
  [[nodiscard]] std::string GetFileName(TNtfsFileInfo& fileInfo) const;
  // Size of the unnamed data.
  [[nodiscard]] int64_t GetFileSize(TNtfsFileInfo& fileInfo) const;
  [[nodiscard]] bool GetStdInfo(TFileInfo& entry, TNtfsFileInfo& fileInfo) const;
  // Free records among those the MFT holds; nullopt when its bitmap cannot be read.
  [[nodiscard]] std::optional<int64_t> CountFreeMftRecords() const;

  // A resident attribute's value or a non-resident one's clusters, at most
  // limit bytes; nullopt when a run list or a cluster cannot be read.
  [[nodiscard]] std::optional<std::vector<uint8_t>> ReadAttrContent(const TNtfsAttr& attr, size_t limit) const;
  // Reads the clusters of a run list into one buffer, at most limit bytes;
  // nullopt when any of them cannot be read.
  [[nodiscard]] std::optional<std::vector<uint8_t>> ReadRuns(const TRunList& runs, size_t limit) const;

  const TByteSource* VolumeHandle = nullptr;
  int64_t MftDataSize = 0;
  TNtfsBootSector Boot;
  int64_t BootSectorOffset = 0;
  uint32_t RecordSize = 0;
  uint32_t ClusterSize = 0;
  uint32_t BytesPerSector = 0;
  int64_t MftLcn = 0;
  // Clusters the source holds.
  int64_t VolumeClusters = 0;
  // The runs of the MFT's own data, in VCN order.
  TRunList MftRunList;
  // MFT extents that could not be used: their records are not placed.
  int MftLostExtents = 0;
  // Why the reader cannot be used, in words for the user; empty when it can.
  std::string Failure;

private:
  [[nodiscard]] bool Init();
  [[nodiscard]] bool ReadGeometry(std::span<const uint8_t> sector);
  [[nodiscard]] bool ReadMftRecord();
};

}  // namespace mirel
