#pragma once
// NTFS records as the scanner keeps them: the fixed-up MFT record bytes, the
// places of the attributes the engine reads, and views of single attributes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/FileInfo.h"
#include "core/LeReader.h"
#include "core/TimeSet.h"
#include "ntfs/NtfsAttrHeader.h"

namespace mirel {

// Attribute type codes the engine reads.
enum : uint32_t {
  atStandardInformation = 0x10,
  atAttributeList = 0x20,
  atFileName = 0x30,
  atData = 0x80,
  atBitmap = 0xB0,
  atLoggedUtilityStream = 0x100,
  atEnd = 0xFFFFFFFF,
};

// The attribute kinds indexed per record.
enum TAttrKind : uint8_t { akData, akFileName, akStdInfo, akAttrList, akBitmap, akLoggedUtility, akCount };
// The slot of a type code, or akCount for a type that is not indexed.
TAttrKind AttrKindOf(uint32_t type);

constexpr int64_t MFT_REF_MASK = 0x0000FFFFFFFFFFFFLL;
constexpr int64_t ROOT_RECORD = 5;
constexpr int64_t BITMAP_RECORD = 6;
constexpr int64_t VOLUME_RECORD = 3;

struct TNtfsRun {
  int64_t Vcn = 0;
  int64_t Lcn = -1;  // -1: a run without clusters on disk
  uint32_t Length = 0;
  bool operator==(const TNtfsRun&) const = default;
};
using TRunList = std::vector<TNtfsRun>;

using TRecordBytes = std::shared_ptr<const std::vector<uint8_t>>;

// One attribute (header and value) inside a record buffer that it keeps alive.
// The bytes never reach past the attribute's own length or its record.
class TNtfsAttr {
public:
  TNtfsAttr() = default;
  TNtfsAttr(TRecordBytes record, size_t offset, size_t length);

  explicit operator bool() const { return !Bytes.empty(); }
  std::span<const uint8_t> Span() const { return Bytes; }
  const TNtfsAttrHeader& Header() const { return Head; }

  uint32_t Type() const { return Head.Type; }
  bool NonResident() const { return Head.NonResident; }
  uint16_t Instance() const { return Head.Instance; }
  // Attribute flags: 0x00FF compression method, 0x4000 encrypted, 0x8000 sparse.
  uint16_t Flags() const { return Head.Flags; }
  bool HasName() const { return Head.NameLength != 0; }
  // Whether the name's characters lie inside the attribute.
  bool NameReadable() const { return !HasName() || !Head.Name(Bytes).empty(); }
  // The attribute's name in UTF-8; empty for an unnamed attribute or one whose
  // name lies outside the attribute.
  std::string Name() const;
  // A resident attribute's value; empty when it is non-resident or out of range.
  [[nodiscard]] std::span<const uint8_t> Value() const { return Head.Value(Bytes); }
  // A non-resident attribute's mapping pairs; empty otherwise.
  [[nodiscard]] std::span<const uint8_t> MappingPairs() const { return Head.MappingPairs(Bytes); }
  // Data size of a non-resident attribute, value length of a resident one.
  int64_t DataSize() const { return Head.NonResident ? Head.DataSize : int64_t{Head.ValueLength}; }
  // Compression-unit exponent of a non-resident attribute, 0 otherwise.
  uint16_t CompressionExponent() const { return Head.CompressionUnit; }
  int64_t StartVcn() const { return Head.StartVcn; }

private:
  TRecordBytes Holder;
  std::span<const uint8_t> Bytes;
  TNtfsAttrHeader Head;
};

// Stream names compare without regard to the case of ASCII letters.
bool SameStreamName(const std::string& a, const std::string& b);

// The next attribute of one kind in a record's bytes; at is the byte offset
// where the walk goes on (0: the first attribute) and is moved past the one
// returned. An empty view when there is none.
[[nodiscard]] TNtfsAttr NextAttrIn(const TRecordBytes& record, TAttrKind kind, size_t& at);

// What only the scan of a record needs: its fixed-up bytes and the folder its
// name lies in. One pointer while held, null once the record is catalogued.
class TRecordHold {
public:
  explicit operator bool() const { return Part && Part->Bytes; }
  // The bytes; an empty pointer when none are held.
  operator const TRecordBytes&() const {  // NOLINT(google-explicit-constructor)
    static const TRecordBytes none;
    return Part ? Part->Bytes : none;
  }
  TRecordHold& operator=(TRecordBytes bytes) {
    TPart& part = Make();
    part.Bytes = std::move(bytes);
    part.First = {};
    part.NamedData = false;
    return *this;
  }
  int64_t Parent() const { return Part ? Part->Parent : 0; }
  void SetParent(int64_t n) { Make().Parent = n; }
  // Where the walk of the record's attributes meets the first of a kind
  // (past the last attribute when there is none); 0 when not known, and the
  // walk starts from the first attribute.
  size_t FirstOf(TAttrKind kind) const { return Part && kind < akCount ? Part->First[kind] : 0; }
  void SetFirstOf(TAttrKind kind, size_t offset) {
    if (kind < akCount) Make().First[kind] = offset <= UINT16_MAX ? static_cast<uint16_t>(offset) : 0;
  }
  // Whether the walk that indexed the record met a named $DATA attribute.
  bool HasNamedData() const { return Part && Part->NamedData; }
  void SetNamedData() { Make().NamedData = true; }
  void reset() { Part.reset(); }

private:
  struct TPart {
    TRecordBytes Bytes;
    int64_t Parent = 0;
    std::array<uint16_t, akCount> First{};
    bool NamedData = false;
  };
  TPart& Make() {
    if (!Part) Part = std::make_unique<TPart>();
    return *Part;
  }
  std::unique_ptr<TPart> Part;
};

// Fields ordered by size: a catalogue holds one of these per NTFS entry. Its
// times beyond creation and last write are kept in a TTimeSet, which the
// catalogue stores right behind the record.
struct TNtfsFileInfo : TFsInfo {
  bool Encrypted = false;
  bool Deleted = false;
  bool IsDirectory = false;
  bool AttrList = false;
  bool HasFnTimes = false;
  // The record's sequence number when scanned: a record read again must
  // still carry it, or it was reused for another file.
  uint16_t Sequence = 0;
  int64_t RecordNumber = 0;
  // The base record's bytes up to the end of its attributes. A scanned file
  // gives them up once catalogued and has its record read again when asked
  // (TMftReader::LoadRecord): a catalogue of millions of entries would
  // otherwise hold a copy of most of the MFT.
  TRecordHold RecordData;
  // $STANDARD_INFORMATION's access and record-change times, and the times of
  // the $FILE_NAME the name was taken from (when HasFnTimes).
  TTimeSet Times;
  // The named data streams with their own sizes, filled by the scan; most
  // files have none.
  std::unique_ptr<std::vector<TNamedStream>> Streams;

