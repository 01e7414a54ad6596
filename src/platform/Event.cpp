#include "platform/Event.h"

namespace mirel {

void TEvent::Set() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Flag.store(true, std::memory_order_release);
  }
  Changed.notify_all();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> guard(Lock);
  Flag.store(false, std::memory_order_release);
}

bool TEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(Lock);
  return Changed.wait_for(guard, timeout, [this] { return Flag.load(std::memory_order_acquire); });
}

}  // namespace mirel
