// Cutting a window's value range into K classes and counting the window into them.
#pragma once

#include "binning.hpp"
#include "class_index.hpp"

#include <Eigen/Core>

#include <vector>

namespace quorvel {

class WorkerPool;

// Where the lowest boundary b_0 sits below the window's minimum.
enum class LowestBoundary {
    Offset,    // min - 0.01 for equal-frequency classes, 0.99 * min for equal-width classes
    Relative,  // min - 0.01 * |min| in both modes
};

// Arithmetic of the equal-frequency positions in the sorted window.
enum class PositionPrecision { Single, Double };

// Boundaries b_0..b_K of the window [first, last), also written to column 0 of A. Class c is
// the half-open interval (b_{c-1}, b_c]. The window must be non-empty and, in equal-frequency
// mode, K must be at least 1. The threads of `pool` (null: the calling thread alone) share the
// work; the boundaries are the same for any number of them.
std::vector<double> classBoundaries(const double* first, const double* last, int K, Binning binning,
                                    LowestBoundary lowest, PositionPrecision precision,
                                    Eigen::MatrixXd& A, WorkerPool* pool = nullptr);

// Counts (column 1 of A) and shares (column 2) of the classes, and their entropy H0.
void classFrequencies(const ClassIndex& index, double* H0out, Eigen::MatrixXd& A);

// What every measure starts from: the boundaries b_0..b_K (into b, and column 0 of A), the
// window classified by them, and the classes' counts and shares (columns 1 and 2) with their
// entropy H0; on the threads of `pool` as classBoundaries.
ClassIndex classifyWindow(const double* first, const double* last, int K, Binning binning,
                          LowestBoundary lowest, PositionPrecision precision,
                          std::vector<double>& b, double* H0out, Eigen::MatrixXd& A,
                          WorkerPool* pool);

// The same, for the measures that read the boundaries only from the table.
ClassIndex classifyWindow(const double* first, const double* last, int K, Binning binning,
                          LowestBoundary lowest, PositionPrecision precision, double* H0out,
                          Eigen::MatrixXd& A, WorkerPool* pool);

// Measures that compare or choose among classes need at least one of them.
void requireClasses(int K, const char* measure);

}  // namespace quorvel