  // The parent folder's record number as the name gives it; kept only while
  // the record is scanned.
  int64_t ParentRecord() const { return RecordData.Parent(); }
  void SetParentRecord(int64_t n) { RecordData.SetParent(n); }
  void SetSiTimes(TFileTime changed, TFileTime accessed) {
    Times.Set({{tsSiChanged, changed}, {tsSiAccessed, accessed}});
  }
  void SetFnTimes(const TMacbTimes& t) {
    Times.Set(
        {{tsFnModified, t.Modified}, {tsFnAccessed, t.Accessed}, {tsFnChanged, t.Changed}, {tsFnCreated, t.Created}});
  }

  size_t StorageBytes() const override { return sizeof(TNtfsFileInfo) + Times.StorageBytes(); }
  TFsInfo* MoveTo(void* place) override {
    auto* moved = new (place) TNtfsFileInfo(std::move(*this));
    moved->Times.MoveInto(static_cast<std::byte*>(place) + sizeof(TNtfsFileInfo));
    return moved;
  }
  bool IsDeleted() const override { return Deleted; }
  bool IsEncrypted() const override { return Encrypted; }
  std::vector<TNamedStream> NamedStreams() const override { return Streams ? *Streams : std::vector<TNamedStream>{}; }
  // "RECORD-SEQUENCE".
  std::string Address() const override { return std::to_string(RecordNumber) + "-" + std::to_string(Sequence); }
  TFileTime AccessTime() const override { return Times.Get(tsSiAccessed); }
  TFileTime ChangeTime() const override { return Times.Get(tsSiChanged); }
  std::optional<TMacbTimes> FileNameTimes() const override {
    if (!HasFnTimes) return std::nullopt;
    return TMacbTimes{Times.Get(tsFnModified), Times.Get(tsFnAccessed), Times.Get(tsFnChanged), Times.Get(tsFnCreated)};
  }

  bool HasAttrList() const { return AttrList; }
  // The base-record attributes of one kind, in record order.
  std::vector<TNtfsAttr> AttrsOf(TAttrKind kind) const;
  // NextAttrIn over RecordData.
  [[nodiscard]] TNtfsAttr NextAttrOf(TAttrKind kind, size_t& at) const { return NextAttrIn(RecordData, kind, at); }

private:
  enum : uint8_t { tsSiAccessed, tsSiChanged, tsFnModified, tsFnAccessed, tsFnChanged, tsFnCreated };
};
static_assert(alignof(TNtfsFileInfo) <= 8 && sizeof(TNtfsFileInfo) % 8 == 0);

}  // namespace mirel
