#include "platform/Partitions.h"

#include <blkid/blkid.h>
#include <memory>

namespace mirel {

std::vector<TPartition> ReadPartitionTable(const std::string& path) {
  std::vector<TPartition> parts;
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)> probe(
      blkid_new_probe_from_filename(path.c_str()), blkid_free_probe);
  if (!probe) return parts;
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (!list) return parts;
  const int n = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < n; ++i) {
    blkid_partition p = blkid_partlist_get_partition(list, i);
    if (!p || blkid_partition_is_extended(p)) continue;
    blkid_loff_t start = blkid_partition_get_start(p), size = blkid_partition_get_size(p);
    if (start < 0 || size <= 0) continue;
    parts.push_back({blkid_partition_get_partno(p), static_cast<int64_t>(start) * 512, static_cast<int64_t>(size) * 512});
  }
  return parts;
}

}  // namespace mirel
