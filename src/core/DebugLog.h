#pragma once
// The process-wide diagnostic log: one time-stamped line per failure in the
// scanning and reading code, which never raises towards the front ends.
#include <cstdint>
#include <string>

namespace mirel {

// Fixes the log path (beside the program when it is not installed in a bin
// folder and that folder is writable, else $XDG_STATE_HOME/mirel; the
// MIREL_DEBUG_LOG environment variable overrides both) and deletes the log of
// an earlier run. Call once at program start.
void InitDebugLog();
// For tests and front ends that choose the path themselves; deletes nothing.
void SetDebugLogPath(const std::string& path);
const std::string& DebugLogPath();

// Appends "[local date time] " + the formatted text as one line. Never fails
// towards the caller: a line that cannot be written is dropped.
void WriteDebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Lines written since the program started, so a front end can tell the user
// that the log has something to say.
uint64_t DebugLogLineCount();

// Records a failed internal check and lets the caller go on.
void DebugAssertFailed(const char* message, const char* file, int line, const void* address);

}  // namespace mirel

#define MIREL_ASSERT(cond)                                                                           \
  do {                                                                                               \
    if (!(cond)) ::mirel::DebugAssertFailed(#cond, __FILE__, __LINE__, __builtin_return_address(0)); \
  } while (0)
