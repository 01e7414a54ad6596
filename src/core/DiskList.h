#pragma once
// The volumes the program can work on: the sources named by the user first,
// then the machine's block devices.
#include <string>
#include <vector>

#include "core/FileInfo.h"

namespace mirel {

struct TRejectedSource {
  std::string Path;
  std::string Reason;
};

class TDiskList {
public:
  TDiskList(const std::vector<std::string>& sources, bool withDevices);
  ~TDiskList();
  TDiskList(const TDiskList&) = delete;
  TDiskList& operator=(const TDiskList&) = delete;

  int Count() const { return Items.Count(); }
  // Adds a source as the command line would (an image, a device, IMAGE#N);
  // returns how many volumes it added. Why it added none is in Rejected.
  int AddSource(const std::string& source);
  // Opens the volume at index again (after access to its source was
  // granted); the old object and its catalogue are freed.
  TDiskObject* Reopen(int index);
  TDiskObject* operator[](int i) const { return Items.Items(i); }

  TDiskListItems Items;
  // Sources left out of the list, each with the reason.
  std::vector<TRejectedSource> Rejected;

private:
  void FillDiskListItems(const std::vector<std::string>& sources, bool withDevices);
  // Adds the source as one volume, or one volume per FAT, exFAT or NTFS partition
  // when it holds a partition table. wantPartition > 0 selects one partition.
  void AddSource(const std::string& name, const std::string& path, unsigned driveType, int wantPartition,
                 const std::string& asGiven);
  // Adds the volume that starts the given number of 512-byte sectors in.
  void AddAtOffset(const std::string& name, const std::string& path, unsigned driveType, int64_t sectors,
                   const std::string& asGiven);
  bool AddVolume(const std::string& name, const std::string& path, unsigned driveType, int64_t base = 0,
                 int64_t length = -1, bool keepUnrecognised = true);
};

}  // namespace mirel
