// The doubles numpy.random.default_rng(entropy).random(count) gives, for a list of non-negative
// integers: the p-values' tie uniforms were first drawn that way, and a given seed keeps them,
// at a fraction of the cost of building a generator for one number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::engine {

// `entropy` holds each integer's 32-bit words, least significant first (one word for 0).
void defaultRngUniforms(const std::vector<std::uint32_t>& entropy, double* out, std::size_t count);

}  // namespace quorvel::engine
