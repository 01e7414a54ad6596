#include "engine/ScanJob.h"

#include "core/DiskObject.h"

namespace mirel {

TScanJob::TScanJob(TDiskObject& disk, TScanOptions options, TJobEvents& events)
    : Disk(disk), Options(options), Events(events) {}

TJobResult TScanJob::Run(const std::stop_token& stop) {
  TJobResult result;
  Disk.ClearCatalogue();
  if (TDiskScaner* scaner = Disk.Scaner.get()) {
    scaner->Options = Options;
    scaner->Sink = &Events;
    scaner->Stop = stop;
    scaner->ScanForFiles();
    scaner->Sink = nullptr;
    scaner->Stop = {};
    if (stop.stop_requested()) {
      result.End = TJobEnd::Cancelled;
    } else if (!scaner->ScanFailure.empty()) {
      result.End = TJobEnd::Failed;
      result.Failure = scaner->ScanFailure;
    }
  } else {
    result.End = TJobEnd::Failed;
    result.Failure = "no FAT, exFAT or NTFS file system found";
  }
  Events.JobDone(result);
  return result;
}

void TScanJob::Start() {
  Thread.Start([this](const std::stop_token& stop) { return Run(stop); });
}

}  // namespace mirel
