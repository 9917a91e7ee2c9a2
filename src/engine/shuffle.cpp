#include "shuffle.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace quorvel::engine {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

DrawStream::DrawStream(std::uint64_t seed, std::uint64_t draw) : state_(mix(mix(seed) ^ draw)) {}

std::uint64_t DrawStream::next() {
    state_ += kGolden;
    return mix(state_);
}

std::uint64_t DrawStream::below(std::uint64_t bound) {
    unsigned __int128 product = static_cast<unsigned __int128>(next()) * bound;
    auto low = static_cast<std::uint64_t>(product);
    if (low < bound) {
        const std::uint64_t rejected = (0 - bound) % bound;
        while (low < rejected) {
            product = static_cast<unsigned __int128>(next()) * bound;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

void shuffle(double* values, std::size_t n, DrawStream& stream) {
    for (std::size_t j = n; j > 1; --j) {
        const auto k = static_cast<std::size_t>(stream.below(j));
        std::swap(values[j - 1], values[k]);
    }
}

void blockShuffle(const double* values, std::size_t n, double meanLength, DrawStream& stream,
                  std::vector<std::size_t>& starts, double* out) {
    if (meanLength <= 1.0 || n < 2) {
        std::copy(values, values + n, out);
        shuffle(out, n, stream);
        return;
    }
    const std::size_t offset = static_cast<std::size_t>(stream.below(n));
    // next() below this bound has probability 1/meanLength (to the double's precision).
    const double scaled = std::ldexp(1.0 / meanLength, 64);
    const std::uint64_t cut = scaled >= 0x1p64 ? std::numeric_limits<std::uint64_t>::max()
                                               : static_cast<std::uint64_t>(scaled);
    starts.assign(1, 0);
    for (std::size_t j = 1; j < n; ++j)
        if (stream.next() < cut) starts.push_back(j);
    const std::size_t blocks = starts.size();
    starts.push_back(n);
    // Fisher-Yates on the block numbers, kept in a second half of the same buffer.
    starts.resize(2 * blocks + 1);
    std::size_t* order = starts.data() + blocks + 1;
    for (std::size_t b = 0; b < blocks; ++b) order[b] = b;
    for (std::size_t j = blocks; j > 1; --j)
        std::swap(order[j - 1], order[static_cast<std::size_t>(stream.below(j))]);
    double* to = out;
    for (std::size_t k = 0; k < blocks; ++k) {
        const std::size_t b = order[k];
        for (std::size_t j = starts[b]; j < starts[b + 1]; ++j) {
            const std::size_t at = j + offset;
            *to++ = values[at < n ? at : at - n];
        }
    }
}

}  // namespace quorvel::engine
