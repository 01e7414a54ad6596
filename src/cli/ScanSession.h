#pragma once
// What scan, cat and recover share: opening the one source named on the
// command line, and running its scan with a progress bar and Ctrl+C.
#include <atomic>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "core/RecoveryManager.h"

namespace mirel::cli {

class TScanSession {
public:
  // Opens source; on failure prints the path and the reason and Ok() is false.
  TScanSession(const std::string& source, TCliContext& ctx);
  ~TScanSession();
  TScanSession(const TScanSession&) = delete;
  TScanSession& operator=(const TScanSession&) = delete;
  bool Ok() const { return Disk != nullptr; }
  // Runs the scan to its end or to Ctrl+C; returns whether it was interrupted.
  // Says on standard error what the scan could not read (see Problems). A
  // Long scan searches free space for lost folders unless told not to.
  bool Scan(bool quick, bool lostFolders = true);

  // What the scan could not read, as an exit status: exitSource when nothing
  // could be listed, exitIncomplete when a part was lost or the source is cut
  // short, exitOk otherwise.
  int Problems = exitOk;

  std::unique_ptr<TRecoveryManager> Manager;
  TDiskObject* Disk = nullptr;

private:
  void ReportProblems();
  TCliContext& Ctx;
};

// Applies the options every command with a SOURCE takes: --offset SECTORS
// turns each source into "SOURCE@SECTORS". Says why and returns false when a
// value is not usable.
[[nodiscard]] bool ApplySourceOptions(const TCliArgs& args, std::vector<std::string>& sources, TCliContext& ctx);

// The digests --hash asks for, none without it. Says why and returns false
// when its value is not usable.
[[nodiscard]] bool ReadHashOption(const TCliArgs& args, std::vector<std::string>& names, TCliContext& ctx);

// The entry (file or folder) whose address is given as "@ADDRESS" (the
// address JSON and CSV show); null for another text or an address no entry
// has.
[[nodiscard]] TFileInfo* FindByAddress(const TDiskObject& disk, const std::string& given);

// Catches Ctrl+C and SIGTERM while it lives, so long work can end cleanly.
class TInterruptGuard {
public:
  TInterruptGuard();
  ~TInterruptGuard();
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;
  bool Requested() const;

private:
  struct sigaction OldInt {
  }, OldTerm{};
};

// "12.3 MB" (decimal megabytes) for progress lines and summaries.
std::string Megabytes(int64_t bytes);

// "rhsa" letters of the attributes that are set, "-" for the others.
std::string AttributeLetters(uint32_t attributes);

}  // namespace mirel::cli
