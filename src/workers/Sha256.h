#pragma once
// SHA-256 of the bytes a recovered file holds, fed as they are written.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mirel {

class TSha256 {
public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Update(const void* data, size_t count);
  // Feeds count zero bytes: the gaps a short stream leaves in the file.
  void UpdateZeros(int64_t count);
  // Lower-case hex of the digest; the object is spent afterwards.
  std::string FinishHex();

private:
  struct TContext;
  std::unique_ptr<TContext> Context;
};

}  // namespace mirel
