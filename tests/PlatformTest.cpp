#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <numeric>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "platform/BlockDevices.h"
#include "platform/Event.h"
#include "platform/FileTime.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;
namespace fs = std::filesystem;

namespace {

// Sets TZ for a test, and puts back the value it had when the test ends.
class TTimeZone {
public:
  TTimeZone() {
    if (const char* old = std::getenv("TZ")) Saved = old;
  }
  ~TTimeZone() {
    if (Saved)
      setenv("TZ", Saved->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  TTimeZone(const TTimeZone&) = delete;
  TTimeZone& operator=(const TTimeZone&) = delete;
  void Set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

private:
  std::optional<std::string> Saved;
};

// Zones with summer time, a half-hour offset and a half-hour shift.
constexpr const char* kZones[] = {"UTC", "Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe"};

}  // namespace

TEST(RawSource, ReadsAreConfinedToTheWindow) {
  TTempDir tmp;
  std::vector<uint8_t> bytes(1000);
  std::iota(bytes.begin(), bytes.end(), 0);
  WriteFile(tmp / "img", bytes);

  TRawSource whole = TRawSource::Open((tmp / "img").string());
  ASSERT_TRUE(whole.IsValid());
  EXPECT_EQ(whole.Size(), 1000);
  uint8_t buf[64];
  EXPECT_EQ(whole.Read(buf, 64, 990), 10u);  // short at the end, never past it
  EXPECT_EQ(buf[0], static_cast<uint8_t>(990 & 0xFF));
  EXPECT_EQ(whole.Read(buf, 64, 1000), 0u);
  EXPECT_EQ(whole.Read(buf, 64, -1), 0u);

  TRawSource part = TRawSource::Open((tmp / "img").string(), 100, 50);
  ASSERT_TRUE(part.IsValid());
  EXPECT_EQ(part.Size(), 50);
  EXPECT_EQ(part.Read(buf, 64, 0), 50u);
  EXPECT_EQ(buf[0], 100);
  EXPECT_EQ(buf[49], 149);
  EXPECT_EQ(part.Read(buf, 64, 49), 1u);
}

TEST(RawSource, KernelCopyIsConfinedToTheWindowToo) {
  TTempDir tmp;
  std::vector<uint8_t> bytes(1000);
  std::iota(bytes.begin(), bytes.end(), 0);
  WriteFile(tmp / "img", bytes);
  TRawSource part = TRawSource::Open((tmp / "img").string(), 100, 50);
  int out = ::open((tmp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(out, 0);
  EXPECT_EQ(part.CopyTo(out, 64, 40), 10u);  // stops at the window's end
  EXPECT_EQ(part.CopyTo(out, 5, 0), 5u);     // appends at the file position
  EXPECT_EQ(part.CopyTo(out, 5, 50), 0u);
  ::close(out);
  EXPECT_EQ(ReadWholeFile(tmp / "out"), std::string("\x8c\x8d\x8e\x8f\x90\x91\x92\x93\x94\x95"
                                                    "defgh"));
}

TEST(RawSource, OpenFailuresSayWhy) {
  TTempDir tmp;
  TRawSource missing = TRawSource::Open((tmp / "nope").string());
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(missing.ErrorNumber(), ENOENT);
  EXPECT_FALSE(missing.Error().empty());
  TRawSource dir = TRawSource::Open(tmp.Path().string());
  EXPECT_FALSE(dir.IsValid());
  EXPECT_EQ(dir.ErrorNumber(), EISDIR);
  uint8_t b;
  EXPECT_EQ(missing.Read(&b, 1, 0), 0u);
}

TEST(Event, ManualResetStaysSetUntilReset) {
  TEvent e;
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(std::chrono::milliseconds(1)));
  std::thread t([&] { e.Set(); });
  EXPECT_TRUE(e.Wait(std::chrono::seconds(10)));
  t.join();
  EXPECT_TRUE(e.IsSet());
  EXPECT_TRUE(e.Wait(std::chrono::milliseconds(0)));
  e.Reset();
  EXPECT_FALSE(e.IsSet());
}

TEST(FileTime, ConversionsRoundTrip) {
  EXPECT_EQ(UnixToFileTime(0), FILETIME_UNIX_EPOCH);
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(1715941230, 500)), 1715941230);
  EXPECT_EQ(FileTimeNanos(UnixToFileTime(1715941230, 123456700)), 123456700);
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(-86400)), -86400);
  EXPECT_EQ(FileTimeToIso(UnixToFileTime(1715941230)), "2024-05-17T10:20:30Z");
  EXPECT_EQ(FileTimeToIso(0), "");
}

