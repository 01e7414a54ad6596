#include "ntfs/NtfsTypes.h"

#include <algorithm>

#include "core/Text.h"
#include "ntfs/NtfsRecordHeader.h"

namespace mirel {

TAttrKind AttrKindOf(uint32_t type) {
  switch (type) {
    case atData: return akData;
    case atFileName: return akFileName;
    case atStandardInformation: return akStdInfo;
    case atAttributeList: return akAttrList;
    case atBitmap: return akBitmap;
    case atLoggedUtilityStream: return akLoggedUtility;
    default: return akCount;
  }
}

TNtfsAttr::TNtfsAttr(TRecordBytes record, size_t offset, size_t length) : Holder(std::move(record)) {
  if (!Holder || offset > Holder->size() || length > Holder->size() - offset) return;
  const std::span<const uint8_t> bytes(Holder->data() + offset, length);
  // The attribute is as long as its own header says, and no longer than given.
  std::optional<TNtfsAttrHeader> head = DecodeAttrHeader(bytes);
  if (!head) return;
  Head = *head;
  Bytes = bytes.first(Head.Length);
}

std::string TNtfsAttr::Name() const {
  std::span<const uint8_t> name = Head.Name(Bytes);
  return name.empty() ? std::string() : Utf16LeToUtf8(name.data(), name.size() / 2);
}

bool SameStreamName(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::vector<TNtfsAttr> TNtfsFileInfo::AttrsOf(TAttrKind kind) const {
  std::vector<TNtfsAttr> out;
  size_t index = 0;
  while (TNtfsAttr a = NextAttrOf(kind, index)) out.push_back(std::move(a));
  return out;
}

TNtfsAttr NextAttrIn(const TRecordBytes& record, TAttrKind kind, size_t& at) {
  if (!record) return {};
  // The attributes are walked again on every lookup: a record holds a handful,
  // and an index per catalogued entry would cost more memory than the walk
  // costs time. The walk stops where the scan's did, at the first attribute
  // that does not fit.
  const std::span<const uint8_t> bytes(*record);
  size_t off = at;
  if (off == 0) off = DecodeMftRecordHeader(bytes).value_or(TMftRecordHeader{}).FirstAttribute;
  while (std::optional<TAttrExtent> h = AttrExtentAt(bytes, off)) {
    const size_t attr = off;
    off += h->Length;
    if (AttrKindOf(h->Type) == kind) {
      at = off;
      return TNtfsAttr(record, attr, h->Length);
    }
  }
  at = bytes.size();
  return {};
}

}  // namespace mirel
