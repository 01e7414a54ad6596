// EWF, VHD/VHDX, VMDK and QCOW images, each read through the library made for
// its format. The libraries' handles are not safe for concurrent reads, so
// each source reads under its own lock.
#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ImageFormats.h"

namespace mirel {

namespace {

// What one library offers, in the shape the source below uses.
struct TEwf {
  using Handle = libewf_handle_t;
  using Error = libewf_error_t;
  static constexpr const char* Format = "EWF";
  static int Init(Handle** h, Error** e) { return libewf_handle_initialize(h, e); }
  static int Open(Handle* h, const std::string& path, Error** e) {
    // Every segment (E01, E02, ...) from the first one's name.
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, e) != 1) return -1;
    const int opened = libewf_handle_open(h, names, count, LIBEWF_OPEN_READ, e);
    libewf_glob_free(names, count, nullptr);
    return opened;
  }
  static int MediaSize(Handle* h, size64_t* size, Error** e) { return libewf_handle_get_media_size(h, size, e); }
  static ssize_t Read(Handle* h, void* buffer, size_t count, off64_t offset, Error** e) {
    return libewf_handle_read_random(h, buffer, count, offset, e);
  }
  // libewf delivers a chunk that fails its checksum (or lies in a missing
  // segment) as zeros and only records it: the first such byte of a read, or -1.
  static int64_t FirstFault(Handle* h, int64_t offset, size_t count) {
    uint32_t errors = 0, sectorBytes = 0;
    if (libewf_handle_get_number_of_checksum_errors(h, &errors, nullptr) != 1 || errors == 0 ||
        libewf_handle_get_bytes_per_sector(h, &sectorBytes, nullptr) != 1 || sectorBytes == 0)
      return -1;
    int64_t first = -1;
    const int64_t end = offset + static_cast<int64_t>(count);
    for (uint32_t i = 0; i < errors; ++i) {
      uint64_t start = 0, sectors = 0;
      if (libewf_handle_get_checksum_error(h, i, &start, &sectors, nullptr) != 1) continue;
      const int64_t from = static_cast<int64_t>(start * sectorBytes);
      const int64_t to = static_cast<int64_t>((start + sectors) * sectorBytes);
      if (to <= offset || from >= end) continue;
      const int64_t at = std::max(from, offset);
      if (first < 0 || at < first) first = at;
    }
    return first;
  }
  static void Close(Handle* h) { libewf_handle_close(h, nullptr); }
  static void Free(Handle** h) { libewf_handle_free(h, nullptr); }
  static void Describe(Error* e, char* text, size_t size) { libewf_error_sprint(e, text, size); }
  static void FreeError(Error** e) { libewf_error_free(e); }
};

struct TVhdi {
  using Handle = libvhdi_file_t;
  using Error = libvhdi_error_t;
  static constexpr const char* Format = "VHD";
  static int Init(Handle** h, Error** e) { return libvhdi_file_initialize(h, e); }
  static int Open(Handle* h, const std::string& path, Error** e) {
    return libvhdi_file_open(h, path.c_str(), LIBVHDI_OPEN_READ, e);
  }
  static int MediaSize(Handle* h, size64_t* size, Error** e) { return libvhdi_file_get_media_size(h, size, e); }
  static ssize_t Read(Handle* h, void* buffer, size_t count, off64_t offset, Error** e) {
    return libvhdi_file_read_buffer_at_offset(h, buffer, count, offset, e);
  }
  static int64_t FirstFault(Handle*, int64_t, size_t) { return -1; }
  static void Close(Handle* h) { libvhdi_file_close(h, nullptr); }
  static void Free(Handle** h) { libvhdi_file_free(h, nullptr); }
  static void Describe(Error* e, char* text, size_t size) { libvhdi_error_sprint(e, text, size); }
  static void FreeError(Error** e) { libvhdi_error_free(e); }
};

