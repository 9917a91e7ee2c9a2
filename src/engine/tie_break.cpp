#include "tie_break.hpp"

#include "ordered_key.hpp"
#include "shuffle.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace quorvel::engine {
namespace {

constexpr int kDigitBits = 11;
constexpr int kDigits = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::uint64_t kDigitMask = (std::uint64_t{1} << kDigitBits) - 1;

// The streams of the tie orders, row r's at kTieOrders + r: apart from every shuffle of the same
// seed, whose draws count from 0.
constexpr std::uint64_t kTieOrders = (std::uint64_t{1} << 63) | (std::uint64_t{0x71EB0} << 32);

// Below this many values a comparison sort beats the radix passes, whose tallies cost as much
// as a few thousand values each; both give the same order.
constexpr std::size_t kRadixFrom = 4096;

// The positions of the values in ascending order of their keys, equal keys in position order.
std::vector<std::uint32_t> ascendingPositions(const double* values, std::size_t n) {
    std::vector<std::uint32_t> order(n);
    if (n < kRadixFrom) {
        std::vector<std::uint64_t> keys(n);
        for (std::size_t i = 0; i < n; ++i) {
            keys[i] = orderedKey(values[i]);
            order[i] = static_cast<std::uint32_t>(i);
        }
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return keys[a] < keys[b] || (keys[a] == keys[b] && a < b);
        });
        return order;
    }
    // Least significant digit first, one counting pass per digit, a digit that every key shares
    // skipped.
    std::vector<std::uint64_t> keys(n);
    std::vector<std::array<std::size_t, kDigitMask + 1>> counts(kDigits);
    for (std::size_t i = 0; i < n; ++i) {
        keys[i] = orderedKey(values[i]);
        order[i] = static_cast<std::uint32_t>(i);
        for (int d = 0; d < kDigits; ++d)
            ++counts[static_cast<std::size_t>(d)][(keys[i] >> (d * kDigitBits)) & kDigitMask];
    }
    std::vector<std::uint64_t> keysAfter(n);
    std::vector<std::uint32_t> orderAfter(n);
    for (int d = 0; d < kDigits; ++d) {
        auto& count = counts[static_cast<std::size_t>(d)];
        if (count[(keys[0] >> (d * kDigitBits)) & kDigitMask] == n) continue;
        std::size_t offset = 0;
        for (auto& c : count) offset += std::exchange(c, offset);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = count[(keys[i] >> (d * kDigitBits)) & kDigitMask]++;
            keysAfter[at] = keys[i];
            orderAfter[at] = order[i];
        }
        keys.swap(keysAfter);
        order.swap(orderAfter);
    }
    return order;
}

}  // namespace

void tieBrokenRanks(const double* values, std::size_t n, std::uint64_t seed, std::uint64_t row,
                    double* ranks) {
    if (n == 0) return;
    std::vector<std::uint32_t> order = ascendingPositions(values, n);
    // Fisher-Yates within each run of equal values, runs in ascending order.
    DrawStream stream(seed, kTieOrders + row);
    for (std::size_t first = 0; first < n;) {
        std::size_t end = first + 1;
        while (end < n && values[order[end]] == values[order[first]]) ++end;
        shuffle(order.data() + first, end - first, stream);
        first = end;
    }
    for (std::size_t k = 0; k < n; ++k) ranks[order[k]] = static_cast<double>(k);
}

}  // namespace quorvel::engine
