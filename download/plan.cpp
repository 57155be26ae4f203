#include "download/plan.h"

namespace download {

std::vector<PartRange> PlanParts(int64_t length) {
  if (length < 1) return {};
  int64_t n = length / 10485760;
  if (n == 0) n = 1;
  if (n > 2) n = 2;
  const int64_t size = length / n;
  std::vector<PartRange> parts;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t first = i * size;
    const int64_t last = (i == n - 1) ? length - 1 : first + size - 1;
    parts.push_back({first, last});
  }
  return parts;
}

}  // namespace download
