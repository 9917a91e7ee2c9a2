// Whether a running proportion has settled inside its binomial confidence band.
#pragma once

namespace quorvel {

// v[0..n) is a running proportion whose last element c is taken as its estimate. Position i
// (1-based) is inside when c - z*sqrt(c(1-c)/i) <= v[i-1] <= c + z*sqrt(c(1-c)/i).
// Stores the in-band share of positions in `fraction` and returns fraction >= threshold.
bool bandTest(const double* v, int n, double z, double threshold, double& fraction);

}  // namespace quorvel
