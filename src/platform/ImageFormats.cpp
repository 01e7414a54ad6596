#include "platform/ImageFormats.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/RawSource.h"
#include "platform/SplitSource.h"

namespace mirel {

namespace {

bool StartsWith(const std::array<char, 512>& sector, std::string_view magic) {
  return std::equal(magic.begin(), magic.end(), sector.begin());
}

}  // namespace

std::string DetectImageFormat(const TByteSource& whole) {
  std::array<char, 512> first{}, last{};
  if (whole.Read(first.data(), first.size(), 0) < 8) return {};
  using namespace std::string_view_literals;
  if (StartsWith(first, "EVF\x09\x0d\x0a\xff\x00"sv) || StartsWith(first, "EVF2\x0d\x0a\x81\x00"sv) ||
      StartsWith(first, "LVF\x09\x0d\x0a\xff\x00"sv))
    return "EWF";
  if (StartsWith(first, "conectix"sv) || StartsWith(first, "vhdxfile"sv)) return "VHD";
  if (StartsWith(first, "KDMV"sv) || StartsWith(first, "COWD"sv) || StartsWith(first, "# Disk DescriptorFile"sv))
    return "VMDK";
  if (StartsWith(first, "QFI\xfb"sv)) return "QCOW";
  // A fixed VHD is the raw disk with the footer after it.
  const int64_t size = whole.Size();
  if (size >= 1024 && size % 512 == 0 && whole.Read(last.data(), last.size(), size - 512) == last.size() &&
      StartsWith(last, "conectix"sv))
    return "VHD";
  return {};
}

TOpenedImage OpenImage(const std::string& path) {
  TOpenedImage opened;
  auto raw = std::make_unique<TRawSource>(TRawSource::Open(path));
  if (!raw->IsValid()) {
    opened.Errno = raw->ErrorNumber();
    opened.Error = raw->Error();
    return opened;
  }
  const std::string format = DetectImageFormat(*raw);
  if (format == "EWF") return OpenEwfImage(path);
  if (format == "VHD") return OpenVhdImage(path);
  if (format == "VMDK") return OpenVmdkImage(path);
  if (format == "QCOW") return OpenQcowImage(path);
  if (IsFirstSplitSegment(path)) return OpenSplitImage(path);
  opened.Format = "raw";
  opened.Source = std::move(raw);
  return opened;
}

}  // namespace mirel
