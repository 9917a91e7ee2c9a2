// Shuffles drawn from a counter-based generator: draw i of a seed is the same shuffle whichever
// thread makes it, and in whatever order the draws are made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// A block permutation: the series is turned round a random offset below(n), cut after each
// position with probability 1/meanLength (blocks of geometric length, as in a stationary
// bootstrap), and its blocks are put in a Fisher-Yates order; every value is kept once, and a
// block keeps the order inside it. `starts` is working room. A mean length of at most 1 is
// shuffle().
void blockShuffle(const double* values, std::size_t n, double meanLength, DrawStream& stream,
                  std::vector<std::size_t>& starts, double* out);

}  // namespace quorvel::engine
