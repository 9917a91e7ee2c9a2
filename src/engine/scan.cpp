#include "scan.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvel::engine {

namespace {

// Ranges shorter than this are not worth a thread's wake-up.
constexpr std::size_t kFewestPerRange = std::size_t{1} << 16;

ScanFigures scanRange(const double* x, std::size_t begin, std::size_t end, double* out) {
    ScanFigures found{true, x[begin], x[begin]};
    for (std::size_t i = begin; i < end; ++i) {
        const double v = x[i];
        out[i] = v;
        found.finite = found.finite && std::isfinite(v);
        found.low = std::min(found.low, v);
        found.high = std::max(found.high, v);
    }
    return found;
}

}  // namespace

ScanFigures copyAndScan(const double* x, std::size_t n, double* out, WorkerPool* pool) {
    std::vector<ScanFigures> parts(rangeCount(pool, n, kFewestPerRange));
    forEachRange(pool, n, kFewestPerRange, [&](std::size_t k, std::size_t begin, std::size_t end) {
        parts[k] = scanRange(x, begin, end, out);
    });
    ScanFigures found = parts.front();
    for (const ScanFigures& part : parts) {
        found.finite = found.finite && part.finite;
        found.low = std::min(found.low, part.low);
        found.high = std::max(found.high, part.high);
    }
    return found;
}

}  // namespace quorvel::engine
