#pragma once
// An entry's name in 16 bytes: up to 15 characters inside, longer ones in a
// block of their own or in the catalogue's storage. A catalogue of millions
// of entries pays neither std::string's 32 bytes nor a heap block per long
// name.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace mirel {

class TEntryName {
public:
  static constexpr size_t npos = std::string_view::npos;
  static constexpr size_t MAX_SHORT = 15;

  TEntryName() { SetShort({}); }
  TEntryName(std::string_view s) { Assign(s); }                          // NOLINT(google-explicit-constructor)
  TEntryName(const std::string& s) : TEntryName(std::string_view(s)) {}  // NOLINT(google-explicit-constructor)
  TEntryName(const char* s) : TEntryName(std::string_view(s)) {}         // NOLINT(google-explicit-constructor)
  TEntryName(const TEntryName& other) : TEntryName(other.View()) {}
  TEntryName(TEntryName&& other) noexcept;
  TEntryName& operator=(const TEntryName& other);
  TEntryName& operator=(TEntryName&& other) noexcept;
  TEntryName& operator=(std::string_view s);
  TEntryName& operator=(const std::string& s) { return *this = std::string_view(s); }
  TEntryName& operator=(const char* s) { return *this = std::string_view(s); }
  ~TEntryName() { Free(); }

  size_t size() const { return IsLong() ? LongSize() : MAX_SHORT - Tag(); }
  size_t length() const { return size(); }
  bool empty() const { return size() == 0; }
  const char* data() const { return IsLong() ? LongPtr() : Bytes; }
  const char* c_str() const { return data(); }
  char operator[](size_t i) const { return data()[i]; }
  const char* begin() const { return data(); }
  const char* end() const { return data() + size(); }

  std::string_view View() const { return {data(), size()}; }
  std::string Str() const { return std::string(View()); }
  operator std::string() const { return Str(); }        // NOLINT(google-explicit-constructor)
  operator std::string_view() const { return View(); }  // NOLINT(google-explicit-constructor)

  size_t find(std::string_view s, size_t pos = 0) const { return View().find(s, pos); }
  size_t find(char c, size_t pos = 0) const { return View().find(c, pos); }
  size_t rfind(char c, size_t pos = npos) const { return View().rfind(c, pos); }
  size_t find_last_of(std::string_view s, size_t pos = npos) const { return View().find_last_of(s, pos); }
  size_t find_last_of(char c, size_t pos = npos) const { return View().find_last_of(c, pos); }
  std::string substr(size_t pos, size_t n = npos) const { return std::string(View().substr(pos, n)); }

  TEntryName& operator+=(std::string_view s) { return *this = Str().append(s); }

  // Bytes a long name takes in a catalogue's storage (0 for a short one), and
  // the move of its characters there; the storage, freed by its owner, must
  // outlive the name.
  size_t StorageBytes() const { return IsLong() && !Borrowed() ? LongSize() + 1 : 0; }
  void MoveInto(char* place) noexcept;

  friend bool operator==(const TEntryName& a, std::string_view b) { return a.View() == b; }
  friend auto operator<=>(const TEntryName& a, std::string_view b) { return a.View() <=> b; }
  friend std::string operator+(const TEntryName& a, std::string_view b) { return a.Str().append(b); }
  friend std::string operator+(const TEntryName& a, const char* b) { return a.Str().append(b); }
  friend std::string operator+(const TEntryName& a, char b) { return a.Str() + b; }
  friend std::string operator+(std::string_view a, const TEntryName& b) { return std::string(a).append(b.View()); }
  friend std::string operator+(const std::string& a, const TEntryName& b) { return a + std::string(b.View()); }
  friend std::string operator+(const char* a, const TEntryName& b) { return std::string(a).append(b.View()); }
  friend std::string operator+(const TEntryName& a, const std::string& b) { return a.Str() + b; }
  friend std::ostream& operator<<(std::ostream& os, const TEntryName& n);

private:
  // The last byte tells the kind: 0..15 a short name (15 minus its length,
  // so a 15-character name ends on it as its terminator), or a long one.
  static constexpr uint8_t LONG_OWNED = 0x80, LONG_BORROWED = 0x81;

  void Assign(std::string_view s);
  void SetShort(std::string_view s);
  void Free() noexcept;
  uint8_t Tag() const { return static_cast<uint8_t>(Bytes[MAX_SHORT]); }
  bool IsLong() const { return Tag() >= LONG_OWNED; }
  bool Borrowed() const { return Tag() == LONG_BORROWED; }
  const char* LongPtr() const;
  size_t LongSize() const;
  void SetLong(const char* p, size_t n, uint8_t tag);

  alignas(8) char Bytes[MAX_SHORT + 1];
};
static_assert(sizeof(TEntryName) == 16);

}  // namespace mirel
