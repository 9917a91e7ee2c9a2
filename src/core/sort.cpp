#include "sort.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quorvel {
namespace {

constexpr int kDigitBits = 11;
constexpr int kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::uint64_t kDigitMask = (std::uint64_t{1} << kDigitBits) - 1;
// Below this size a comparison sort is as fast as the passes' fixed cost.
constexpr std::size_t kRadixFrom = 4096;

// Maps a double to an unsigned key of the same order: negatives flip every bit, positives only
// the sign bit.
std::uint64_t orderedKey(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double fromOrderedKey(std::uint64_t key) {
    const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

}  // namespace

void sortAscending(std::vector<double>& values) {
    const std::size_t n = values.size();
    if (n < kRadixFrom) {
        // A NaN, which a caller's values can only hold when changed under a run, goes last
        // rather than breaking the sort's ordering; NaN-free values are sorted with < alone.
        if (std::any_of(values.begin(), values.end(), [](double x) { return std::isnan(x); }))
            std::sort(values.begin(), values.end(), [](double a, double b) {
                return a < b || (std::isnan(b) && !std::isnan(a));
            });
        else
            std::sort(values.begin(), values.end());
        return;
    }
    // Least significant digit first, one counting pass per digit; a digit that every key shares
    // is skipped.
    std::vector<std::uint64_t> keys(n);
    std::vector<std::uint64_t> scratch(n);
    std::vector<std::array<std::size_t, kDigitMask + 1>> counts(kDigits);
    for (std::size_t i = 0; i < n; ++i) {
        keys[i] = orderedKey(values[i]);
        for (int d = 0; d < kDigits; ++d)
            ++counts[static_cast<std::size_t>(d)][(keys[i] >> (d * kDigitBits)) & kDigitMask];
    }
    for (int d = 0; d < kDigits; ++d) {
        auto& count = counts[static_cast<std::size_t>(d)];
        if (std::find(count.begin(), count.end(), n) != count.end()) continue;
        std::size_t offset = 0;
        for (auto& c : count) {
            const std::size_t here = c;
            c = offset;
            offset += here;
        }
        for (const std::uint64_t key : keys)
            scratch[count[(key >> (d * kDigitBits)) & kDigitMask]++] = key;
        keys.swap(scratch);
    }
    for (std::size_t i = 0; i < n; ++i) values[i] = fromOrderedKey(keys[i]);
}

}  // namespace quorvel
