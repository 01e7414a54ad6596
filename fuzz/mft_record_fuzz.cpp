// One MFT record through the structure decoders: header, fixups, the walk
// over its attributes, and each attribute's value (names, standard
// information, attribute-list entries) or run list. Every view a decoder
// gives must lie inside the bytes it was given.
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "ntfs/NtfsAttrHeader.h"
#include "ntfs/NtfsAttrListEntry.h"
#include "ntfs/NtfsFileName.h"
#include "ntfs/NtfsFixups.h"
#include "ntfs/NtfsRecordHeader.h"
#include "ntfs/NtfsStdInfo.h"
#include "ntfs/NtfsTypes.h"
#include "ntfs/RunList.h"

using namespace mirel;

namespace {

void Inside(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
  if (part.empty()) return;
  if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) std::abort();
}

void CheckRuns(std::span<const uint8_t> pairs, int64_t startVcn) {
  const std::optional<TRunList> runs = DecodeRunList(pairs, startVcn);
  if (!runs) return;
  int64_t vcn = startVcn;
  for (const TNtfsRun& r : *runs) {
    if (r.Vcn != vcn || r.Vcn < 0) std::abort();
    vcn += r.Length;
  }
}

void CheckList(std::span<const uint8_t> list) {
  for (size_t at = 0; at < list.size();) {
    const TAttrListStep step = DecodeAttrListEntry(list.subspan(at));
    if (step.Kind != TAttrListStep::Found) return;
    if (step.Entry.Length < kAttrListEntryBytes || step.Entry.Length > list.size() - at) std::abort();
    at += step.Entry.Length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::StartFuzzEngine();
  std::vector<uint8_t> rec(data, data + size);
  const std::optional<TMftRecordHeader> head = DecodeMftRecordHeader(rec);
  if (!head) return 0;
  // A torn record is still walked: the decoders must hold on any bytes.
  (void)ApplyFixups(rec, 512);
  const std::span<const uint8_t> bytes(rec);
  size_t off = head->FirstAttribute;
  while (std::optional<TNtfsAttrHeader> a = AttrAt(bytes, off)) {
    if (a->Length < kAttrHeaderBytes || a->Length > bytes.size() - off) std::abort();
    const std::span<const uint8_t> attr = bytes.subspan(off, a->Length);
    off += a->Length;
    Inside(a->Name(attr), attr);
    Inside(a->Value(attr), attr);
    Inside(a->MappingPairs(attr), attr);
    if (a->NonResident) {
      CheckRuns(a->MappingPairs(attr), a->StartVcn);
      continue;
    }
    const std::span<const uint8_t> value = a->Value(attr);
    switch (a->Type) {
      case atStandardInformation: (void)DecodeStdInfo(value); break;
      case atFileName:
        if (std::optional<TNtfsFileName> n = DecodeFileName(value); n && n->ParentRecord > MFT_REF_MASK) std::abort();
        break;
      case atAttributeList: CheckList(value); break;
      default: break;
    }
  }
  return 0;
}
