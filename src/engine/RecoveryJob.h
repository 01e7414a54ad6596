#pragma once
// Recovers a selection of found entries into a destination folder, telling
// the events each file's start, the questions about existing files and each
// file's result.
#include <stop_token>
#include <string>

#include "core/FileInfo.h"
#include "engine/JobEvents.h"
#include "workers/RecoveringThread.h"

namespace mirel {

struct TRecoveryOptions {
  std::string DestDir;
  // SHA-256 of each file written, for a report; it halves the copy speed.
  bool Hash = true;
  // The files of a selected folder that are written; all when empty.
  TEntryFilter FolderFilter;
};

class TRecoveryJob {
public:
  TRecoveryJob(TDiskItems items, TRecoveryOptions options, TJobEvents& events);
  TRecoveryJob(const TRecoveryJob&) = delete;
  TRecoveryJob& operator=(const TRecoveryJob&) = delete;

  // Runs the recovery on the calling thread; a stop request ends it after the
  // current file's stage.
  TJobResult Run(const std::stop_token& stop);
  void Start();
  void RequestStop() { Thread.RequestStop(); }
  const TJobResult& Wait() { return Thread.Wait(); }
  bool Finished() const { return Thread.Done(); }

  // The worker: its counters for a front end that shows them while the job
  // runs, and its hooks.
  TRecoveringThread& Worker() { return Recovering; }
  const TRecoveringThread& Worker() const { return Recovering; }

private:
  TRecoveringThread Recovering;
  TJobEvents& Events;
  TJobThread Thread;
};

}  // namespace mirel
