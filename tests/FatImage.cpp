#include "FatImage.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Engine.h"
#include "core/DebugLog.h"
#include "core/DiskScaner.h"
#include "fat/FatScaner.h"

namespace mirel::test {

namespace {

uint8_t Checksum(const TEntry& e) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

}  // namespace

TEntry ShortEntry(const std::string& name11, uint8_t attr, uint32_t cluster, uint32_t size) {
  if (name11.size() != 11) throw std::invalid_argument("short names are 11 bytes");
  TEntry e{};
  std::copy(name11.begin(), name11.end(), e.begin());
  e[11] = attr;
  const uint16_t time = (10 << 11) | (20 << 5) | (30 / 2);
  const uint16_t date = ((2024 - 1980) << 9) | (5 << 5) | 17;
  for (size_t off : {14, 22}) {
    e[off] = time & 0xFF;
    e[off + 1] = time >> 8;
  }
  for (size_t off : {16, 18, 24}) {
    e[off] = date & 0xFF;
    e[off + 1] = date >> 8;
  }
  e[20] = (cluster >> 16) & 0xFF;
  e[21] = (cluster >> 24) & 0xFF;
  e[26] = cluster & 0xFF;
  e[27] = (cluster >> 8) & 0xFF;
  for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<uint8_t>(size >> (8 * i));
  return e;
}

std::vector<TEntry> LongEntries(const std::u16string& name, const TEntry& shortEntry, bool deleted) {
  TEntry original = shortEntry;
  const uint8_t sum = Checksum(original);
  const size_t count = (name.size() + 12) / 13;
  static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::vector<TEntry> run;
  for (size_t k = count; k-- > 0;) {
    TEntry e{};
    e[0] = static_cast<uint8_t>((k + 1) | (k + 1 == count ? 0x40 : 0));
    if (deleted) e[0] = 0xE5;
    e[11] = 0x0F;
    e[13] = sum;
    for (size_t i = 0; i < 13; ++i) {
      size_t at = k * 13 + i;
      uint16_t u = at < name.size() ? name[at] : (at == name.size() ? 0x0000 : 0xFFFF);
      e[kOffsets[i]] = u & 0xFF;
      e[kOffsets[i] + 1] = u >> 8;
    }
    run.push_back(e);
  }
  return run;
}

TFatImage::TFatImage(int bits, uint32_t clusters, uint8_t spc, uint16_t rootEntries) : Bits(bits), Spc(spc) {
  Bpb.SectorsPerCluster = spc;
  Bpb.RootEntries = bits == 32 ? 0 : rootEntries;
  const uint64_t tableBytes = (uint64_t{clusters} + 2) * static_cast<uint64_t>(bits) / 8 + 1;
  FatSectors = static_cast<uint32_t>((tableBytes + 511) / 512);
  Bpb.FatSize = FatSectors;
  Bpb.Force32BitFatSize = bits == 32;
  if (bits == 32) Bpb.Reserved = 32;
  Bpb.TotalSectors = SectorsForClusters(Bpb, clusters);
  Bpb.Force32BitTotal = bits == 32;
  Bytes = MakeBootSector(Bpb);
  if (bits == 32) {
    PutLe(Bytes, 0x2C, 2, 4);  // root cluster
    PutLe(Bytes, 0x30, 1, 2);  // information sector
    std::copy_n("FAT32   ", 8, Bytes.begin() + 0x52);
  } else {
    std::copy_n(bits == 12 ? "FAT12   " : "FAT16   ", 8, Bytes.begin() + 0x36);
  }
  VolumeBytes = int64_t{Bpb.TotalSectors} * 512;
  Grow(ClusterPos(2) + ClusterBytes());
  SetFat(0, bits == 12 ? 0xFF8 : bits == 16 ? 0xFFF8 : 0x0FFFFFF8);
  SetFat(1, bits == 12 ? 0xFFF : bits == 16 ? 0xFFFF : 0x0FFFFFFF);
  if (bits == 32) SetFat(2, 0x0FFFFFFF);
}

void TFatImage::Grow(int64_t end) {
  if (end > static_cast<int64_t>(Bytes.size())) Bytes.resize(static_cast<size_t>(end), 0);
}

void TFatImage::SetFat(uint32_t n, uint32_t value) {
  for (uint32_t copy = 0; copy < Bpb.NumFats; ++copy) {
    const int64_t base = (int64_t{Bpb.Reserved} + int64_t{copy} * FatSectors) * 512;
    Grow(base + int64_t{FatSectors} * 512);
    if (Bits == 12) {
      const int64_t p = base + n + n / 2;
      uint16_t w = static_cast<uint16_t>(Bytes[p] | Bytes[p + 1] << 8);
      w = (n & 1) ? static_cast<uint16_t>((w & 0x000F) | (value << 4))
                  : static_cast<uint16_t>((w & 0xF000) | (value & 0xFFF));
      Bytes[p] = w & 0xFF;
      Bytes[p + 1] = w >> 8;
    } else if (Bits == 16) {
      PutLe(Bytes, static_cast<size_t>(base + 2 * int64_t{n}), value, 2);
    } else {
      PutLe(Bytes, static_cast<size_t>(base + 4 * int64_t{n}), value, 4);
    }
  }
}

void TFatImage::Chain(std::initializer_list<uint32_t> clusters) {
  const uint32_t eoc = Bits == 12 ? 0xFFF : Bits == 16 ? 0xFFFF : 0x0FFFFFFF;
  const uint32_t* c = clusters.begin();
  for (size_t i = 0; i < clusters.size(); ++i) SetFat(c[i], i + 1 < clusters.size() ? c[i + 1] : eoc);
}

int64_t TFatImage::ClusterPos(uint32_t n) const {
  const int64_t rootSectors = (int64_t{Bpb.RootEntries} * 32 + 511) / 512;
  const int64_t firstData = Bpb.Reserved + int64_t{Bpb.NumFats} * FatSectors + rootSectors;
  return firstData * 512 + (int64_t{n} - 2) * ClusterBytes();
}

int64_t TFatImage::RootPos() const {
  if (Bits == 32) return ClusterPos(2);
  return (int64_t{Bpb.Reserved} + int64_t{Bpb.NumFats} * FatSectors) * 512;
}

void TFatImage::Put(int64_t pos, const TEntry& e) {
  Grow(pos + 32);
  std::copy(e.begin(), e.end(), Bytes.begin() + pos);
}

int64_t TFatImage::PutAll(int64_t pos, const std::vector<TEntry>& entries) {
  for (const TEntry& e : entries) {
    Put(pos, e);
    pos += 32;
  }
  return pos;
}

void TFatImage::Fill(int64_t pos, const std::vector<uint8_t>& bytes) {
  Grow(pos + static_cast<int64_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), Bytes.begin() + pos);
}

