#include "core/UpdateView.h"

namespace mirel {

int ProgressPercent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  if (done <= 0) return 0;
  if (done >= total) return 100;
  return static_cast<int>(static_cast<__int128>(done) * 100 / total);
}

}  // namespace mirel
