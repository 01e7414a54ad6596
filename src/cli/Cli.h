#pragma once
// The `mirel` command line. Everything runs through RunCli so tests can drive
// it with real arguments and read what it prints.
#include <iosfwd>
#include <string>
#include <string_view>
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
  // The value given for --name (each option is given at most once), or fallback.
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
  // Standard output's descriptor, or -1: then data goes through Out. Raw data
  // (`cat`) is written here directly, so that a failed write has its reason.
  int OutFd = -1;
  // The program's own run: the debug log of an earlier run is removed once
  // the command line holds a command to run, so help, the version and usage
  // errors (and shell completion, which reads the help) keep it.
  bool StartDebugLog = false;
};

int RunCli(const std::vector<std::string>& argv, TCliContext& ctx);

// Commands, one file each.
int CmdList(const TCliArgs& args, TCliContext& ctx);
int CmdScan(const TCliArgs& args, TCliContext& ctx);
int CmdCat(const TCliArgs& args, TCliContext& ctx);
int CmdRecover(const TCliArgs& args, TCliContext& ctx);
int CmdMount(const TCliArgs& args, TCliContext& ctx);
int CmdErase(const TCliArgs& args, TCliContext& ctx);

// Asks a question on the terminal; the first letter of the answer, lower case, or 0.
char AskUser(TCliContext& ctx, const std::string& question);

// The synopsis of every command.
std::string Usage();

// A name from a volume or a command line as it may be printed: control
// characters (and any in alsoReplace) become "?", so a name cannot break a line
// or send escape sequences to a terminal.
std::string PrintableName(std::string_view name, std::string_view alsoReplace = {});

// Flushes Out; on a failed write says why on Err and returns exitIncomplete.
// A closed pipe is no failure: the reader has all it wanted.
[[nodiscard]] int FinishOutput(TCliContext& ctx);

}  // namespace mirel::cli
