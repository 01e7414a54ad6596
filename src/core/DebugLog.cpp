#include "core/DebugLog.h"

#include <unistd.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "core/StateDir.h"

namespace fs = std::filesystem;

namespace mirel {

namespace {

std::mutex& LogLock() {
  static std::mutex m;
  return m;
}

std::string& LogPath() {
  static std::string path;
  return path;
}

std::atomic<uint64_t> LinesWritten{0};

bool DirWritable(const fs::path& dir) { return ::access(dir.c_str(), W_OK) == 0; }

std::string ChooseLogPath() {
  if (const char* env = std::getenv("MIREL_DEBUG_LOG"); env && *env) return env;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  // Beside the program where it was built; an installed one (in a bin
  // folder) leaves that folder alone, even when run as root.
  const fs::path dir = exe.parent_path();
  if (!ec && dir.filename() != "bin" && DirWritable(dir)) return (dir / "debug.log").string();
  return (fs::path(StateDir()) / "debug.log").string();
}

}  // namespace

void InitDebugLog() {
  std::lock_guard<std::mutex> guard(LogLock());
  LogPath() = ChooseLogPath();
  std::error_code ec;
  fs::remove(LogPath(), ec);
}

void SetDebugLogPath(const std::string& path) {
  std::lock_guard<std::mutex> guard(LogLock());
  LogPath() = path;
}

const std::string& DebugLogPath() { return LogPath(); }

void WriteDebugLog(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;

  std::time_t now = std::time(nullptr);
  std::tm tm{};
  char stamp[64] = "";
  if (localtime_r(&now, &tm)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);

  std::lock_guard<std::mutex> guard(LogLock());
  if (LogPath().empty()) LogPath() = ChooseLogPath();
  std::FILE* f = std::fopen(LogPath().c_str(), "a");
  if (!f) return;
  const bool written = std::fprintf(f, "[%s] %s\n", stamp, text) > 0;
  if (std::fclose(f) == 0 && written) ++LinesWritten;
}

uint64_t DebugLogLineCount() { return LinesWritten.load(); }

void DebugAssertFailed(const char* message, const char* file, int line, const void* address) {
  WriteDebugLog("--- Assert Error --- Message: \"%s\", ErrorAddr: %p, LineNumber: %d, FileName: \"%s\"", message,
                address, line, file);
}

}  // namespace mirel
