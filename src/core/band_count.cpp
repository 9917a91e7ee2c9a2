#include "band_count.hpp"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

// The least count whose fraction count/n `passes` (a test that grows with the count), n + 1
// when none does.
template <typename Passes>
std::int64_t leastCount(int n, double threshold, const Passes& passes) {
    if (!passes(n)) return std::int64_t{n} + 1;
    if (passes(0)) return 0;
    // The fraction grows with the count, so the least passing count lies next to
    // threshold * n; the exact comparison settles the rounding either side.
    const double guess = std::ceil(threshold * static_cast<double>(n));
    auto count = static_cast<std::int64_t>(std::clamp(guess, 1.0, static_cast<double>(n)));
    while (count > 1 && passes(count - 1)) --count;
    while (!passes(count)) ++count;
    return count;
}

}  // namespace

std::int64_t passingCount(int n, double threshold) {
    return leastCount(n, threshold, [n, threshold](std::int64_t count) {
        return static_cast<double>(count) / static_cast<double>(n) >= threshold;
    });
}

std::int64_t exceedingCount(int n, double threshold) {
    return leastCount(n, threshold, [n, threshold](std::int64_t count) {
        return static_cast<double>(count) / static_cast<double>(n) > threshold;
    });
}

}  // namespace quorvel
