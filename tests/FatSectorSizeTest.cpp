// FAT volumes whose sectors are not 512 bytes, made by the real tools: every
// position (tables, root region, clusters) must follow the boot sector's
// sector size, or the deleted file comes back as someone else's bytes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Engine.h"
#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TGeometry {
  int Bits;
  int SectorSize;
  int SizeKiB;
};

class FatSectorSize : public testing::TestWithParam<TGeometry> {};

}  // namespace

TEST_P(FatSectorSize, DeletedFileInAFolderComesBackWhole) {
  const TGeometry& g = GetParam();
  TTempDir tmp;
  const auto img = tmp / "vol.img", data = tmp / "data.bin";
  const TBytes original = Pattern(3 * 4096 + 100, 7);
  WriteFile(data, original);
  const std::string i = " -i '" + img.string() + "' ";
  const std::string script = "export MTOOLS_SKIP_CHECK=1; mkfs.fat -C -F " + std::to_string(g.Bits) + " -S " +
                             std::to_string(g.SectorSize) + " -s 1 '" + img.string() + "' " +
                             std::to_string(g.SizeKiB) + " >/dev/null && mmd" + i + "::/sub && mcopy" + i + "'" +
                             data.string() + "' ::/sub/lost.bin && mcopy" + i + "'" + data.string() +
                             "' ::/kept.bin && mdel" + i + "::/sub/lost.bin";
  ASSERT_EQ(std::system(script.c_str()), 0) << script;

  TScannedImage s(img);
  ASSERT_EQ(s.Disk->FileSystem, g.Bits == 12 ? fsFat12 : g.Bits == 16 ? fsFat16 : fsFat32);
  TFileInfo* lost = s.File("sub/$ost.bin");
  ASSERT_TRUE(lost);
  EXPECT_EQ(lost->Size, static_cast<int64_t>(original.size()));
  EXPECT_EQ(lost->Condition, 100);
  const std::string back = s.ReadAll(lost);
  EXPECT_TRUE(back == std::string(original.begin(), original.end()));
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatSectorSize,
                         testing::Values(TGeometry{12, 1024, 2048}, TGeometry{16, 4096, 32768},
                                         TGeometry{32, 4096, 278528}),
                         [](const auto& p) {
                           return "Fat" + std::to_string(p.param.Bits) + "Sector" + std::to_string(p.param.SectorSize);
                         });
