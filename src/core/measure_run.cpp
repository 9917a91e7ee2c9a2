#include "measure_run.hpp"

#include "worker_pool.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

namespace quorvel {
namespace {

constexpr std::uint64_t kMaxWindow = std::numeric_limits<std::int32_t>::max();

// Windows are counted in 32 bits and their values ordered, so they must be short enough and
// NaN-free.
void requireValidWindow(const double* first, const double* last, WorkerPool* pool) {
    const std::ptrdiff_t n = last - first;
    if (n == 0) throw std::invalid_argument("empty window: a measure needs at least one value");
    if (static_cast<std::uint64_t>(n) > kMaxWindow)
        throw std::invalid_argument("window too long: at most 2147483647 values are accepted");
    // A branch-free scan first (it vectorises), in ranges over the run's threads; the position
    // only when there is one to name.
    const auto values = static_cast<std::size_t>(n);
    constexpr std::size_t kFewestPerRange = std::size_t{1} << 18;
    std::atomic<bool> anyNaN{false};
    forEachRange(pool, values, kFewestPerRange, [&](std::size_t, std::size_t from, std::size_t to) {
        bool found = false;
        for (const double* x = first + from; x != first + to; ++x) found |= std::isnan(*x);
        if (found) anyNaN.store(true, std::memory_order_relaxed);
    });
    if (!anyNaN.load(std::memory_order_relaxed)) return;
    const double* nan = std::find_if(first, last, [](double x) { return std::isnan(x); });
    throw std::invalid_argument("window contains NaN at position " + std::to_string(nan - first) +
                                ": remove or fill missing values first");
}

}  // namespace

AlgorithmFn findMeasure(const MeasureRegistry& registry, const std::string& name) {
    const auto entry = registry.find(name);
    if (entry != registry.end()) return entry->second;
    std::string accepted;
    for (const auto& [known, fn] : registry) {
        (void)fn;
        accepted += (accepted.empty() ? "" : ", ") + known;
    }
    // Echo at most a readable prefix of what was given.
    constexpr std::size_t kShown = 60;
    const std::string shown = name.size() > kShown ? name.substr(0, kShown) + "..." : name;
    throw std::invalid_argument("unknown measure '" + shown + "'; accepted names: " + accepted);
}

void shapeTable(Eigen::MatrixXd& table, std::uint64_t K) {
    const std::uint64_t rows = K + 1;
    if (rows > kMaxTableRows) throw std::bad_alloc();
    table.setZero(static_cast<Eigen::Index>(rows), 6);
}

void prepareRun(const double* first, const double* last, const MeasureSettings& settings,
                MeasureResult& result) {
    requireValidWindow(first, last, settings.pool);
    shapeTable(result.table, static_cast<std::uint64_t>(settings.K));
    result.groups.clear();
    result.value = result.H0 = result.H = std::numeric_limits<double>::quiet_NaN();
}

void runMeasure(AlgorithmFn measure, const double* first, const double* last,
                const MeasureSettings& settings, MeasureResult& result) {
    prepareRun(first, last, settings, result);
    measure(first, last, settings, result);
}

std::uint64_t classCountForSize(std::uint64_t n) {
    const auto K = static_cast<std::int32_t>(1.87 * std::pow(static_cast<double>(n - 1), 0.4));
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(K));
}

}  // namespace quorvel
