#include "ntfs/NtfsTypes.h"

#include "core/Text.h"

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
  if (Holder && offset <= Holder->size() && length <= Holder->size() - offset && length >= 16)
    Bytes = std::span<const uint8_t>(Holder->data() + offset, length);
}

bool TNtfsAttr::NameReadable() const {
  TLeReader r = Reader();
  return r.Has(r.U16(10), size_t{r.U8(9)} * 2);
}

std::string TNtfsAttr::Name() const {
  TLeReader r = Reader();
  size_t len = r.U8(9);
  if (len == 0) return {};
  std::span<const uint8_t> name = r.Bytes(r.U16(10), len * 2);
  return name.empty() ? std::string() : Utf16LeToUtf8(name.data(), len);
}

std::span<const uint8_t> TNtfsAttr::Value() const {
  if (!*this || NonResident()) return {};
  TLeReader r = Reader();
  return r.Bytes(r.U16(20), r.U32(16));
}

int64_t TNtfsAttr::DataSize() const {
  if (!*this) return 0;
  if (NonResident()) return static_cast<int64_t>(Reader().U64(48));
  return Reader().U32(16);
}

bool SameStreamName(const std::string& a, const std::string& b) { return ToLowerAscii(a) == ToLowerAscii(b); }

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
  TLeReader r(*record);
  size_t off = at != 0 ? at : r.U16(20);
  while (off + 8 <= r.Size()) {
    const uint32_t type = r.U32(off);
    if (type == atEnd) break;
    const size_t len = r.U16(off + 4);
    if (len < 16 || off + len > r.Size()) break;
    const size_t attr = off;
    off += len;
    if (AttrKindOf(type) == kind) {
      at = off;
      return TNtfsAttr(record, attr, len);
    }
  }
  at = r.Size();
  return {};
}

}  // namespace mirel