TEST(FileTime, DosLocalTimeGoesThroughTheTimeZone) {
  TTimeZone tz;
  // 2024-05-17 10:20:30 local: date = (44<<9)|(5<<5)|17, time = (10<<11)|(20<<5)|15
  uint16_t date = (44 << 9) | (5 << 5) | 17, time = (10 << 11) | (20 << 5) | 15;
  tz.Set("UTC");
  EXPECT_EQ(FileTimeToIso(DosDateTimeToFileTime(date, time)), "2024-05-17T10:20:30Z");
  tz.Set("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(FileTimeToIso(DosDateTimeToFileTime(date, time)), "2024-05-17T08:20:30Z");
  EXPECT_EQ(DosDateTimeToFileTime(0, 0), 0u);                          // no date recorded
  EXPECT_EQ(DosDateTimeToFileTime((44 << 9) | (13 << 5) | 1, 0), 0u);  // month 13
}

TEST(FileTime, LocalTextFollowsTheZoneAndItsChanges) {
  TTimeZone tz;
  const TFileTime may = UnixToFileTime(1715941230);  // 2024-05-17 10:20:30 UTC
  tz.Set("UTC");
  EXPECT_EQ(FileTimeToLocalText(may), "2024-05-17 10:20");
  EXPECT_EQ(FileTimeToLocalText(0), "");
  // The same hour again after the zone changed is not answered from before.
  tz.Set("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(FileTimeToLocalText(may), "2024-05-17 12:20");
  // Summer time begins at 02:30 local (01:30 UTC) on 2024-03-31: inside that
  // hour the offset changes, on both sides of the minute it does.
  tz.Set("XST-1XDT,M3.5.0/2:30,M10.5.0/3");
  const int64_t change = 1711848600;  // 2024-03-31 01:30:00 UTC
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(change - 60)), "2024-03-31 02:29");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(change + 60)), "2024-03-31 03:31");
  EXPECT_EQ(FileTimeToLocalText(UnixToFileTime(change - 1800)), "2024-03-31 02:00");
}

TEST(FileTime, LocalTextAgreesWithTheCLibraryAcrossZonesAndCenturies) {
  TTimeZone tz;
  for (const char* zone : kZones) {
    tz.Set(zone);
    uint64_t x = 88172645463325252ULL;
    for (int i = 0; i < 3000; ++i) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      // 1601 to about 2200, and often near one instant to hit the hour cache.
      const int64_t t = i % 2 ? static_cast<int64_t>(x % 18934560000ULL) - 11644473600LL
                              : 1711846800 + static_cast<int64_t>(x % 7200);
      const time_t tt = static_cast<time_t>(t);
      std::tm tm{};
      ASSERT_TRUE(localtime_r(&tt, &tm));
      char want[40];
      std::snprintf(want, sizeof want, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                    tm.tm_hour, tm.tm_min);
      ASSERT_EQ(FileTimeToLocalText(UnixToFileTime(t)), want) << zone << " " << t;
    }
  }
}

TEST(FileTime, DosTimesAgreeWithTheCLibraryAcrossZones) {
  TTimeZone tz;
  for (const char* zone : kZones) {
    tz.Set(zone);
    uint32_t x = 2463534242u;
    for (int i = 0; i < 3000; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      const int year = 1980 + static_cast<int>(x % 128), month = 1 + static_cast<int>(x / 128 % 12);
      const int day = 1 + static_cast<int>(x / 2048 % 28), hour = static_cast<int>(x / 65536 % 24);
      const int min = static_cast<int>(x / 1572864 % 60), sec = static_cast<int>(x / 94371840 % 30) * 2;
      const uint16_t date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
      const uint16_t time = static_cast<uint16_t>(hour << 11 | min << 5 | sec / 2);
      // As local time: the fields as UTC less the offset there, asked twice.
      std::tm tm{};
      tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
      tm.tm_hour = hour, tm.tm_min = min, tm.tm_sec = sec;
      const time_t asUtc = timegm(&tm);
      auto offsetAt = [](time_t at) {
        std::tm lt{};
        return localtime_r(&at, &lt) ? static_cast<time_t>(lt.tm_gmtoff) : time_t{0};
      };
      const time_t want = asUtc - offsetAt(asUtc - offsetAt(asUtc));
      ASSERT_EQ(FileTimeToUnix(DosDateTimeToFileTime(date, time)), static_cast<int64_t>(want)) << zone << " " << i;
    }
  }
}

namespace {

void Put(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

// A sysfs block tree: /sys/class/block/<name> links to /sys/devices/.../<disk>[/<part>].
void AddDevice(const fs::path& sys, const std::string& devPath, const std::string& disk, bool removable,
               std::vector<std::string> parts, const std::string& size = "2048") {
  fs::path d = sys / "devices" / devPath / disk;
  Put(d / "size", size);
  Put(d / "removable", removable ? "1" : "0");
  fs::create_directories(sys / "class" / "block");
  fs::create_directory_symlink(d, sys / "class" / "block" / disk);
  for (const auto& p : parts) {
    Put(d / p / "size", "1024");
    Put(d / p / "partition", "1");
    fs::create_directory_symlink(d / p, sys / "class" / "block" / p);
  }
}

}  // namespace

TEST(BlockDevices, EnumerationFollowsTheVolumeRules) {
  TTempDir tmp;
  fs::path sys = tmp.Path();
  AddDevice(sys, "pci0/ata1", "sda", false, {"sda1", "sda2"});
  AddDevice(sys, "pci0/usb1/1-1", "sdb", false, {"sdb1"});
  AddDevice(sys, "pci0/mmc", "mmcblk0", false, {});
  AddDevice(sys, "virtual", "sr0", true, {});
  AddDevice(sys, "virtual", "nbd0", false, {});
  AddDevice(sys, "virtual", "loop0", false, {}, "0");  // unbound loop device
  AddDevice(sys, "virtual", "zram0", false, {});
  std::vector<std::string> got;
  for (const auto& d : EnumerateBlockDevices(sys.string()))
    got.push_back(d.Name + ":" + std::to_string(d.DriveType) + ":" + d.Path);
  EXPECT_EQ(got, (std::vector<std::string>{"mmcblk0:2:/dev/mmcblk0", "sda1:3:/dev/sda1", "sda2:3:/dev/sda2",
                                           "sdb1:2:/dev/sdb1", "zram0:6:/dev/zram0"}));
  EXPECT_TRUE(EnumerateBlockDevices((sys / "absent").string()).empty());
}
