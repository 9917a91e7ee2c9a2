#include "shuffle.hpp"

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

}  // namespace quorvel::engine
