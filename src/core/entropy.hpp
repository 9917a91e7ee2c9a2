// The entropy term of one share, subtracted from a running total.
#pragma once

#include <cmath>

namespace quorvel {

// ln(p)*p, taken as 0 for an empty share.
inline double entropyProduct(double p) {
    return p == 0.0 ? 0.0 : std::log(p) * p;
}

// total - ln(p)*p. Subtracting 0 for an empty share leaves any total as it was.
inline double subtractEntropyTerm(double total, double p) {
    return total - entropyProduct(p);
}

}  // namespace quorvel
