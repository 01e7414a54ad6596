#pragma once
// Decoding of 32-byte FAT directory entries: short (8.3) entries and the runs
// of long-name entries in front of them. Pure functions over entry bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/FileTime.h"

namespace mirel::fat {

constexpr size_t kDirEntrySize = 32;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLongNameAttr = 0x0F;
// A long name holds at most 255 characters, 13 to an entry.
constexpr size_t kMaxLongNameEntries = 20;

using TDirEntryBytes = std::array<uint8_t, kDirEntrySize>;

// Bytes that make a short entry unusable anywhere in its 11 name bytes: the
// control bytes 0x00-0x19 and " * + , . / : ; < = > ? [ \ ] |.
bool IsInvalidNameChar(uint8_t b);

inline uint8_t EntryAttributes(const uint8_t* e) { return e[11]; }
inline bool IsLongNameEntry(const uint8_t* e) { return (e[11] & kLongNameAttr) == kLongNameAttr; }
inline uint32_t EntrySize(const uint8_t* e) {
  return uint32_t{e[28]} | uint32_t{e[29]} << 8 | uint32_t{e[30]} << 16 | uint32_t{e[31]} << 24;
}
// First cluster: the low word at 26, and the high word at 20 where the volume
// has one (FAT32; FAT12 and FAT16 use that word for other things).
inline uint32_t EntryFirstCluster(const uint8_t* e, bool withHighWord) {
  uint32_t lo = uint32_t{e[26]} | uint32_t{e[27]} << 8;
  uint32_t hi = withHighWord ? (uint32_t{e[20]} | uint32_t{e[21]} << 8) : 0;
  return hi << 16 | lo;
}

// Whether the entry is the "." (dots 1) or ".." (dots 2) entry of a folder.
bool IsDotEntry(const uint8_t* e, int dots);

// Whether the fields that a file system always writes hold values it could
// have written: a long-name entry's sequence, type and cluster word; a short
// entry's case flags, time refinement, last-write date and time, creation
// date and time (or none), and no size for a folder. For bytes that no
// folder vouches for: free space searched for lost folders.
bool PlausibleEntry(const uint8_t* e);

// The 8.3 name: base and extension without their padding, joined by a dot when
// the extension is not empty, decoded from code page 437 and lower-cased where
// the entry's case flags (byte 12) say so. A first byte 0x05 stands for 0xE5;
// of a deleted entry the lost first character is shown as "$".
std::string ShortEntryName(const uint8_t* e, bool deleted);

// Whether a long-name entry holds the end of its name (the terminator or the
// padding after it): then no entry of a higher sequence belongs to the name.
bool HoldsEndOfLongName(const TDirEntryBytes& e);

// The checksum of the 11 short-name bytes that long-name entries carry.
uint8_t ShortNameChecksum(const uint8_t* shortEntry);

// The long name that a run of long-name entries (in directory order, the short
// entry after them) gives the short entry; empty when the run gives none.
// Entries are taken from the one nearest the short entry while they share its
// deleted state and one checksum (which, for a live short entry, must be the
// short name's); at most kMaxLongNameEntries. A name that FAT could not have
// stored (control characters, / \ : * ? " < > |, "." or "..") counts as none.
std::string BuildLongName(std::span<const TDirEntryBytes> run, const uint8_t* shortEntry);

// Creation (with its 10 ms refinement) and last-write times, recorded in local
// time, as UTC FILETIMEs; 0 where the entry holds no valid date.
TFileTime EntryCreationTime(const uint8_t* e);
TFileTime EntryWriteTime(const uint8_t* e);
// The last-access date as a DOS date (no time of day is kept); 0 when not set.
uint16_t EntryAccessDosDate(const uint8_t* e);

}  // namespace mirel::fat
