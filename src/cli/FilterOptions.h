#pragma once
// The filter options shared by `mirel scan` and `mirel recover`. Each builds
// the same TFilter the desktop program's filter dialog and quick filter
// build, so both front ends select the same entries.
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "query/QueryObject.h"

namespace mirel::cli {

struct TFilterOptions {
  TFilter Filter;
  // Said to the user without stopping: mask terms that can match nothing.
  std::vector<std::string> Warnings;
};

// --mask MASK, --good, --from DATE, --to DATE (or --until DATE), --size
// [=|>|<]KB, --attr rhsa. dateToOption names the option of the upper date
// bound besides --until; `recover` passes "" because its --to is the
// destination. False with a message in error for a value that cannot be used.
[[nodiscard]] bool ParseFilterOptions(const TCliArgs& args, TFilterOptions& out, std::string& error,
                                      const std::string& dateToOption = "--to");

// The same for scan and mount: the error or the warnings said on ctx.Err;
// false when the command cannot go on.
[[nodiscard]] bool ReadFilterOptions(const TCliArgs& args, TFilterOptions& out, TCliContext& ctx);

// "YYYY-MM-DD", optionally followed by " HH:MM[:SS]" or "THH:MM[:SS]", as a
// local date-time. A date alone is the start of that day, or with endOfDay its
// last millisecond.
[[nodiscard]] bool ParseFilterDate(const std::string& text, bool endOfDay, TDateTime& out);

}  // namespace mirel::cli
