#include "workers/RecoveryReport.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "core/Text.h"

namespace mirel {

std::string ReportLine(const TRecoveredFile& r) {
  std::string line = "{\"path\":" + JsonString(r.VolumePath);
  line += ",\"dest\":" + (r.Dest.empty() ? std::string("null") : JsonString(r.Dest));
  const std::string address = r.Entry && r.Entry->FsInfo ? r.Entry->FsInfo->Address() : std::string();
  line += ",\"address\":" + (address.empty() ? std::string("null") : JsonString(address));
  line += ",\"size\":" + std::to_string(r.Size);
  line += ",\"written\":" + std::to_string(r.Written);
  line += ",\"status\":\"" + std::string(StatusName(r.Status)) + "\"";
  line += ",\"reason\":" + JsonString(r.Reason);
  line += ",\"missing\":[";
  bool first = true;
  for (const TByteRange& g : r.Missing) {
    line += (first ? "[" : ",[") + std::to_string(g.Offset) + "," + std::to_string(g.Length) + "]";
    first = false;
  }
  line += "],\"sha256\":" + (r.Sha256.empty() ? std::string("null") : "\"" + r.Sha256 + "\"");
  line += ",\"streams\":[";
  first = true;
  for (const TStreamCopy& s : r.Streams) {
    line += first ? "{" : ",{";
    line += "\"name\":";
    line += JsonString(s.Name);
    line += ",\"as\":\"";
    line += StreamKindName(s.Kind);
    line += "\",\"dest\":";
    line += s.Dest.empty() ? std::string("null") : JsonString(s.Dest);
    line += "}";
    first = false;
  }
  line += "],\"note\":" + JsonString(r.Note);
  for (const auto& [name, hex] : r.Hashes) {
    if (name == "sha256") continue;
    line += ",\"";
    line += name;
    line += "\":\"";
    line += hex;
    line += '"';
  }
  return line + "}";
}

TReportFile::TReportFile(const std::string& path) : Path(path) {
  Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (Fd < 0) FError = path + ": " + std::strerror(errno);
}

TReportFile::~TReportFile() {
  if (Fd >= 0) ::close(Fd);
}

bool TReportFile::Add(const TRecoveredFile& r) {
  if (!Ok()) return false;
  const std::string line = ReportLine(r) + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(Fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FError = Path + ": " + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TReportFile::Close() {
  if (Fd >= 0 && ::close(Fd) != 0 && FError.empty()) FError = Path + ": " + std::strerror(errno);
  Fd = -1;
  return FError.empty();
}

bool WriteReport(const std::string& path, const std::vector<TRecoveredFile>& results, std::string& why) {
  TReportFile file(path);
  for (const TRecoveredFile& r : results)
    if (!file.Add(r)) break;
  if (!file.Close()) {
    why = file.Error();
    return false;
  }
  return true;
}

}  // namespace mirel
