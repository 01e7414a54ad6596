#pragma once
// What the fuzz targets share: a volume image held in memory behind a path the
// engine can open, and the checks every scan result must pass.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/DiskObject.h"

namespace mirel::fuzz {

// Registers the file systems and silences the debug log; once per process.
void StartFuzzEngine();

// An anonymous in-memory file, reachable as /proc/self/fd/N.
class TMemImage {
public:
  TMemImage();
  ~TMemImage();
  TMemImage(const TMemImage&) = delete;
  TMemImage& operator=(const TMemImage&) = delete;
  // Replaces the content by data, zero-extended to size bytes when that is more.
  void Set(const uint8_t* data, size_t count, int64_t size = 0);
  void WriteAt(int64_t offset, const uint8_t* data, size_t count);
  const std::string& Path() const { return Name; }

private:
  int Fd = -1;
  std::string Name;
};

// Aborts (a finding) when an entry of the catalogue cannot be printed: a
// negative size, or a name or path that is no UTF-8 or holds a NUL.
void CheckCatalogue(const TDiskObject& disk);
// Reads the first bytes of up to maxFiles files through their streams.
void ReadSomeStreams(const TDiskObject& disk, int maxFiles);

}  // namespace mirel::fuzz
