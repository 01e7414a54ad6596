#include "ntfs/EfsImage.h"

#include <algorithm>

#include "core/DebugLog.h"
#include "core/LeReader.h"

namespace mirel {

const std::array<uint8_t, 66> EFS01 = {
    0x00, 0x01, 0x00, 0x00, 'R',  0,    'O',  0,    'B',  0,    'S', 0, 0,   0, 0,   0, 0,   0, 0, 0, 0x1E, 0x00,
    0x00, 0x00, 'N',  0,    'T',  0,    'F',  0,    'S',  0,    0,   0, 0,   0, 0,   0, 0,   0, 0, 0, 0,    0,
    0x02, 0x00, 0x00, 0x00, 0x10, 0x19, 0x38, 0x02, 0x00, 0x00, 'G', 0, 'U', 0, 'R', 0, 'E', 0, 0, 0, 0,    0};

const std::array<uint8_t, 42> EFS02 = {0x2A, 0x00, 0x00, 0x00, 'N', 0, 'T', 0, 'F', 0, 'S',  0,    0,    0,
                                       0,    0,    0,    0,    0,   0, 0,   0, 0,   0, 0x0E, 0x00, 0x00, 0x00,
                                       ':',  0,    ':',  0,    '$', 0, 'D', 0, 'A', 0, 'T',  0,    'A',  0};

namespace {
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

std::vector<uint8_t> BuildEfsImageHeader(std::span<const uint8_t> efsData) {
  const uint32_t n = TLeReader(efsData).U32(0);
  if (n == 0 || n > EFS_MAX_METADATA || n > efsData.size()) {
    WriteDebugLog("%s: unusable $EFS data; Length = %u; Available = %zu", "NtfsScaner.CreateEfsRecoveryData", n,
                  efsData.size());
    return {};
  }
  std::vector<uint8_t> out;
  out.reserve(EFS01.size() + n + EFS02.size());
  out.insert(out.end(), EFS01.begin(), EFS01.end());
  PutU32(out.data() + 50, n + 16);
  out.insert(out.end(), efsData.begin(), efsData.begin() + n);
  out.insert(out.end(), EFS02.begin(), EFS02.end());
  return out;
}

std::array<uint8_t, EFS_CHUNK_HEADER> BuildEfsChunkHeader(uint32_t k, int64_t dataSize) {
  std::array<uint8_t, EFS_CHUNK_HEADER> h{};
  const int64_t left = dataSize - int64_t{k} * int64_t{EFS_CHUNK_DATA};
  const uint32_t g = static_cast<uint32_t>(std::clamp<int64_t>(left, 0, EFS_CHUNK_DATA));
  const uint32_t rounded = (g + 511) / 512 * 512;
  PutU32(&h[0], rounded + 512);
  const uint8_t gure[8] = {'G', 0, 'U', 0, 'R', 0, 'E', 0};
  std::copy(std::begin(gure), std::end(gure), h.begin() + 4);
  PutU32(&h[18], k);
  PutU32(&h[24], 0x1F0);
  PutU32(&h[28], g);
  PutU32(&h[32], g);
  const uint8_t mark[8] = {0x00, 0x00, 0x10, 0x10, 0x09, 0x01, 0x01, 0x00};
  std::copy(std::begin(mark), std::end(mark), h.begin() + 36);
  PutU32(&h[44], rounded);
  return h;
}

}  // namespace mirel
