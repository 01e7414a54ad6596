#include "engine/RecoveryJob.h"

namespace mirel {

TRecoveryJob::TRecoveryJob(TDiskItems items, TRecoveryOptions options, TJobEvents& events)
    : Recovering(std::move(items)), Events(events) {
  Recovering.DestDir = std::move(options.DestDir);
  Recovering.Hash = options.Hash;
  Recovering.FolderFilter = std::move(options.FolderFilter);
  Recovering.OnFileStart = [this](const std::string& path, TFileInfo* entry) { Events.FileStarted(path, entry); };
  Recovering.OnFileExists = [this](const std::string& path) { return Events.FileExists(path); };
  Recovering.OnFileDone = [this](const TRecoveredFile& result) { Events.FileRecovered(result); };
}

TJobResult TRecoveryJob::Run(const std::stop_token& stop) {
  Recovering.Execute(stop);
  TJobResult result;
  if (stop.stop_requested()) result.End = TJobEnd::Cancelled;
  Events.JobDone(result);
  return result;
}

void TRecoveryJob::Start() {
  Thread.Start([this](const std::stop_token& stop) { return Run(stop); });
}

}  // namespace mirel
