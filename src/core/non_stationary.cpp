#include "non_stationary.hpp"

#include "../measures/measures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

namespace quorvel {
namespace {

// Beyond this row count the 6-column table would exceed the largest signed 64-bit size.
constexpr std::uint64_t kMaxRows = 0x1555555555555555ULL;
constexpr std::uint64_t kMaxClassCount = std::numeric_limits<std::int32_t>::max();

std::unique_ptr<Eigen::MatrixXd> zeroTable(std::uint64_t K) {
    const std::uint64_t rows = K + 1;
    if (rows > kMaxRows) throw std::bad_alloc();
    return std::make_unique<Eigen::MatrixXd>(
        Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(rows), 6));
}

// Windows are counted in 32 bits and their values ordered, so they must be short enough and
// NaN-free.
void requireValidWindow(const double* first, const double* last) {
    const std::ptrdiff_t n = last - first;
    if (n == 0) throw std::invalid_argument("empty window: a measure needs at least one value");
    if (static_cast<std::uint64_t>(n) > kMaxClassCount)
        throw std::invalid_argument("window too long: at most 2147483647 values are accepted");
    // A branch-free scan first (it vectorises); the position only when there is one to name.
    bool anyNaN = false;
    for (const double* x = first; x != last; ++x) anyNaN |= std::isnan(*x);
    if (!anyNaN) return;
    const double* nan = std::find_if(first, last, [](double x) { return std::isnan(x); });
    throw std::invalid_argument("window contains NaN at position " + std::to_string(nan - first) +
                                ": remove or fill missing values first");
}

}  // namespace

NonStationary::NonStationary()
    : H0(std::numeric_limits<double>::quiet_NaN()),
      H(std::numeric_limits<double>::quiet_NaN()),
      methodRegistry{{"NSLocaltoGlobal", &quorvel::NSLocaltoGlobal},
                     {"NSLefttoRight", &quorvel::NSLefttoRight},
                     {"NSdichotomy", &quorvel::NSdichotomy},
                     {"NSCircleLefttoRight", &quorvel::NSCircleLefttoRight}} {}

void NonStationary::setup(std::uint64_t K, double z, double threshold, int mode) {
    if (K + 1 > kMaxRows) {
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
    binningMode = static_cast<double>(mode);
}

void NonStationary::setupDS(std::uint64_t n) {
    if (n == 0) throw std::invalid_argument("setupDS needs a data size n >= 1");
    const auto K = static_cast<std::int32_t>(1.87 * std::pow(static_cast<double>(n - 1), 0.4));
    classCount = static_cast<std::uint64_t>(static_cast<std::int64_t>(K));
    A.reset();
    A = zeroTable(classCount);
    zValue = 1.96;
    acceptFraction = 0.925845;
    binningMode = 1.0;
}

double NonStationary::nsFunc(const std::string& name, const Series& series) {
    return run(name, series.data(), series.data() + series.size());
}

double NonStationary::nsFuncRange(const std::string& name, std::uint64_t first,
                                  std::uint64_t last) {
    requireConfigured();
    if (first > last || last > data.size())
        throw std::out_of_range("nsFuncRange(" + std::to_string(first) + ", " +
                                std::to_string(last) + ") is out of range for data of length " +
                                std::to_string(data.size()) + ": need first <= last <= len(data)");
    return run(name, data.data() + first, data.data() + last);
}

Eigen::MatrixXd NonStationary::getA() const {
    requireConfigured();
    return *A;
}

void NonStationary::requireConfigured() const {
    if (!A)
        throw std::runtime_error("NonStationary is not configured: call setup or setupDS first");
}

double NonStationary::run(const std::string& name, const double* first, const double* last) {
    requireConfigured();
    const auto entry = methodRegistry.find(name);
    if (entry == methodRegistry.end()) {
        std::string accepted;
        for (const auto& [known, fn] : methodRegistry) {
            (void)fn;
            accepted += (accepted.empty() ? "" : ", ") + known;
        }
        // Echo at most a readable prefix of what was given.
        constexpr std::size_t kShown = 60;
        const std::string shown = name.size() > kShown ? name.substr(0, kShown) + "..." : name;
        throw std::invalid_argument("unknown measure '" + shown + "'; accepted names: " + accepted);
    }
    requireValidWindow(first, last);

    // The measure works on a fresh table and scalars; they replace the object's results only
    // when it succeeds, so a failed run leaves the previous results intact.
    auto table = zeroTable(classCount);
    double h0 = std::numeric_limits<double>::quiet_NaN();
    double h = std::numeric_limits<double>::quiet_NaN();
    const double result =
        entry->second(first, last, static_cast<int>(classCount), zValue, acceptFraction,
                      static_cast<int>(binningMode), &h0, &h, table.get());
    A = std::move(table);
    H0 = h0;
    H = h;
    return result;
}

}  // namespace quorvel
