#include "non_stationary.hpp"

#include "measure_run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel {
namespace {

constexpr std::uint64_t kMaxClassCount = std::numeric_limits<std::int32_t>::max();

std::unique_ptr<Eigen::MatrixXd> zeroTable(std::uint64_t K) {
    auto table = std::make_unique<Eigen::MatrixXd>();
    shapeTable(*table, K);
    return table;
}

}  // namespace

class NonStationary::RunInProgress {
public:
    explicit RunInProgress(NonStationary& object) : object_(object) { ++object_.runsInProgress_; }
    ~RunInProgress() { --object_.runsInProgress_; }
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;

private:
    NonStationary& object_;
};

NonStationary::NonStationary(std::map<std::string, AlgorithmFn> measures)
    : H0(std::numeric_limits<double>::quiet_NaN()),
      H(std::numeric_limits<double>::quiet_NaN()),
      methodRegistry(std::move(measures)) {}

void NonStationary::setup(std::uint64_t K, double z, double threshold, int mode) {
    requireNoRunInProgress("setup");
    if (K + 1 > kMaxTableRows) {
        A.reset();
        throw std::bad_alloc();
    }
    if (K > kMaxClassCount)
        throw std::invalid_argument("K = " + std::to_string(K) +
                                    " is too large: at most 2147483647 classes are accepted");
    if (std::isnan(z)) throw std::invalid_argument("the band multiplier z must not be NaN");
    if (std::isnan(threshold))
        throw std::invalid_argument("the acceptance fraction must not be NaN");
    A.reset();
    A = zeroTable(K);
    classCount = K;
    zValue = z;
    acceptFraction = threshold;
    binning = binningOf(mode);
}

void NonStationary::setupDS(std::uint64_t n) {
    requireNoRunInProgress("setupDS");
    if (n == 0) throw std::invalid_argument("setupDS needs a data size n >= 1");
    classCount = classCountForSize(n);
    A.reset();
    A = zeroTable(classCount);
    zValue = kDefaultZ;
    acceptFraction = kDefaultAcceptFraction;
    binning = Binning::EqualFrequency;
}

double NonStationary::nsFunc(const std::string& name, const Series& series) {
    return run(name, series.data(), series.data() + series.size());
}

double NonStationary::nsFuncRange(const std::string& name, std::uint64_t first,
                                  std::uint64_t last) {
    requireConfigured();
    if (first > last || last > data_.size())
        throw std::out_of_range("nsFuncRange(" + std::to_string(first) + ", " +
                                std::to_string(last) + ") is out of range for data of length " +
                                std::to_string(data_.size()) + ": need first <= last <= len(data)");
    return run(name, data_.data() + first, data_.data() + last);
}

void NonStationary::setData(Series series) {
    requireNoRunInProgress("assigning data");
    data_ = std::move(series);
}

Eigen::MatrixXd NonStationary::getA() const {
    requireConfigured();
    return *A;
}

void NonStationary::requireNoRunInProgress(const char* operation) const {
    if (runsInProgress_ > 0)
        throw std::runtime_error(std::string(operation) +
                                 " is refused while a measure runs on this NonStationary "
                                 "(called from a signal handler or another thread during the "
                                 "run); call it after the run returns");
}

void NonStationary::requireConfigured() const {
    if (!A)
        throw std::runtime_error("NonStationary is not configured: call setup or setupDS first");
}

double NonStationary::run(const std::string& name, const double* first, const double* last) {
    requireConfigured();
    const AlgorithmFn measure = findMeasure(methodRegistry, name);
    const RunInProgress running(*this);
    // The measure works on a fresh table; it and the scalars replace the object's results only
    // when the run succeeds, so a failed run leaves the previous results intact.
    MeasureResult result;
    runMeasure(measure, first, last,
               MeasureSettings{static_cast<int>(classCount), zValue, acceptFraction, binning},
               result);
    A = std::make_unique<Eigen::MatrixXd>(std::move(result.table));
    H0 = result.H0;
    H = result.H;
    return result.value;
}

}  // namespace quorvel
