// What every measure takes and gives: the settings of a run in, its result out. The measures
// (src/measures/) implement it; the estimator and the batch engine call it through AlgorithmFn.
#pragma once

#include "binning.hpp"

#include <Eigen/Core>

#include <cstdint>
#include <limits>
#include <vector>

namespace quorvel {

class WorkerPool;

enum class GroupKind : std::uint8_t {
    Group,       // a group the measure closed
    Core,        // NSLocaltoGlobal's core
    Unsettled,   // classes that reached the end of the range without settling
    FailedCore,  // the classes NSLocaltoGlobal's core search merged without settling a core
};

// Classes first..last (1-based), their count of values and their share as the measure took it.
struct FormedGroup {
    int first;
    int last;
    std::int64_t count;
    double share;
    GroupKind kind;
};

// The configuration of one run: K classes, band multiplier z, acceptance fraction `threshold`,
// the binning, whether the groups are wanted (most runs, a null's draws, only need H), and the
// threads the run may share its work with (null: the calling thread alone). The result is the
// same, bit for bit, on any number of threads.
struct MeasureSettings {
    int K;
    double z;
    double threshold;
    Binning binning;
    bool groups = false;
    WorkerPool* pool = nullptr;
};

// What a run gives. A caller keeps one from run to run (a batch worker does), so the table's
// storage is reused and the groups, filled only when asked for, cost nothing otherwise.
struct MeasureResult {
    double value = std::numeric_limits<double>::quiet_NaN();  // 1 - H/H0
    double H0 = std::numeric_limits<double>::quiet_NaN();
    double H = std::numeric_limits<double>::quiet_NaN();
    // (K+1) x 6: class boundaries, counts, shares and the measure's grouping.
    Eigen::MatrixXd table;
    // The groups as the measure formed them, when settings.groups is set.
    std::vector<FormedGroup> groups;
};

// Common type of every measure: the window [first, last) and the settings in, into `result`,
// whose table is already (K+1) x 6 and zero, groups empty and figures NaN (see runMeasure).
using AlgorithmFn = void (*)(const double* first, const double* last,
                             const MeasureSettings& settings, MeasureResult& result);

}  // namespace quorvel