struct TVmdk {
  using Handle = libvmdk_handle_t;
  using Error = libvmdk_error_t;
  static constexpr const char* Format = "VMDK";
  static int Init(Handle** h, Error** e) { return libvmdk_handle_initialize(h, e); }
  static int Open(Handle* h, const std::string& path, Error** e) {
    // A descriptor names its extent files beside it; a sparse file is its own.
    if (libvmdk_handle_open(h, path.c_str(), LIBVMDK_OPEN_READ, e) != 1) return -1;
    return libvmdk_handle_open_extent_data_files(h, e);
  }
  static int MediaSize(Handle* h, size64_t* size, Error** e) { return libvmdk_handle_get_media_size(h, size, e); }
  static ssize_t Read(Handle* h, void* buffer, size_t count, off64_t offset, Error** e) {
    return libvmdk_handle_read_buffer_at_offset(h, buffer, count, offset, e);
  }
  static int64_t FirstFault(Handle*, int64_t, size_t) { return -1; }
  static void Close(Handle* h) { libvmdk_handle_close(h, nullptr); }
  static void Free(Handle** h) { libvmdk_handle_free(h, nullptr); }
  static void Describe(Error* e, char* text, size_t size) { libvmdk_error_sprint(e, text, size); }
  static void FreeError(Error** e) { libvmdk_error_free(e); }
};

struct TQcow {
  using Handle = libqcow_file_t;
  using Error = libqcow_error_t;
  static constexpr const char* Format = "QCOW";
  static int Init(Handle** h, Error** e) { return libqcow_file_initialize(h, e); }
  static int Open(Handle* h, const std::string& path, Error** e) {
    return libqcow_file_open(h, path.c_str(), LIBQCOW_OPEN_READ, e);
  }
  static int MediaSize(Handle* h, size64_t* size, Error** e) { return libqcow_file_get_media_size(h, size, e); }
  static ssize_t Read(Handle* h, void* buffer, size_t count, off64_t offset, Error** e) {
    return libqcow_file_read_buffer_at_offset(h, buffer, count, offset, e);
  }
  static int64_t FirstFault(Handle*, int64_t, size_t) { return -1; }
  static void Close(Handle* h) { libqcow_file_close(h, nullptr); }
  static void Free(Handle** h) { libqcow_file_free(h, nullptr); }
  static void Describe(Error* e, char* text, size_t size) { libqcow_error_sprint(e, text, size); }
  static void FreeError(Error** e) { libqcow_error_free(e); }
};

// The library's message, its last line: the one that says what went wrong
// rather than which function passed it on.
template <class Lib>
std::string TakeError(typename Lib::Error*& error) {
  if (!error) return "unreadable image";
  std::vector<char> text(4096, '\0');
  Lib::Describe(error, text.data(), text.size());
  Lib::FreeError(&error);
  std::string s(text.data());
  while (!s.empty() && (s.back() == '\n' || s.back() == '.')) s.pop_back();
  if (const size_t nl = s.rfind('\n'); nl != std::string::npos) s = s.substr(nl + 1);
  if (const size_t colon = s.find(": "); colon != std::string::npos && s.compare(0, 3, "lib") == 0)
    s = s.substr(colon + 2);
  return s.empty() ? "unreadable image" : s;
}

template <class Lib>
class TLibraryImage final : public TByteSource {
public:
  TLibraryImage(typename Lib::Handle* handle, int64_t size) : Handle(handle), Bytes(size) {}
  ~TLibraryImage() override {
    Lib::Close(Handle);
    Lib::Free(&Handle);
  }
  TLibraryImage(const TLibraryImage&) = delete;
  TLibraryImage& operator=(const TLibraryImage&) = delete;

  bool IsValid() const override { return Handle != nullptr; }
  int64_t Size() const override { return Bytes; }
  size_t Read(void* buffer, size_t count, int64_t offset) const override {
    if (!buffer || offset < 0 || offset >= Bytes) return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(Bytes - offset)));
    std::lock_guard lock(Lock);
    typename Lib::Error* error = nullptr;
    const ssize_t got = Lib::Read(Handle, buffer, count, offset, &error);
    // A chunk that fails its checksum or cannot be read is a failed read:
    // the caller narrows it down and reports what is missing.
    if (error) Lib::FreeError(&error);
    if (got <= 0) return 0;
    const int64_t fault = Lib::FirstFault(Handle, offset, static_cast<size_t>(got));
    return fault < 0 ? static_cast<size_t>(got) : static_cast<size_t>(fault - offset);
  }

