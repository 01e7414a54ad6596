#pragma once
// The recovery report: one JSON object per line for each file a recovery
// considered (path, dest, size, written, status, reason, missing, sha256,
// streams: where each named stream went, note: e.g. another name it took).
// The command line writes it as the run goes, the desktop program on request.
#include <string>
#include <vector>

#include "workers/RecoveringThread.h"

namespace mirel {

// One line, without its line feed.
std::string ReportLine(const TRecoveredFile& r);

class TReportFile {
public:
  // Creates path, or empties it; Error() says why when that fails.
  explicit TReportFile(const std::string& path);
  ~TReportFile();
  TReportFile(const TReportFile&) = delete;
  TReportFile& operator=(const TReportFile&) = delete;

  bool Ok() const { return Fd >= 0 && FError.empty(); }
  const std::string& Error() const { return FError; }
  // Writes one line at once, so a run cut short keeps what it reported.
  bool Add(const TRecoveredFile& r);
  // Closes the file; false when a write failed at any point.
  [[nodiscard]] bool Close();

private:
  std::string Path;
  std::string FError;
  int Fd = -1;
};

// The whole report at once; false with the reason in why.
[[nodiscard]] bool WriteReport(const std::string& path, const std::vector<TRecoveredFile>& results, std::string& why);

}  // namespace mirel
