#include "erase/TempFileRegistry.h"

#include <unistd.h>
#include <atomic>
#include <cstring>
#include <mutex>

namespace mirel {

struct TTempFileSlot {
  char* Path = nullptr;
  std::atomic<bool> Live{true};
  TTempFileSlot* Next = nullptr;
};

namespace {
std::atomic<TTempFileSlot*> Head{nullptr};
std::mutex Writers;
}  // namespace

TTempFileSlot* RegisterTempFile(const std::string& path) {
  auto* slot = new TTempFileSlot;
  slot->Path = new char[path.size() + 1];
  std::memcpy(slot->Path, path.c_str(), path.size() + 1);
  std::lock_guard<std::mutex> guard(Writers);
  slot->Next = Head.load(std::memory_order_relaxed);
  Head.store(slot, std::memory_order_release);
  return slot;
}

void ForgetTempFile(TTempFileSlot* slot) {
  if (slot) slot->Live.store(false, std::memory_order_release);
}

void UnlinkRegisteredTempFiles() {
  for (TTempFileSlot* s = Head.load(std::memory_order_acquire); s; s = s->Next)
    if (s->Live.exchange(false)) ::unlink(s->Path);
}

void CompactTempFileRegistry() {
  std::lock_guard<std::mutex> guard(Writers);
  TTempFileSlot* keep = nullptr;
  for (TTempFileSlot* s = Head.exchange(nullptr); s;) {
    TTempFileSlot* next = s->Next;
    if (s->Live.load()) {
      s->Next = keep;
      keep = s;
    } else {
      delete[] s->Path;
      delete s;
    }
    s = next;
  }
  Head.store(keep, std::memory_order_release);
}

}  // namespace mirel
