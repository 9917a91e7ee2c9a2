#include "default_rng.hpp"

#include <array>

namespace quorvel::engine {
namespace {

// NumPy's SeedSequence: a pool of four 32-bit words mixed from the entropy.
constexpr std::uint32_t kInitA = 0x43b0d7e5;
constexpr std::uint32_t kMultA = 0x931e8875;
constexpr std::uint32_t kInitB = 0x8b51f9dd;
constexpr std::uint32_t kMultB = 0x58f38ded;
constexpr std::uint32_t kMixMultL = 0xca01f9dd;
constexpr std::uint32_t kMixMultR = 0x4973f715;
constexpr int kXShift = 16;
constexpr std::size_t kPoolSize = 4;

class HashMix {
public:
    explicit HashMix(std::uint32_t constant) : constant_(constant) {}

    std::uint32_t operator()(std::uint32_t value, std::uint32_t multiplier) {
        value ^= constant_;
        constant_ *= multiplier;
        value *= constant_;
        return value ^ (value >> kXShift);
    }

private:
    std::uint32_t constant_;
};

std::uint32_t mix(std::uint32_t x, std::uint32_t y) {
    const std::uint32_t result = kMixMultL * x - kMixMultR * y;
    return result ^ (result >> kXShift);
}

std::array<std::uint32_t, kPoolSize> seedPool(const std::vector<std::uint32_t>& entropy) {
    std::array<std::uint32_t, kPoolSize> pool{};
    HashMix hash(kInitA);
    for (std::size_t i = 0; i < kPoolSize; ++i)
        pool[i] = hash(i < entropy.size() ? entropy[i] : 0, kMultA);
    for (std::size_t from = 0; from < kPoolSize; ++from)
        for (std::size_t to = 0; to < kPoolSize; ++to)
            if (from != to) pool[to] = mix(pool[to], hash(pool[from], kMultA));
    for (std::size_t from = kPoolSize; from < entropy.size(); ++from)
        for (std::size_t to = 0; to < kPoolSize; ++to)
            pool[to] = mix(pool[to], hash(entropy[from], kMultA));
    return pool;
}

// generate_state(4, uint64): eight words cycled from the pool, paired low word first.
std::array<std::uint64_t, 4> generatedState(const std::array<std::uint32_t, kPoolSize>& pool) {
    std::array<std::uint64_t, 4> state{};
    HashMix hash(kInitB);
    for (std::size_t word = 0; word < 8; ++word) {
        const std::uint64_t value = hash(pool[word % kPoolSize], kMultB);
        state[word / 2] |= value << (32 * (word % 2));
    }
    return state;
}

// PCG64 (XSL-RR output of a 128-bit LCG), seeded as NumPy seeds it from a SeedSequence.
class Pcg64 {
public:
    explicit Pcg64(const std::array<std::uint64_t, 4>& state)
        : increment_((join(state[2], state[3]) << 1) | 1) {
        step();
        state_ += join(state[0], state[1]);
        step();
    }

    std::uint64_t next() {
        step();
        const auto folded =
            static_cast<std::uint64_t>(state_ >> 64) ^ static_cast<std::uint64_t>(state_);
        const auto rotation = static_cast<unsigned>(state_ >> 122);
        return (folded >> rotation) | (folded << ((64 - rotation) & 63));
    }

private:
    using Word = unsigned __int128;

    static Word join(std::uint64_t high, std::uint64_t low) { return (Word{high} << 64) | low; }

    void step() { state_ = state_ * kMultiplier + increment_; }

    static constexpr Word kMultiplier =
        (Word{2549297995355413924ULL} << 64) | Word{4865540595714422341ULL};
    Word state_ = 0;
    Word increment_;
};

}  // namespace

void defaultRngUniforms(const std::vector<std::uint32_t>& entropy, double* out, std::size_t count) {
    Pcg64 generator(generatedState(seedPool(entropy)));
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<double>(generator.next() >> 11) * 0x1.0p-53;
}

}  // namespace quorvel::engine
