#pragma once
// Opening what a path holds as a byte source, the format told by content:
// EWF (E01, Ex01), VHD and VHDX, VMDK, QCOW, then a split raw image by the
// name of its first segment, else a raw image or device.
#include <memory>
#include <string>

#include "platform/ByteSource.h"

namespace mirel {

struct TOpenedImage {
  std::unique_ptr<TByteSource> Source;  // null when it cannot be opened
  std::string Format;                   // "raw", "split", "EWF", "VHD", "VMDK", "QCOW"
  int Errno = 0;
  std::string Error;  // why it cannot be opened, naming a segment where one is at fault
};

[[nodiscard]] TOpenedImage OpenImage(const std::string& path);

// The format a path's first and last sectors show, or "" for none of the
// image formats above (a raw image or a split one).
[[nodiscard]] std::string DetectImageFormat(const TByteSource& whole);

// One opener per image library; they fill Error with the library's reason.
[[nodiscard]] TOpenedImage OpenEwfImage(const std::string& path);
[[nodiscard]] TOpenedImage OpenVhdImage(const std::string& path);
[[nodiscard]] TOpenedImage OpenVmdkImage(const std::string& path);
[[nodiscard]] TOpenedImage OpenQcowImage(const std::string& path);

}  // namespace mirel
