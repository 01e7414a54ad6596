#include "core/UpdateView.h"

#include <atomic>

namespace mirel {

namespace {
TUpdateTarget SilentTarget;
std::atomic<TUpdateTarget*> Current{&SilentTarget};
}  // namespace

int ProgressPercent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  if (done <= 0) return 0;
  if (done >= total) return 100;
  return static_cast<int>(static_cast<__int128>(done) * 100 / total);
}

TUpdateTarget& UpdatingThread() { return *Current.load(std::memory_order_acquire); }

void SetUpdatingThread(TUpdateTarget* target) {
  Current.store(target ? target : &SilentTarget, std::memory_order_release);
}

}  // namespace mirel
