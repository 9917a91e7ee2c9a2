// What a series' own seed is taken from: the order of its values, never their magnitudes, so
// that any strictly increasing transform of the series gets the same seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::engine {

// The bytes, in order: whether each value is above the one before it, then whether it is
// below, each as bits packed eight to a byte from the most significant bit (the last byte
// padded with zeros), then the dense rank among them of every `step`-th value from the first,
// as little-endian 64-bit integers. Dense ranks count distinct values (-0.0 equal to +0.0);
// every NaN ranks just above the greatest other value.
std::vector<std::uint8_t> orderPattern(const double* values, std::size_t n, std::size_t step);

}  // namespace quorvel::engine
