#pragma once
// A bounded hand-over between one thread that produces batches of work and
// one that consumes them: a scan decodes on one core while it catalogues on
// the other. The bound keeps a fast producer from holding more than a few
// batches in memory.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace mirel {

template <class TBatch>
class TBatchQueue {
public:
  explicit TBatchQueue(size_t capacity) : Capacity(capacity == 0 ? 1 : capacity) {}

  // Waits for room; false when the consumer gave up, and the batch is dropped.
  [[nodiscard]] bool Push(TBatch batch) {
    std::unique_lock lock(Lock);
    Changed.wait(lock, [&] { return Batches.size() < Capacity || Abandoned; });
    if (Abandoned) return false;
    Batches.push_back(std::move(batch));
    Changed.notify_all();
    return true;
  }

  // The next batch in order; nullopt once the producer closed the queue and
  // every batch was taken, or after Abandon.
  [[nodiscard]] std::optional<TBatch> Pop() {
    std::unique_lock lock(Lock);
    Changed.wait(lock, [&] { return !Batches.empty() || Closed || Abandoned; });
    if (Abandoned || Batches.empty()) return std::nullopt;
    TBatch batch = std::move(Batches.front());
    Batches.pop_front();
    Changed.notify_all();
    return batch;
  }

  // The producer's end: nothing more will come.
  void Close() { Set(Closed); }
  // The consumer's end: what is queued or still to come is not wanted.
  void Abandon() { Set(Abandoned); }

private:
  void Set(bool& flag) {
    std::lock_guard lock(Lock);
    flag = true;
    Changed.notify_all();
  }

  const size_t Capacity;
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TBatch> Batches;
  bool Closed = false;
  bool Abandoned = false;
};

}  // namespace mirel
