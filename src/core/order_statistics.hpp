// Values at given ranks of a window's ascending order, without sorting all of it.
#pragma once

#include <cstddef>
#include <vector>

namespace quorvel {

class WorkerPool;

// The values at the 0-based ranks of the ascending order of the NaN-free values [first, last),
// in the order the ranks are given (each rank < last - first). -0.0 and +0.0 compare equal, so
// a rank among zeros may give either, but always the same for the same window, whatever the
// threads of `pool` (null: the calling thread alone).
std::vector<double> valuesAtRanks(const double* first, const double* last,
                                  const std::vector<std::size_t>& ranks,
                                  WorkerPool* pool = nullptr);

}  // namespace quorvel
