#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <stdexcept>
#include "Engine.h"
#include "cli/Cli.h"
#include "engine/ScanJob.h"

namespace fs = std::filesystem;

namespace mirel::test {

fs::path FixtureDir() {
  static bool made = false;
  fs::path out = MIREL_FIXTURE_OUT;
  if (!made) {
    // The CTest set-up step normally made them; this covers running the test
    // binary by hand. The script is idempotent and locks its folder.
    std::string cmd = "bash '" MIREL_FIXTURE_SCRIPTS "/make-images.sh' '" + out.string() + "' >/dev/null";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make fixture images: " + cmd);
    made = true;
  }
  return out;
}

fs::path Fixture(const std::string& name) { return FixtureDir() / name; }

std::string ReadWholeFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TTempDir::TTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "mirel-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  Dir = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  fs::remove_all(Dir, ec);
}

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void PutLe(std::vector<uint8_t>& b, size_t off, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(off + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> MakeBootSector(const TBpb& p) {
  std::vector<uint8_t> b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  std::copy_n("MSWIN4.1", 8, b.begin() + 3);
  PutLe(b, 0x0B, p.BytesPerSector, 2);
  b[0x0D] = p.SectorsPerCluster;
  PutLe(b, 0x0E, p.Reserved, 2);
  b[0x10] = p.NumFats;
  PutLe(b, 0x11, p.RootEntries, 2);
  if (p.TotalSectors <= 0xFFFF && !p.Force32BitTotal)
    PutLe(b, 0x13, p.TotalSectors, 2);
  else
    PutLe(b, 0x20, p.TotalSectors, 4);
  b[0x15] = 0xF8;
  if (p.FatSize <= 0xFFFF && !p.Force32BitFatSize)
    PutLe(b, 0x16, p.FatSize, 2);
  else
    PutLe(b, 0x24, p.FatSize, 4);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

uint32_t SectorsForClusters(const TBpb& p, uint32_t clusters) {
  uint32_t rds = (p.RootEntries * 32u + p.BytesPerSector - 1) / p.BytesPerSector;
  return p.Reserved + p.NumFats * p.FatSize + rds + clusters * p.SectorsPerCluster;
}

TCliRun RunMirel(std::vector<std::string> args, int outFd) {
  StartEngine();
  std::ostringstream out, err;
  cli::TCliContext ctx{out, err, false};
  ctx.OutFd = outFd;
  args.insert(args.begin(), "mirel");
  TCliRun r;
  r.Status = cli::RunCli(args, ctx);
  r.Out = out.str();
  r.Err = err.str();
  return r;
}

bool ScanVolume(TDiskObject& disk, TScanOptions options) {
  TJobEvents nobody;
  return TScanJob(disk, options, nobody).Run({}).End == TJobEnd::Completed;
}

}  // namespace mirel::test
