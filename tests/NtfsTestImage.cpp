#include "NtfsTestImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "ntfs/MftReader.h"
#include "platform/RawSource.h"

namespace mirel::test {

namespace {

void Align8(TBytes& b) { b.resize((b.size() + 7) / 8 * 8, 0); }

TBytes Utf16(const std::string& ascii) {
  TBytes out;
  for (char c : ascii) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

size_t MinWidth(uint64_t v) {
  size_t n = 1;
  while (n < 8 && (v >> (8 * n)) != 0) ++n;
  return n;
}

size_t MinSignedWidth(int64_t v) {
  for (size_t n = 1; n < 8; ++n) {
    int64_t lo = -(int64_t{1} << (8 * n - 1)), hi = (int64_t{1} << (8 * n - 1)) - 1;
    if (v >= lo && v <= hi) return n;
  }
  return 8;
}

}  // namespace

TBytes EncodeRuns(const std::vector<std::pair<uint64_t, int64_t>>& runs) {
  TBytes out;
  for (auto [len, delta] : runs) {
    size_t L = MinWidth(len), F = delta == SPARSE ? 0 : MinSignedWidth(delta);
    out.push_back(static_cast<uint8_t>(F << 4 | L));
    for (size_t i = 0; i < L; ++i) out.push_back(static_cast<uint8_t>(len >> (8 * i)));
    for (size_t i = 0; i < F; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(delta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

TRecordBuilder::TRecordBuilder(uint16_t flags, uint64_t baseRef, uint32_t recordSize)
    : Flags(flags), BaseRef(baseRef), RecordSize(recordSize) {}

TRecordBuilder& TRecordBuilder::StdInfo(uint32_t attributes, uint64_t created, uint64_t modified) {
  TBytes v(72, 0);
  PutLe(v, 0, created, 8);
  PutLe(v, 8, modified, 8);
  PutLe(v, 32, attributes, 4);
  return Resident(0x10, "", v);
}

TRecordBuilder& TRecordBuilder::FileName(uint64_t parent, const std::string& asciiName, uint8_t nameSpace) {
  TBytes v(66, 0);
  PutLe(v, 0, parent, 8);
  v[64] = static_cast<uint8_t>(asciiName.size());
  v[65] = nameSpace;
  TBytes n = Utf16(asciiName);
  v.insert(v.end(), n.begin(), n.end());
  return Resident(0x30, "", v);
}

TRecordBuilder& TRecordBuilder::Resident(uint32_t type, const std::string& name, const TBytes& value,
                                         uint16_t instance) {
  TBytes a(24, 0);
  TBytes n = Utf16(name);
  a.insert(a.end(), n.begin(), n.end());
  Align8(a);
  size_t valueOffset = a.size();
  a.insert(a.end(), value.begin(), value.end());
  Align8(a);
  PutLe(a, 0, type, 4);
  PutLe(a, 4, a.size(), 4);
  a[9] = static_cast<uint8_t>(name.size());
  PutLe(a, 10, 24, 2);
  PutLe(a, 14, instance ? instance : NextInstance++, 2);
  PutLe(a, 16, value.size(), 4);
  PutLe(a, 20, valueOffset, 2);
  return Raw(a);
}

TRecordBuilder& TRecordBuilder::NonResident(uint32_t type, const std::string& name, const TBytes& pairs,
                                            int64_t dataSize, uint16_t instance, uint64_t startVcn,
                                            uint16_t compressionExp, uint16_t flags) {
  TBytes a(64, 0);
  TBytes n = Utf16(name);
  a.insert(a.end(), n.begin(), n.end());
  Align8(a);
  size_t pairsOffset = a.size();
  a.insert(a.end(), pairs.begin(), pairs.end());
  Align8(a);
  PutLe(a, 0, type, 4);
  PutLe(a, 4, a.size(), 4);
  a[8] = 1;
  a[9] = static_cast<uint8_t>(name.size());
  PutLe(a, 10, 64, 2);
  PutLe(a, 12, flags, 2);
  PutLe(a, 14, instance ? instance : NextInstance++, 2);
  PutLe(a, 16, startVcn, 8);
  PutLe(a, 32, pairsOffset, 2);
  PutLe(a, 34, compressionExp, 2);
  PutLe(a, 40, static_cast<uint64_t>(dataSize + 4095) / 4096 * 4096, 8);
  PutLe(a, 48, static_cast<uint64_t>(dataSize), 8);
  PutLe(a, 56, static_cast<uint64_t>(dataSize), 8);
  return Raw(a);
}

TRecordBuilder& TRecordBuilder::Raw(const TBytes& attribute) {
  Attrs.insert(Attrs.end(), attribute.begin(), attribute.end());
  return *this;
}

TRecordBuilder& TRecordBuilder::Sequence(uint16_t sequence) {
  Seq = sequence;
  return *this;
}

TBytes TRecordBuilder::Build(uint32_t bps) const {
  TBytes r(RecordSize, 0);
  const size_t count = RecordSize / bps + 1;
  const size_t usa = 0x30, first = (usa + 2 * count + 7) / 8 * 8;
  std::copy_n("FILE", 4, r.begin());
  PutLe(r, 4, usa, 2);
  PutLe(r, 6, count, 2);
  PutLe(r, 16, Seq, 2);
  PutLe(r, 20, first, 2);
  PutLe(r, 22, Flags, 2);
  PutLe(r, 28, RecordSize, 4);
  PutLe(r, 32, BaseRef, 8);
  if (first + Attrs.size() + 8 > RecordSize) throw std::length_error("attributes do not fit the record");
  std::copy(Attrs.begin(), Attrs.end(), r.begin() + static_cast<long>(first));
  PutLe(r, first + Attrs.size(), 0xFFFFFFFF, 4);
  PutLe(r, 24, first + Attrs.size() + 8, 4);
  const uint16_t seq = 0x0042;
  PutLe(r, usa, seq, 2);
  for (size_t i = 1; i < count; ++i) {
    size_t end = i * bps - 2;
    r[usa + 2 * i] = r[end];
    r[usa + 2 * i + 1] = r[end + 1];
    PutLe(r, end, seq, 2);
  }
  return r;
}

TBytes AttrListEntry(uint32_t type, uint64_t ref, uint16_t instance, uint64_t lowestVcn) {
  TBytes e(32, 0);
  PutLe(e, 0, type, 4);
  PutLe(e, 4, 32, 2);
  PutLe(e, 8, lowestVcn, 8);
  PutLe(e, 16, ref, 8);
  PutLe(e, 24, instance, 2);
  return e;
}

TNtfsImageCopy::TNtfsImageCopy(const std::string& fixture) : File(Dir / fixture) {
  std::filesystem::copy_file(Fixture(fixture), File);
  TRawSource h = TRawSource::Open(File.string());
  TMftReader r(&h);
  ClusterSize = r.ClusterSize;
}

int64_t TNtfsImageCopy::RecordOffset(int64_t n) const {
  TRawSource h = TRawSource::Open(File.string());
  TMftReader r(&h);
  return r.GetRecordOffset(n);
}

void TNtfsImageCopy::WriteRecord(int64_t n, const TBytes& record) { WriteAt(RecordOffset(n), record); }

void TNtfsImageCopy::WriteAt(int64_t offset, const TBytes& bytes) {
  int fd = ::open(File.c_str(), O_WRONLY);
  if (fd < 0 || ::pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot patch " + File.string());
  ::close(fd);
}

TBytes TNtfsImageCopy::ReadAt(int64_t offset, size_t count) const {
  TBytes out(count);
  TRawSource h = TRawSource::Open(File.string());
  out.resize(h.Read(out.data(), count, offset));
  return out;
}

TBytes Pattern(size_t count, uint8_t seed) {
  TBytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>((i * 131 + (i >> 9) * 7 + seed) & 0xFF);
  return b;
}

TCapturedLog::TCapturedLog() : Old(DebugLogPath()) { SetDebugLogPath((Dir / "debug.log").string()); }

TCapturedLog::~TCapturedLog() { SetDebugLogPath(Old); }

std::string TCapturedLog::Text() const { return ReadWholeFile(Dir / "debug.log"); }

int TCapturedLog::Count(const std::string& what) const {
  int n = 0;
  const std::string text = Text();
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TScannedImage::TScannedImage(const std::filesystem::path& image, bool quick) {
  StartEngine();
  Disk = std::make_unique<TDiskObject>(image.filename().string(), image.string(), 0);
  if (Disk->Scaner) {
    Disk->Scaner->Options.Quick = quick;
    Disk->Scaner->ScanForFiles();
  }
}

TFileInfo* TScannedImage::File(const std::string& path) const {
  for (TFileInfo* e : Disk->Files)
    if (GetRelativePath(*e) == path) return e;
  return nullptr;
}

TFileInfo* TScannedImage::Folder(const std::string& path) const {
  for (TFileInfo* e : Disk->Folders)
    if (GetRelativePath(*e) == path) return e;
  return nullptr;
}

std::string TScannedImage::ReadAll(TFileInfo* entry, const std::string& stream, size_t chunk) const {
  std::unique_ptr<TRecoveryStream> s = CreateRecoveryStream(entry, stream);
  std::string out;
  if (!s) return out;
  std::string buf(chunk, '\0');
  while (size_t n = s->Read(buf.data(), buf.size())) out.append(buf.data(), n);
  return out;
}

}  // namespace mirel::test
