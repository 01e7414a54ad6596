#include "ntfs/Lznt1.h"

#include <cstring>

namespace mirel {

namespace {

enum class TChunkEnd { Full, Short, Bad };

// One compressed chunk's tokens from in into out (LZNT1_CHUNK bytes of room);
// produced counts the bytes written.
TChunkEnd DecodeChunk(std::span<const uint8_t> in, uint8_t* out, size_t& produced) {
  size_t ip = 0, op = 0;
  while (ip < in.size()) {
    uint8_t flags = in[ip++];
    for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
      if (op == LZNT1_CHUNK) {
        produced = op;
        return TChunkEnd::Full;
      }
      if (!(flags & 1)) {
        if (ip >= in.size()) break;
        out[op++] = in[ip++];
        continue;
      }
      if (ip + 2 > in.size()) {
        ip = in.size();
        break;
      }
      uint16_t token = static_cast<uint16_t>(in[ip] | in[ip + 1] << 8);
      ip += 2;
      if (op == 0) return TChunkEnd::Bad;
      // The displacement takes as many bits as the bytes written so far need,
      // at least four; the length gets the rest.
      unsigned dispBits = 4;
      while ((size_t{1} << dispBits) < op) ++dispBits;
      const unsigned lenBits = 16 - dispBits;
      size_t disp = (token >> lenBits) + 1u;
      size_t len = (token & ((1u << lenBits) - 1)) + 3u;
      if (disp > op || op + len > LZNT1_CHUNK) return TChunkEnd::Bad;
      for (size_t i = 0; i < len; ++i, ++op) out[op] = out[op - disp];
    }
  }
  produced = op;
  return op == LZNT1_CHUNK ? TChunkEnd::Full : TChunkEnd::Short;
}

}  // namespace

int64_t Lznt1Decompress(std::span<const uint8_t> input, std::span<uint8_t> output) {
  size_t ip = 0, op = 0;
  while (ip < input.size() && op < output.size()) {
    const size_t left = input.size() - ip;
    uint16_t header = left >= 2 ? static_cast<uint16_t>(input[ip] | input[ip + 1] << 8) : 0;
    if (left >= 2 && header == 0) break;
    if (output.size() - op < LZNT1_CHUNK || left < 6) return -1;
    const size_t length = (header & 0x0FFF) + 1u;  // data bytes after the header
    if (length > left - 2) return -1;
    std::span<const uint8_t> data = input.subspan(ip + 2, length);
    ip += 2 + length;
    if (!(header & 0x8000)) {
      if (length != LZNT1_CHUNK) return -1;
      std::memcpy(output.data() + op, data.data(), LZNT1_CHUNK);
      op += LZNT1_CHUNK;
      continue;
    }
    size_t produced = 0;
    TChunkEnd end = DecodeChunk(data, output.data() + op, produced);
    if (end == TChunkEnd::Bad) return -1;
    op += produced;
    if (end == TChunkEnd::Short) {
      // A chunk that ends with the input stands for a whole chunk whose tail
      // was zeros; any other short chunk ends the data.
      if (ip == input.size()) {
        std::memset(output.data() + op, 0, LZNT1_CHUNK - produced);
        op += LZNT1_CHUNK - produced;
      }
      break;
    }
  }
  return static_cast<int64_t>(op);
}

}  // namespace mirel
