#pragma once
// Wipes the free space of a mounted volume with the eraser that fits its file
// system; the volume's catalogue is emptied first, as nothing in it can be
// recovered afterwards.
#include <stop_token>
#include <string>

#include "engine/JobEvents.h"
#include "workers/ErasingThread.h"

namespace mirel {

class TDiskObject;

class TEraseJob {
public:
  // mountPoint: where the volume is mounted; empty: looked up in the mount table.
  TEraseJob(TDiskObject& disk, std::string mountPoint, TJobEvents& events);
  TEraseJob(const TEraseJob&) = delete;
  TEraseJob& operator=(const TEraseJob&) = delete;

  TJobResult Run(const std::stop_token& stop);
  void Start();
  void RequestStop() { Thread.RequestStop(); }
  const TJobResult& Wait() { return Thread.Wait(); }
  bool Finished() const { return Thread.Done(); }

  // What the erase wrote, complete once the job has ended.
  const TErasingThread& Worker() const { return Erasing; }

private:
  TErasingThread Erasing;
  TJobEvents& Events;
  TJobThread Thread;
};

}  // namespace mirel
