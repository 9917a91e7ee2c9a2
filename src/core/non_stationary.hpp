// The estimator object: configuration, stored series, results and the registry of measures.
#pragma once

#include "binning.hpp"
#include "measure.hpp"
#include "run_buffer.hpp"

#include <Eigen/Core>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// The band multiplier and the acceptance fraction that setupDS chooses.
constexpr double kDefaultZ = 1.96;
constexpr double kDefaultAcceptFraction = 0.925845;

// A stored or given series of values.
using Series = RunBuffer<double>;

class NonStationary {
public:
    // An estimator of the measures in `measures`, looked up by name (src/measures/registry.hpp
    // has them all); the core itself knows of none.
    explicit NonStationary(std::map<std::string, AlgorithmFn> measures);

    void setup(std::uint64_t K, double z, double threshold, int mode);
    void setupDS(std::uint64_t n);

    double nsFunc(const std::string& name, const Series& series);
    double nsFuncRange(const std::string& name, std::uint64_t first, std::uint64_t last);

    double getH() const { return H; }
    double getH0() const { return H0; }
    Eigen::MatrixXd getA() const;

    const Series& data() const { return data_; }
    void setData(Series series);

private:
    // Counts the runs in progress on this object for as long as one lives.
    class RunInProgress;

    double run(const std::string& name, const double* first, const double* last);
    void requireConfigured() const;
    // A run polls for Ctrl-C, and Python code (a signal handler, another thread while a handler
    // waits) may then call this object: what a run reads must not change under it.
    void requireNoRunInProgress(const char* operation) const;

    Series data_;
    int runsInProgress_ = 0;

    std::uint64_t classCount = 0;
    double H0;
    double H;
    double zValue = 0.0;
    Binning binning = Binning::EqualWidth;
    double acceptFraction = 0.0;
    std::unique_ptr<Eigen::MatrixXd> A;
    std::map<std::string, AlgorithmFn> methodRegistry;
};

}  // namespace quorvel
