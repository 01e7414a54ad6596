#pragma once
// What a job tells its front end while it runs, how it ended, and the thread
// a job runs on when it is started rather than run on the caller's thread.
#include <atomic>
#include <stop_token>
#include <string>
#include <thread>

#include "core/UpdateView.h"
#include "workers/DestinationPolicy.h"

namespace mirel {

struct TRecoveredFile;

enum class TJobEnd { Completed, Cancelled, Failed };

struct TJobResult {
  TJobEnd End = TJobEnd::Completed;
  // Why a failed job failed.
  std::string Failure;
};

// Every call comes from the thread the job runs on. The calls of the base
// (found folder and file, progress, the scanner's or eraser's own end) name
// the volume; JobDone comes once, last, however the job ended.
class TJobEvents : public TUpdateTarget {
public:
  // A recovery is about to write entry; path: where it is meant to go.
  virtual void FileStarted(const std::string& path, TFileInfo* entry) {}
  // A file of that name exists at path: what to do. Unanswered: skip.
  virtual TExistsAnswer FileExists(const std::string& path) { return {}; }
  // What became of one file of a recovery.
  virtual void FileRecovered(const TRecoveredFile& result) {}
  virtual void JobDone(const TJobResult& result) {}
};

// A job's own thread. Declared last in a job, so that it stops and joins
// before the members the running job uses go away.
class TJobThread {
public:
  TJobThread() = default;
  TJobThread(const TJobThread&) = delete;
  TJobThread& operator=(const TJobThread&) = delete;
  ~TJobThread() {
    Stop.request_stop();
    if (Worker.joinable()) Worker.join();
  }

  template <class TRun>
  void Start(TRun run) {
    if (Worker.joinable()) Worker.join();
    // Made before the thread runs, so that a stop asked for by anything the
    // running job calls always reaches it.
    Stop = std::stop_source();
    Finished = false;
    Worker = std::thread([this, run = std::move(run), stop = Stop.get_token()] {
      Result = run(stop);
      Finished = true;
    });
  }
  void RequestStop() { Stop.request_stop(); }
  // Waits for the job's end; the result of the last start.
  const TJobResult& Wait() {
    if (Worker.joinable()) Worker.join();
    return Result;
  }
  bool Done() const { return Finished.load(); }

private:
  std::stop_source Stop;
  TJobResult Result;
  std::atomic<bool> Finished{false};
  std::thread Worker;
};

}  // namespace mirel
