#pragma once
// A manual-reset event: once set it stays set until reset; waiters wake on set.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace mirel {

class TEvent {
public:
  void Set();
  void Reset();
  bool IsSet() const { return Flag.load(std::memory_order_acquire); }
  // Waits until set or the timeout passes; returns whether it is set.
  bool Wait(std::chrono::milliseconds timeout);

private:
  std::atomic<bool> Flag{false};
  std::mutex Lock;
  std::condition_variable Changed;
};

}  // namespace mirel
