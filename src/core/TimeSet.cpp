#include "core/TimeSet.h"

#include <array>
#include <cstring>
#include <utility>

namespace mirel {

namespace {

constexpr int SLOT_BITS = 3;
constexpr uint64_t SLOT_MASK = (1U << SLOT_BITS) - 1;
constexpr uintptr_t BORROWED = 1;

}  // namespace

TTimeSet::TTimeSet(TTimeSet&& other) noexcept : Block(std::exchange(other.Block, 0)) {}

TTimeSet& TTimeSet::operator=(TTimeSet&& other) noexcept {
  if (this != &other) {
    Free();
    Block = std::exchange(other.Block, 0);
  }
  return *this;
}

void TTimeSet::Free() noexcept {
  if (Block && !(Block & BORROWED)) delete[] Words();
  Block = 0;
}

TFileTime TTimeSet::Get(int slot) const {
  if (!Block || slot < 0 || slot >= SLOTS) return 0;
  const uint64_t* w = Words();
  const uint64_t index = w[0] >> (slot * SLOT_BITS) & SLOT_MASK;
  return index == 0 ? 0 : w[index];
}

void TTimeSet::Set(std::initializer_list<std::pair<int, TFileTime>> values) {
  std::array<TFileTime, SLOTS> all{};
  for (int i = 0; i < SLOTS; ++i) all[i] = Get(i);
  bool changed = false;
  for (const auto& [slot, t] : values) {
    if (slot < 0 || slot >= SLOTS || all[slot] == t) continue;
    all[slot] = t;
    changed = true;
  }
  if (!changed) return;
  std::array<uint64_t, SLOTS + 1> packed{};
  size_t count = 0;
  for (int i = 0; i < SLOTS; ++i) {
    if (all[i] == 0) continue;
    size_t at = 1;
    while (at <= count && packed[at] != all[i]) ++at;
    if (at > count) packed[++count] = all[i];
    packed[0] |= uint64_t{at} << (i * SLOT_BITS);
  }
  // A block of our own that holds as many values is written over: a
  // record's times are set in two steps, mostly to values already there.
  if (count > 0 && Block && !(Block & BORROWED) && count + 1 <= StorageBytes() / sizeof(uint64_t)) {
    std::memcpy(reinterpret_cast<uint64_t*>(Block), packed.data(), (count + 1) * sizeof(uint64_t));
    return;
  }
  uint64_t* words = nullptr;
  if (count > 0) {
    words = new uint64_t[count + 1];
    std::memcpy(words, packed.data(), (count + 1) * sizeof(uint64_t));
  }
  Free();
  Block = reinterpret_cast<uintptr_t>(words);
}

size_t TTimeSet::StorageBytes() const {
  if (!Block) return 0;
  size_t used = 1;
  for (int i = 0; i < SLOTS; ++i)
    if (const size_t index = Words()[0] >> (i * SLOT_BITS) & SLOT_MASK; index > used - 1) used = index + 1;
  return used * sizeof(uint64_t);
}

void TTimeSet::MoveInto(void* place) noexcept {
  if (!Block) return;
  std::memcpy(place, Words(), StorageBytes());
  Free();
  Block = reinterpret_cast<uintptr_t>(place) | BORROWED;
}

}  // namespace mirel
