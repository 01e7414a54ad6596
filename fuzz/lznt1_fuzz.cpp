// LZNT1: the input is a compressed unit; the first byte picks the room the
// output has, so output ends inside chunks are reached too.
#include <vector>

#include "FuzzSupport.h"
#include "ntfs/Lznt1.h"

using namespace mirel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t room = data[0] < 16 ? size_t{data[0]} * 4096 + 4096 : size_t{data[0]} * 37;
  std::vector<uint8_t> out(room);
  const int64_t n = Lznt1Decompress({data + 1, size - 1}, out);
  if (n > static_cast<int64_t>(room) || n < -1) std::abort();
  return 0;
}
