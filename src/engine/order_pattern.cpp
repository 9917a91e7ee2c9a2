#include "order_pattern.hpp"

#include "ordered_key.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel::engine {
namespace {

// Unsigned keys that order as the doubles do, -0.0 equal to +0.0 and every NaN above +inf, so
// that equal keys are the values a sorted NumPy array holds as one distinct value (or as NaN).
std::uint64_t rankKey(double x) {
    if (std::isnan(x)) return ~std::uint64_t{0};
    return orderedKey(x == 0.0 ? 0.0 : x);
}

// Writes one bit per neighbouring pair, set where holds(value, the one before it).
template <class Holds>
std::uint8_t* writePackedBits(const double* values, std::size_t n, Holds holds, std::uint8_t* out) {
    std::uint8_t byte = 0;
    int filled = 0;
    for (std::size_t i = 1; i < n; ++i) {
        byte = static_cast<std::uint8_t>((byte << 1) | (holds(values[i], values[i - 1]) ? 1 : 0));
        if (++filled == 8) {
            *out++ = byte;
            byte = 0;
            filled = 0;
        }
    }
    if (filled > 0) *out++ = static_cast<std::uint8_t>(byte << (8 - filled));
    return out;
}

}  // namespace

std::vector<std::uint8_t> orderPattern(const double* values, std::size_t n, std::size_t step) {
    const std::size_t packed = n > 1 ? (n - 1 + 7) / 8 : 0;
    const std::size_t picked = n > 0 ? (n - 1) / step + 1 : 0;
    std::vector<std::uint8_t> out(2 * packed + 8 * picked);
    std::uint8_t* at = out.data();
    at = writePackedBits(values, n, [](double now, double before) { return now > before; }, at);
    at = writePackedBits(values, n, [](double now, double before) { return now < before; }, at);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(picked);
    for (std::size_t j = 0; j < picked; ++j)
        keyed[j] = {rankKey(values[j * step]), static_cast<std::uint32_t>(j)};
    std::sort(keyed.begin(), keyed.end());
    std::uint64_t rank = 0;
    for (std::size_t j = 0; j < picked; ++j) {
        if (j > 0 && keyed[j].first != keyed[j - 1].first) ++rank;
        std::uint8_t* slot = at + 8 * std::size_t{keyed[j].second};
        for (int b = 0; b < 8; ++b) slot[b] = static_cast<std::uint8_t>(rank >> (8 * b));
    }
    return out;
}

}  // namespace quorvel::engine
