#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "ntfs/NtfsAttrHeader.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// Attributes of files on the fixture volume.
// tiny.txt: resident unnamed $DATA, 40 bytes of value at 0x18.
const std::vector<uint8_t> kResidentData = {
    0x80, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x28, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x74, 0x69, 0x6E, 0x79, 0x2E, 0x74, 0x78, 0x74,
    0x20, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x31, 0x0A, 0x74, 0x69, 0x6E, 0x79, 0x2E,
    0x74, 0x78, 0x74, 0x20, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32, 0x0A, 0x74, 0x69,
};
// compressible.txt: compressed non-resident $DATA, units of 16 clusters.
const std::vector<uint8_t> kCompressedData = {
    0x80, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00, 0x00, 0x01, 0x00, 0x48, 0x00, 0x01, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x48, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x40, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x03, 0x4C, 0x0A, 0x01, 0x0D, 0x11, 0x03,
    0x03, 0x01, 0x0D, 0x11, 0x03, 0x03, 0x01, 0x0D, 0x11, 0x01, 0x03, 0x01, 0x0F, 0x00, 0x00, 0x00,
};

// A named resident attribute: "ads" at 0x18, value "hi" at 0x20.
const std::vector<uint8_t> kNamedStream = {
    0x80, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x03, 0x18, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x61, 0x00, 0x64, 0x00,
    0x73, 0x00, 0x00, 0x00, 0x68, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

std::string Text(std::span<const uint8_t> b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST(NtfsAttrHeader, ResidentValueOfTheFixture) {
  const std::optional<TNtfsAttrHeader> h = DecodeAttrHeader(kResidentData);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->Type, 0x80u);
  EXPECT_EQ(h->Length, 0x40);
  EXPECT_FALSE(h->NonResident);
  EXPECT_EQ(h->NameLength, 0);
  EXPECT_EQ(h->Instance, 2);
  EXPECT_EQ(h->ValueLength, 40u);
  EXPECT_EQ(h->ValueOffset, 0x18);
  EXPECT_EQ(Text(h->Value(kResidentData)), "tiny.txt 000000001\ntiny.txt 000000002\nti");
  EXPECT_TRUE(h->Name(kResidentData).empty());
  EXPECT_TRUE(h->MappingPairs(kResidentData).empty());
}

TEST(NtfsAttrHeader, CompressedNonResidentOfTheFixture) {
  const std::optional<TNtfsAttrHeader> h = DecodeAttrHeader(kCompressedData);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->NonResident);
  EXPECT_EQ(h->Flags, 0x0001);  // LZNT1
  EXPECT_EQ(h->StartVcn, 0);
  EXPECT_EQ(h->LastVcn, 0x3F);
  EXPECT_EQ(h->CompressionUnit, 4);
  EXPECT_EQ(h->AllocatedSize, 0x40000);
  EXPECT_EQ(h->DataSize, 0x30D40);
  EXPECT_EQ(h->InitializedSize, 0x30D40);
  EXPECT_EQ(h->MappingPairsOffset, 0x48);
  // The pairs run to the attribute's end, padding included.
  std::span<const uint8_t> pairs = h->MappingPairs(kCompressedData);
  ASSERT_EQ(pairs.size(), 0x60u - 0x48u);
  EXPECT_EQ(pairs[0], 0x21);
  EXPECT_TRUE(h->Value(kCompressedData).empty());
}

TEST(NtfsAttrHeader, NameAndValueOfANamedStream) {
  const std::optional<TNtfsAttrHeader> h = DecodeAttrHeader(kNamedStream);
  ASSERT_TRUE(h);
  std::span<const uint8_t> name = h->Name(kNamedStream);
  ASSERT_EQ(name.size(), 6u);
  EXPECT_EQ(name[0], 'a');
  EXPECT_EQ(Text(h->Value(kNamedStream)), "hi");
}

