#include <unistd.h>
#include <csignal>
#include <iostream>

#include "Engine.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
  // A closed pipe shows as EPIPE where the output is written, so a command
  // ends with its messages instead of dying silently in the middle.
  std::signal(SIGPIPE, SIG_IGN);
  mirel::StartEngine();
  std::vector<std::string> args(argv, argv + argc);
  mirel::cli::TCliContext ctx{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &std::cin,
                              ::isatty(STDIN_FILENO) == 1};
  ctx.OutFd = STDOUT_FILENO;
  ctx.StartDebugLog = true;
#ifndef __SANITIZE_ADDRESS__
  // Sanitizer builds free everything, so that their leak check sees all.
  ctx.LeaveCatalogueToExit = true;
#endif
  return mirel::cli::RunCli(args, ctx);
}
