// Unsigned keys that order as the doubles do, for sorting values by their bits.
#pragma once

#include <cstdint>
#include <cstring>

namespace quorvel::engine {

// -0.0 just below +0.0; a NaN with its sign bit clear above +inf.
inline std::uint64_t orderedKey(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

}  // namespace quorvel::engine