TEST(NtfsAttrHeader, LengthsThatDoNotFitAreRefused) {
  EXPECT_FALSE(DecodeAttrHeader(std::span(kResidentData).first(kAttrHeaderBytes - 1)));
  std::vector<uint8_t> shortLength = kResidentData;
  PutLe(shortLength, 4, 8, 4);
  EXPECT_FALSE(DecodeAttrHeader(shortLength));
  // The attribute claims more bytes than its record holds.
  EXPECT_FALSE(DecodeAttrHeader(std::span(kResidentData).first(0x3F)));
  // Only the low 16 bits of the length field count.
  std::vector<uint8_t> highBits = kResidentData;
  PutLe(highBits, 4, 0x00010040, 4);
  EXPECT_EQ(DecodeAttrHeader(highBits).value().Length, 0x40);
}

TEST(NtfsAttrHeader, FieldsPointingOutsideGiveEmptyViews) {
  std::vector<uint8_t> a = kNamedStream;
  a[9] = 20;  // 40 bytes of name from 0x18 in an attribute of 0x28
  PutLe(a, 0x10, 0xFFFFFFFF, 4);
  const TNtfsAttrHeader h = DecodeAttrHeader(a).value();
  EXPECT_TRUE(h.Name(a).empty());
  EXPECT_TRUE(h.Value(a).empty());
  // A value may not reach into what follows the attribute in its record.
  std::vector<uint8_t> inRecord = kNamedStream;
  PutLe(inRecord, 0x10, 0x10, 4);
  inRecord.resize(0x60, 0xAA);
  EXPECT_TRUE(DecodeAttrHeader(inRecord).value().Value(inRecord).empty());

  std::vector<uint8_t> pairsPast = kCompressedData;
  PutLe(pairsPast, 0x20, 0x60, 2);
  EXPECT_TRUE(DecodeAttrHeader(pairsPast).value().MappingPairs(pairsPast).empty());
  // A non-resident header cut short: the missing fields read as zero, and
  // pairs at offset 0 would be the header itself.
  std::vector<uint8_t> stub(kCompressedData.begin(), kCompressedData.begin() + 0x20);
  PutLe(stub, 4, 0x20, 4);
  const TNtfsAttrHeader s = DecodeAttrHeader(stub).value();
  EXPECT_EQ(s.DataSize, 0);
  EXPECT_TRUE(s.MappingPairs(stub).empty());
  std::vector<uint8_t> intoHeader = kCompressedData;
  PutLe(intoHeader, 0x20, 0x18, 2);
  EXPECT_TRUE(DecodeAttrHeader(intoHeader).value().MappingPairs(intoHeader).empty());
}

TEST(NtfsAttrHeader, WalkStopsAtTheEndMarkerAndAtDamage) {
  std::vector<uint8_t> record = kResidentData;
  record.insert(record.end(), kNamedStream.begin(), kNamedStream.end());
  const std::vector<uint8_t> end = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
  record.insert(record.end(), end.begin(), end.end());
  std::vector<uint32_t> lengths;
  size_t off = 0;
  while (std::optional<TNtfsAttrHeader> a = AttrAt(record, off)) {
    lengths.push_back(a->Length);
    off += a->Length;
  }
  EXPECT_EQ(lengths, (std::vector<uint32_t>{0x40, 0x28}));
  EXPECT_FALSE(AttrAt(record, record.size() - 4));  // no room for type and length
  EXPECT_FALSE(AttrAt(record, record.size() + 100));
  std::vector<uint8_t> zero = record;
  PutLe(zero, 0x44, 0, 2);  // a zero length would never move the walk on
  EXPECT_FALSE(AttrAt(zero, 0x40));

  // The quick walk's type and length agree with the full decode wherever it
  // starts and however short the record is cut.
  for (const std::vector<uint8_t>* bytes : {&record, &zero})
    for (size_t cut = 0; cut <= bytes->size(); ++cut)
      for (size_t at = 0; at <= cut + 1; ++at) {
        const std::span<const uint8_t> part(bytes->data(), cut);
        const std::optional<TNtfsAttrHeader> full = AttrAt(part, at);
        const std::optional<TAttrExtent> quick = AttrExtentAt(part, at);
        ASSERT_EQ(full.has_value(), quick.has_value()) << "cut " << cut << " at " << at;
        if (full) {
          EXPECT_TRUE(full->Type == quick->Type && full->Length == quick->Length &&
                      full->NameLength == quick->NameLength);
        }
      }
}