void TFatImage::Save(const std::filesystem::path& p) const {
  WriteFile(p, Bytes);
  if (VolumeBytes > static_cast<int64_t>(Bytes.size()))
    std::filesystem::resize_file(p, static_cast<uintmax_t>(VolumeBytes));
}

void FatTest::SetUp() {
  StartEngine();
  SetDebugLogPath((Tmp / "debug.log").string());
}

std::unique_ptr<TDiskObject> FatTest::Open(const TFatImage& image, const std::string& name) {
  image.Save(Tmp / name);
  return std::make_unique<TDiskObject>(name, (Tmp / name).string(), 7);
}

std::unique_ptr<TDiskObject> FatTest::Open(const std::filesystem::path& imagePath) {
  return std::make_unique<TDiskObject>(imagePath.filename().string(), imagePath.string(), 7);
}

TFatScaner& FatTest::Fat(TDiskObject& disk) {
  if (!disk.Scaner) throw std::runtime_error("the volume has no scanner");
  return dynamic_cast<TFatScaner&>(*disk.Scaner);
}

std::vector<std::string> FatTest::LogLines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadWholeFile(Tmp / "debug.log"));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<std::string> FatTest::Listing(const TDiskObject& disk) {
  std::vector<std::string> rows;
  for (TFileInfo* e : disk.Files)
    rows.push_back(GetRelativePath(*e) + " " + std::to_string(e->Size) + " " + std::to_string(e->Condition));
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace mirel::test
