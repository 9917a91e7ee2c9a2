// Ascending sort of a window's values.
#pragma once

#include <vector>

namespace quorvel {

// Sorts NaN-free doubles ascending. Equal values are indistinguishable except -0.0 and +0.0,
// which compare equal and may come in either order, as with any unstable sort.
void sortAscending(std::vector<double>& values);

}  // namespace quorvel
