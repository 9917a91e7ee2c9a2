#include "band_count.hpp"

namespace quorvel {

std::int64_t passingCount(int n, double threshold) {
    const auto passes = [&](std::int64_t count) {
        return static_cast<double>(count) / static_cast<double>(n) >= threshold;
    };
    if (!passes(n)) return std::int64_t{n} + 1;
    if (passes(0)) return 0;
    // The fraction grows with the count: bisect for the least passing count.
    std::int64_t failing = 0;
    std::int64_t passing = n;
    while (passing - failing > 1) {
        const std::int64_t mid = failing + (passing - failing) / 2;
        (passes(mid) ? passing : failing) = mid;
    }
    return passing;
}

}  // namespace quorvel
