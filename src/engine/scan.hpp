// One pass over a series that the analysis layer checks before it measures it: its own copy,
// and whether every value is finite with the least and greatest, on the threads of a pool.
#pragma once

#include "../core/worker_pool.hpp"

#include <cstddef>

namespace quorvel::engine {

struct ScanFigures {
    bool finite = true;
    double low = 0.0;   // the least value; meaningful only when every value is finite
    double high = 0.0;  // the greatest
};

// Copies x[0..n) into out[0..n) and scans it, cut into ranges of `pool`'s threads (the calling
// thread alone when pool is null). n must be at least 1.
ScanFigures copyAndScan(const double* x, std::size_t n, double* out, WorkerPool* pool);

}  // namespace quorvel::engine
