// A series' ranks with its ties broken at random: the values in ascending order, each run of
// equal values in a uniformly random order drawn from a seed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel::engine {

// Writes to ranks[i] the rank 0..n-1 of values[i] (NaN-free): a lower value always has a lower
// rank, and the ranks of equal values (-0.0 and +0.0 among them) are a uniformly random order
// of theirs, drawn from stream `row` of the seed, the same on every machine.
void tieBrokenRanks(const double* values, std::size_t n, std::uint64_t seed, std::uint64_t row,
                    double* ranks);

}  // namespace quorvel::engine
