// The segmented downloader's part plan: one part below 20 MiB, two halves
// from 20 MiB on, the last part taking the remainder. 64-bit throughout so
// packages of 2 GiB and more plan correctly.
#pragma once

#include <cstdint>
#include <vector>

namespace download {

struct PartRange {
  int64_t first;  // first byte of the part in the whole file
  int64_t last;   // last byte, inclusive
};

// Empty for a length below 1.
std::vector<PartRange> PlanParts(int64_t length);

}  // namespace download
