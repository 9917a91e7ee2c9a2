#include "band_test.hpp"

#include <cmath>

namespace quorvel {

bool bandTest(const double* v, int n, double z, double threshold, double& fraction) {
    const double c = v[n - 1];
    const double f = (1.0 - c) * c;
    int count = 0;
    for (int i = 1; i <= n; ++i) {
        const double half = z * std::sqrt(f / static_cast<double>(i));
        const double lower = c - half;
        const double upper = half + c;
        // Both bounds inclusive; a NaN bound or element never counts.
        if (v[i - 1] >= lower && upper >= v[i - 1]) ++count;
    }
    fraction = static_cast<double>(count) / static_cast<double>(n);
    return fraction >= threshold;
}

}  // namespace quorvel
