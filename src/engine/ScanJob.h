#pragma once
// Scans one volume: empties its catalogue and runs its scanner, which fills
// the catalogue and tells the events what it finds.
#include <stop_token>

#include "core/DiskScaner.h"
#include "engine/JobEvents.h"

namespace mirel {

class TDiskObject;

class TScanJob {
public:
  TScanJob(TDiskObject& disk, TScanOptions options, TJobEvents& events);
  TScanJob(const TScanJob&) = delete;
  TScanJob& operator=(const TScanJob&) = delete;

  // Runs the scan on the calling thread until it ends or stop is requested;
  // what was found by then stays in the catalogue.
  TJobResult Run(const std::stop_token& stop);
  // Runs it on the job's own thread; RequestStop and Wait apply to that.
  void Start();
  void RequestStop() { Thread.RequestStop(); }
  const TJobResult& Wait() { return Thread.Wait(); }
  bool Finished() const { return Thread.Done(); }

  TDiskObject& Disk;

private:
  TScanOptions Options;
  TJobEvents& Events;
  TJobThread Thread;
};

}  // namespace mirel
