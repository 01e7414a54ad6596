#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ntfs/Lznt1.h"

using namespace mirel;

namespace {

using TBytes = std::vector<uint8_t>;

// A compressed chunk from its token bytes (flag bytes included).
TBytes Chunk(const TBytes& tokens) {
  size_t field = tokens.size() - 1;  // chunk length - 3, the header not counted
  TBytes c(tokens.size() + 2);
  c[0] = static_cast<uint8_t>(field & 0xFF);
  c[1] = static_cast<uint8_t>(0xB0 | (field >> 8));
  std::copy(tokens.begin(), tokens.end(), c.begin() + 2);
  return c;
}

std::string Decode(const TBytes& in, int64_t& n, size_t room = 65536) {
  std::string out(room, '\xEE');
  n = Lznt1Decompress(in, std::span<uint8_t>(reinterpret_cast<uint8_t*>(out.data()), out.size()));
  return out.substr(0, n < 0 ? 0 : static_cast<size_t>(n));
}

}  // namespace

TEST(Lznt1, LiteralsAndOverlappingBackReference) {
  // "ab", then a back reference 2 bytes back, 10 long: "ababababab".
  // With 2 bytes written the displacement has 4 bits: (2-1) << 12 | (10-3).
  TBytes in = Chunk({0x04, 'a', 'b', 0x07, 0x10});
  in.resize(in.size() + 8, 0);  // slack after the data, as in a cluster
  int64_t n = 0;
  std::string out = Decode(in, n);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(out, "abababababab");
}

TEST(Lznt1, DisplacementWidensAsTheChunkGrows) {
  // 17 literals, then a reference 17 back of length 3: with 17 bytes written
  // the displacement takes 5 bits, so the token is (17-1) << 11 | (3-3).
  TBytes tokens = {0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',  0x00,
                   'I',  'J', 'K', 'L', 'M', 'N', 'O', 'P', 0x02, 'Q'};
  tokens.push_back(0x00);
  tokens.push_back(0x80);
  TBytes in = Chunk(tokens);
  in.insert(in.end(), {0, 0});
  int64_t n = 0;
  std::string out = Decode(in, n);
  EXPECT_EQ(out, "ABCDEFGHIJKLMNOPQABC");
}

TEST(Lznt1, StoredChunkAndWholeUnit) {
  TBytes in(2 + 4096);
  in[0] = 0xFF;
  in[1] = 0x3F;
  for (int i = 0; i < 4096; ++i) in[2 + i] = static_cast<uint8_t>(i * 7);
  TBytes second = Chunk({0x00, 'x', 'y', 'z'});
  in.insert(in.end(), second.begin(), second.end());
  in.push_back(0);
  in.push_back(0);
  int64_t n = 0;
  std::string out = Decode(in, n);
  ASSERT_EQ(n, 4096 + 3);
  EXPECT_EQ(static_cast<uint8_t>(out[4095]), static_cast<uint8_t>(4095 * 7));
  EXPECT_EQ(out.substr(4096), "xyz");
}

TEST(Lznt1, MalformedInputIsRefused) {
  int64_t n = 0;
  // A stored chunk must hold exactly 4096 bytes.
  TBytes shortStored = {0x10, 0x30};
  shortStored.resize(2 + 17, 'q');
  Decode(shortStored, n);
  EXPECT_EQ(n, -1);
  // A back reference cannot open a chunk, nor reach before its start.
  Decode(Chunk({0x01, 0x00, 0x10, 0, 0}), n);
  EXPECT_EQ(n, -1);
  Decode(Chunk({0x02, 'a', 0x00, 0x50, 0, 0}), n);
  EXPECT_EQ(n, -1);
  // A chunk longer than the input.
  const TBytes whole = Chunk({0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
  const TBytes cut(whole.begin(), whole.end() - 3);
  Decode(cut, n);
  EXPECT_EQ(n, -1);
  // Less than a chunk of room left in the output.
  Decode(Chunk({0x00, 'a', 'b', 'c', 'd', 'e'}), n, 100);
  EXPECT_EQ(n, -1);
}

TEST(Lznt1, ChunkEndingWithTheInputIsCompletedWithZeros) {
  int64_t n = 0;
  std::string out = Decode(Chunk({0x00, 'a', 'b', 'c', 'd', 'e'}), n);
  ASSERT_EQ(n, 4096);
  EXPECT_EQ(out.substr(0, 5), "abcde");
  EXPECT_EQ(out.find_first_not_of('\0', 5), std::string::npos);
}

TEST(Lznt1, GarbageNeverEscapesItsBuffers) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    TBytes in(rng() % 9000);
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    if (in.size() >= 2 && round % 2) in[1] |= 0x80;  // mostly compressed chunks
    TBytes out(4096 * (1 + rng() % 16));
    int64_t n = Lznt1Decompress(in, out);
    ASSERT_GE(n, -1);
    ASSERT_LE(n, static_cast<int64_t>(out.size()));
  }
}
