// Many runs of one measure spread over worker threads. Each task's results land in its own
// slot, so they are the same for any number of workers; the calling thread only waits, and is
// offered the chance to stop the batch at short intervals.
#pragma once

#include "../core/measure_run.hpp"

#include <Eigen/Core>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvel::engine {

// What a batch keeps of each run.
struct Figures {
    double value;
    double H0;
    double H;
};

// What every run of a batch shares: the measure and the configuration besides K.
struct MeasureSpec {
    AlgorithmFn measure;
    double z;
    double threshold;
    Binning binning;

    // A run with K classes into `result` (its groups only when `groups`), sharing its work with
    // the threads of `pool` when there is one, and its figures.
    Figures run(const double* first, const double* last, int K, MeasureResult& result,
                bool groups = false, WorkerPool* pool = nullptr) const {
        runMeasure(measure, first, last, MeasureSettings{K, z, threshold, binning, groups, pool},
                   result);
        return Figures{result.value, result.H0, result.H};
    }
};

// A worker's own buffers, kept from one of its runs to the next: the result's table is reshaped
// in place, so a batch of one K allocates it once per worker.
struct Scratch {
    MeasureResult result;
    std::vector<double> values;
};

// One entry per task.
struct BatchResults {
    explicit BatchResults(std::size_t count) : value(count), H0(count), H(count) {}

    std::vector<double> value;
    std::vector<double> H0;
    std::vector<double> H;
};

using Task = std::function<Figures(std::size_t task, Scratch& scratch)>;
// Called on the calling thread with the number of tasks done, about every 50 ms and once at
// the end; throwing from it stops the batch, and the exception leaves runTasks.
using Wait = std::function<void(std::size_t done)>;

// Runs tasks 0..count-1 on `workers` threads (at least one). When tasks fail, the failure of the
// lowest task number is rethrown, whatever the number of workers.
BatchResults runTasks(std::size_t count, unsigned workers, const Task& task, const Wait& wait);

}  // namespace quorvel::engine
