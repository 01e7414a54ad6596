#include "FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "core/Text.h"

namespace mirel::fuzz {

void StartFuzzEngine() {
  static const bool started = [] {
    SetDebugLogPath("/dev/null");
    StartEngine();
    return true;
  }();
  (void)started;
}

TMemImage::TMemImage() {
  Fd = ::memfd_create("mirel-fuzz", 0);
  if (Fd < 0) std::abort();
  Name = "/proc/self/fd/" + std::to_string(Fd);
}

TMemImage::~TMemImage() { ::close(Fd); }

void TMemImage::Set(const uint8_t* data, size_t count, int64_t size) {
  if (::ftruncate(Fd, 0) != 0 || ::ftruncate(Fd, std::max<int64_t>(size, static_cast<int64_t>(count))) != 0)
    std::abort();
  WriteAt(0, data, count);
}

void TMemImage::WriteAt(int64_t offset, const uint8_t* data, size_t count) {
  if (count && ::pwrite(Fd, data, count, offset) != static_cast<ssize_t>(count)) std::abort();
}

namespace {

void Check(TFileInfo* e) {
  const std::string path = GetEntryPath(*e) + e->Name;
  if (e->Size < 0 || !IsPrintableUtf8(path)) {
    std::fprintf(stderr, "unprintable entry: size %lld, path of %zu bytes\n", static_cast<long long>(e->Size),
                 path.size());
    std::abort();
  }
}

}  // namespace

void CheckCatalogue(const TDiskObject& disk) {
  for (TFileInfo* e : disk.Files) Check(e);
  for (TFileInfo* e : disk.Folders) Check(e);
}

void ReadSomeStreams(const TDiskObject& disk, int maxFiles) {
  std::vector<char> buf(8192);
  for (TFileInfo* e : disk.Files) {
    if (maxFiles-- <= 0) break;
    std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
    if (!st) continue;
    for (int i = 0; i < 4 && st->Read(buf.data(), buf.size()) > 0; ++i) {
    }
    st->Seek(-100, TSeekOrigin::End);
    (void)st->Read(buf.data(), buf.size());
  }
}

}  // namespace mirel::fuzz
