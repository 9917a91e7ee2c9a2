// The estimator object: configuration, stored series, results and the registry of measures.
#pragma once

#include "binning.hpp"
#include "run_buffer.hpp"

#include <Eigen/Core>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// Common signature of every measure: the window [first, last), the configuration, and where
// to store H0, H and the result table A (already (K+1) x 6 and zero). Returns 1 - H/H0.
using AlgorithmFn = double (*)(const double* first, const double* last, int K, double z,
                               double threshold, Binning binning, double* H0out, double* Hout,
                               Eigen::MatrixXd* A);

// The band multiplier and the acceptance fraction that setupDS chooses.
constexpr double kDefaultZ = 1.96;
constexpr double kDefaultAcceptFraction = 0.925845;

// A stored or given series of values.
using Series = RunBuffer<double>;

class NonStationary {
public:
    NonStationary();

    void setup(std::uint64_t K, double z, double threshold, int mode);
    void setupDS(std::uint64_t n);

    double nsFunc(const std::string& name, const Series& series);
    double nsFuncRange(const std::string& name, std::uint64_t first, std::uint64_t last);

    double getH() const { return H; }
    double getH0() const { return H0; }
    Eigen::MatrixXd getA() const;

    Series data;

private:
    double run(const std::string& name, const double* first, const double* last);
    void requireConfigured() const;

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
