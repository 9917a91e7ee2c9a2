// The entropy term of one share, subtracted from a running total.
#pragma once

#include <cmath>

namespace quorvel {

// total - ln(p)*p, leaving the total untouched for an empty share (0*ln 0 is taken as 0).
inline double subtractEntropyTerm(double total, double p) {
    if (p == 0.0) return total;
    return total - std::log(p) * p;
}

}  // namespace quorvel
