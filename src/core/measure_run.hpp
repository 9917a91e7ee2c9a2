// One run of a measure on a window: the lookup by name, the checks of the window and the fresh
// result, shared by the estimator object and the batch engine. Which measures exist is not known
// here: the registry is built in src/measures/ and handed in.
#pragma once

#include "measure.hpp"

#include <Eigen/Core>

#include <cstdint>
#include <map>
#include <string>

namespace quorvel {

// The measures by name, in the order their names sort.
using MeasureRegistry = std::map<std::string, AlgorithmFn>;

// The measure of that name in `registry`; std::invalid_argument naming the accepted ones if none.
AlgorithmFn findMeasure(const MeasureRegistry& registry, const std::string& name);

// What a run does before the measure: refuses an empty window, one longer than 2^31 - 1 values,
// or one holding NaN, then shapes `result`'s table to (K+1) x 6 and zeroes it, empties its
// groups and sets its figures to NaN (their storage is kept).
void prepareRun(const double* first, const double* last, const MeasureSettings& settings,
                MeasureResult& result);

// Runs `measure` on [first, last) with `settings` into `result`, prepared as prepareRun does.
void runMeasure(AlgorithmFn measure, const double* first, const double* last,
                const MeasureSettings& settings, MeasureResult& result);

// Beyond this row count the 6-column result table would exceed the largest signed 64-bit size.
constexpr std::uint64_t kMaxTableRows = 0x1555555555555555ULL;

// The result table of K classes, zeroed; std::bad_alloc when it cannot exist.
void shapeTable(Eigen::MatrixXd& table, std::uint64_t K);

// K from the size n of a data set: the integer part of 1.87 (n - 1)^0.4.
std::uint64_t classCountForSize(std::uint64_t n);

}  // namespace quorvel
