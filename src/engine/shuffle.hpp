// Shuffles drawn from a counter-based generator: draw i of a seed is the same shuffle whichever
// thread makes it, and in whatever order the draws are made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

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

// Fisher-Yates from the last position down, position j swapping with below(j + 1): a series and
// its labels shuffled from one stream are shuffled alike. Past the caches each swap would wait
// on a random read; the positions depend on the stream alone, so a large array has them drawn
// a batch ahead and their values fetched together, in the same order of swaps.
template <typename T>
void shuffle(T* values, std::size_t n, DrawStream& stream) {
    constexpr std::size_t kAhead = 32;
    constexpr std::size_t kFetchedFrom = (std::size_t{1} << 20) / sizeof(T);
    std::size_t j = n;
    if (n >= kFetchedFrom) {
        std::size_t with[kAhead];
        for (; j >= kAhead + 1; j -= kAhead) {
            for (std::size_t s = 0; s < kAhead; ++s) {
                with[s] = static_cast<std::size_t>(stream.below(j - s));
                __builtin_prefetch(values + with[s], 1);
            }
            for (std::size_t s = 0; s < kAhead; ++s) std::swap(values[j - s - 1], values[with[s]]);
        }
    }
    for (; j > 1; --j) {
        const auto k = static_cast<std::size_t>(stream.below(j));
        std::swap(values[j - 1], values[k]);
    }
}

}  // namespace quorvel::engine
