#include "core/EntryName.h"

#include <cstring>
#include <limits>
#include <ostream>
#include <stdexcept>

namespace mirel {

TEntryName::TEntryName(TEntryName&& other) noexcept {
  std::memcpy(Bytes, other.Bytes, sizeof(Bytes));
  other.SetShort({});
}

TEntryName& TEntryName::operator=(const TEntryName& other) {
  if (this != &other) *this = other.View();
  return *this;
}

TEntryName& TEntryName::operator=(TEntryName&& other) noexcept {
  if (this != &other) {
    Free();
    std::memcpy(Bytes, other.Bytes, sizeof(Bytes));
    other.SetShort({});
  }
  return *this;
}

TEntryName& TEntryName::operator=(std::string_view s) {
  // s may point into this name: the new one is made before the old goes.
  TEntryName made(s);
  return *this = std::move(made);
}

void TEntryName::Assign(std::string_view s) {
  if (s.size() <= MAX_SHORT) {
    SetShort(s);
    return;
  }
  if (s.size() > std::numeric_limits<uint32_t>::max()) throw std::length_error("entry name too long");
  char* p = new char[s.size() + 1];
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  SetLong(p, s.size(), LONG_OWNED);
}

void TEntryName::SetShort(std::string_view s) {
  std::memset(Bytes, 0, sizeof(Bytes));
  if (!s.empty()) std::memcpy(Bytes, s.data(), s.size());
  Bytes[MAX_SHORT] = static_cast<char>(MAX_SHORT - s.size());
}

void TEntryName::Free() noexcept {
  if (Tag() == LONG_OWNED) delete[] LongPtr();
  SetShort({});
}

const char* TEntryName::LongPtr() const {
  const char* p = nullptr;
  std::memcpy(&p, Bytes, sizeof(p));
  return p;
}

size_t TEntryName::LongSize() const {
  uint32_t n = 0;
  std::memcpy(&n, Bytes + sizeof(const char*), sizeof(n));
  return n;
}

void TEntryName::SetLong(const char* p, size_t n, uint8_t tag) {
  const auto n32 = static_cast<uint32_t>(n);
  std::memcpy(Bytes, &p, sizeof(p));
  std::memcpy(Bytes + sizeof(p), &n32, sizeof(n32));
  Bytes[MAX_SHORT] = static_cast<char>(tag);
}

void TEntryName::MoveInto(char* place) noexcept {
  const size_t bytes = StorageBytes();
  if (bytes == 0) return;
  const size_t n = LongSize();
  std::memcpy(place, LongPtr(), bytes);
  delete[] LongPtr();
  SetLong(place, n, LONG_BORROWED);
}

std::ostream& operator<<(std::ostream& os, const TEntryName& n) { return os << n.View(); }

}  // namespace mirel
