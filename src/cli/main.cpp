#include <iostream>
#include <unistd.h>

#include "Engine.h"
#include "cli/Cli.h"
#include "core/DebugLog.h"

int main(int argc, char** argv) {
  mirel::InitDebugLog();
  mirel::StartEngine();
  std::vector<std::string> args(argv, argv + argc);
  mirel::cli::TCliContext ctx{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &std::cin,
                               ::isatty(STDIN_FILENO) == 1};
#ifndef __SANITIZE_ADDRESS__
  // Sanitizer builds free everything, so that their leak check sees all.
  ctx.LeaveCatalogueToExit = true;
#endif
  return mirel::cli::RunCli(args, ctx);
}
