// One run of a named measure on a window: the registry of names, the checks of the window and
// the fresh result table, shared by the estimator object and the batch engine.
#pragma once

#include "non_stationary.hpp"

#include <Eigen/Core>

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace quorvel {

struct NamedMeasure {
    const char* name;
    AlgorithmFn measure;
};

// Every measure, in the order they are documented and shown: the one list of their names.
extern const std::array<NamedMeasure, 4> kMeasures;

// The measures by name, in the order their names sort.
const std::map<std::string, AlgorithmFn>& measureRegistry();

// The measure of that name in `registry`; std::invalid_argument naming the accepted ones if none.
AlgorithmFn findMeasure(const std::map<std::string, AlgorithmFn>& registry,
                        const std::string& name);

// What one run reports besides its table.
struct MeasureResult {
    double value;
    double H0;
    double H;
};

// Runs `measure` on [first, last) with K classes, band multiplier z, acceptance fraction
// `threshold` and binning `mode`, into `table`, which is shaped to (K+1) x 6 and zeroed first.
// Refuses an empty window, one longer than 2^31 - 1 values, or one holding NaN.
MeasureResult runMeasure(AlgorithmFn measure, const double* first, const double* last, int K,
                         double z, double threshold, Binning binning, Eigen::MatrixXd& table);
// The same with the module's binning mode (see binningOf).
inline MeasureResult runMeasure(AlgorithmFn measure, const double* first, const double* last, int K,
                                double z, double threshold, int mode, Eigen::MatrixXd& table) {
    return runMeasure(measure, first, last, K, z, threshold, binningOf(mode), table);
}

// Beyond this row count the 6-column result table would exceed the largest signed 64-bit size.
constexpr std::uint64_t kMaxTableRows = 0x1555555555555555ULL;

// The result table of K classes, zeroed; std::bad_alloc when it cannot exist.
void shapeTable(Eigen::MatrixXd& table, std::uint64_t K);

// K from the size n of a data set: the integer part of 1.87 (n - 1)^0.4.
std::uint64_t classCountForSize(std::uint64_t n);

}  // namespace quorvel
