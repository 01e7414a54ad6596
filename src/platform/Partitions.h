#pragma once
// The partition table of a whole-disk source (MBR with logical partitions, or
// GPT), read with libblkid.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteSource.h"

namespace mirel {

struct TPartition {
  int Number = 0;      // as the table numbers it: logical MBR partitions from 5
  int64_t Start = 0;   // bytes from the start of the source
  int64_t Length = 0;  // bytes
};

// The data partitions of the source, in table order; empty when the source
// holds no partition table (a bare volume) or cannot be read. Extended-partition
// containers are left out.
std::vector<TPartition> ReadPartitionTable(const std::string& path);

// The same for a source that libblkid cannot open (a forensic or virtual-disk
// image): MBR with logical partitions, or GPT behind a protective MBR.
std::vector<TPartition> ReadPartitionTable(const TByteSource& disk);

}  // namespace mirel
