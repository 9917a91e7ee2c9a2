#include "band.hpp"

#include <array>
#include <cmath>

namespace quorvel {

// Entry 0 holds what the formula gives for 0 (infinity), so that the table changes nothing.
const std::array<double, kTabledRoots> kInverseRoots = [] {
    std::array<double, kTabledRoots> roots{};
    for (int i = 0; i < kTabledRoots; ++i)
        roots[static_cast<std::size_t>(i)] = 1.0 / std::sqrt(static_cast<double>(i));
    return roots;
}();

}  // namespace quorvel
