#pragma once
// The `mirel` command line. Everything runs through RunCli so tests can drive
// it with real arguments and read what it prints.
#include <iosfwd>
#include <string>
#include <vector>

namespace mirel::cli {

// 3: the run finished but something is incomplete, failed or not written; 130:
// stopped by the user.
enum TExitCode { exitOk = 0, exitUsage = 1, exitSource = 2, exitIncomplete = 3, exitStopped = 130 };

struct TCliArgs {
  std::string Command;
  std::vector<std::string> Positional;
  // --name value options and --flag switches, in the order given.
  std::vector<std::pair<std::string, std::string>> Options;

  bool Has(const std::string& name) const;
  // The last value given for --name, or fallback.
  std::string Value(const std::string& name, const std::string& fallback = {}) const;
};

struct TCliContext {
  std::ostream& Out;
  std::ostream& Err;
  bool ErrIsTerminal = false;
  // Where questions are answered; null or not a terminal: nothing is asked.
  std::istream* In = nullptr;
  bool InIsTerminal = false;
  // The process ends with the command: the catalogue of its volume, up to
  // millions of entries, is left to the exit instead of being freed entry by
  // entry.
  bool LeaveCatalogueToExit = false;
};

int RunCli(const std::vector<std::string>& argv, TCliContext& ctx);

// Commands, one file each.
int CmdList(const TCliArgs& args, TCliContext& ctx);
int CmdScan(const TCliArgs& args, TCliContext& ctx);
int CmdCat(const TCliArgs& args, TCliContext& ctx);
int CmdRecover(const TCliArgs& args, TCliContext& ctx);
int CmdErase(const TCliArgs& args, TCliContext& ctx);

// Asks a question on the terminal; the first letter of the answer, lower case, or 0.
char AskUser(TCliContext& ctx, const std::string& question);

std::string Usage();

}  // namespace mirel::cli
