#include "engine/EraseJob.h"

#include "core/DiskObject.h"

namespace mirel {

TEraseJob::TEraseJob(TDiskObject& disk, std::string mountPoint, TJobEvents& events)
    : Erasing(&disk, std::move(mountPoint)), Events(events) {}

TJobResult TEraseJob::Run(const std::stop_token& stop) {
  Erasing.Disk->ClearCatalogue();
  Erasing.Execute(stop, &Events);
  TJobResult result;
  if (stop.stop_requested()) {
    result.End = TJobEnd::Cancelled;
  } else if (!Erasing.Ran) {
    result.End = TJobEnd::Failed;
    result.Failure = "no mounted FAT, exFAT or NTFS file system found for it";
  } else if (!Erasing.Result) {
    result.End = TJobEnd::Failed;
    result.Failure = "no temporary file could be created there";
  }
  Events.JobDone(result);
  return result;
}

void TEraseJob::Start() {
  Thread.Start([this](const std::stop_token& stop) { return Run(stop); });
}

}  // namespace mirel
