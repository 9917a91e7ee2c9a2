// Shuffles drawn from a counter-based generator: draw i of a seed is the same shuffle whichever
// thread makes it, and in whatever order the draws are made.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel::engine {

// A SplitMix64 stream. Draw i of seed s starts from the state mix(mix(s) ^ i), mix being
// SplitMix64's finaliser.
class DrawStream {
public:
    DrawStream(std::uint64_t seed, std::uint64_t draw);

    std::uint64_t next();
    // Uniform on 0..bound-1 (bound >= 1), without bias: Lemire's multiply-and-reject.
    std::uint64_t below(std::uint64_t bound);

private:
    std::uint64_t state_;
};

// Fisher-Yates from the last position down, position j swapping with below(j + 1).
void shuffle(double* values, std::size_t n, DrawStream& stream);

}  // namespace quorvel::engine