private:
  typename Lib::Handle* Handle;
  int64_t Bytes;
  mutable std::mutex Lock;
};

template <class Lib>
TOpenedImage OpenWith(const std::string& path) {
  TOpenedImage opened;
  typename Lib::Handle* handle = nullptr;
  typename Lib::Error* error = nullptr;
  auto fail = [&]() {
    opened.Errno = EIO;
    opened.Error = std::string(Lib::Format) + " image: " + TakeError<Lib>(error);
    if (handle) Lib::Free(&handle);
    return std::move(opened);
  };
  if (Lib::Init(&handle, &error) != 1) return fail();
  if (Lib::Open(handle, path, &error) != 1) return fail();
  size64_t size = 0;
  if (Lib::MediaSize(handle, &size, &error) != 1) {
    Lib::Close(handle);
    return fail();
  }
  opened.Format = Lib::Format;
  opened.Source = std::make_unique<TLibraryImage<Lib>>(handle, static_cast<int64_t>(size));
  // An image whose last segment or extent is gone still states the full size:
  // its end must be there, or the volume would silently end early.
  std::array<char, 512> last{};
  const size_t tail = static_cast<size_t>(std::min<size64_t>(size, last.size()));
  if (tail > 0 && opened.Source->Read(last.data(), tail, static_cast<int64_t>(size - tail)) != tail) {
    opened.Source.reset();
    opened.Errno = EIO;
    opened.Error = std::string(Lib::Format) + " image: its last " + std::to_string(tail) +
                   " bytes cannot be read (a segment missing or cut short)";
  }
  return opened;
}

// The name of the EWF segment after name: E01 ... E99, EAA ... ZZZ, and the
// same in lower case or after an "x" (Ex01).
std::string NextEwfSegment(const std::string& name) {
  std::string next = name;
  const size_t n = next.size();
  if (n < 2) return next;
  char& hi = next[n - 2];
  char& lo = next[n - 1];
  const bool lower = std::islower(static_cast<unsigned char>(next[n - 3])) != 0;
  const char a = lower ? 'a' : 'A';
  if (std::isdigit(static_cast<unsigned char>(hi)) && std::isdigit(static_cast<unsigned char>(lo))) {
    if (hi == '9' && lo == '9') {
      hi = lo = a;
    } else if (lo == '9') {
      ++hi;
      lo = '0';
    } else {
      ++lo;
    }
  } else if (lo != a + 25) {
    ++lo;
  } else {
    lo = a;
    ++hi;
  }
  return next;
}

// The first segment missing before a later one that is there, or "".
std::string MissingEwfSegment(const std::string& path) {
  char** names = nullptr;
  int count = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1 || count < 1)
    return {};
  std::string missing = NextEwfSegment(names[count - 1]);
  libewf_glob_free(names, count, nullptr);
  std::error_code ec;
  std::string later = missing;
  for (int i = 0; i < 64; ++i) {
    later = NextEwfSegment(later);
    if (std::filesystem::exists(later, ec)) return missing;
  }
  return {};
}

}  // namespace

TOpenedImage OpenEwfImage(const std::string& path) {
  if (std::string missing = MissingEwfSegment(path); !missing.empty()) {
    TOpenedImage opened;
    opened.Errno = ENOENT;
    opened.Error = "missing segment " + missing;
    return opened;
  }
  return OpenWith<TEwf>(path);
}
TOpenedImage OpenVhdImage(const std::string& path) { return OpenWith<TVhdi>(path); }
TOpenedImage OpenVmdkImage(const std::string& path) { return OpenWith<TVmdk>(path); }
TOpenedImage OpenQcowImage(const std::string& path) { return OpenWith<TQcow>(path); }

}  // namespace mirel
