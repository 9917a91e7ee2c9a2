// quorvel_tools._engine: batches of runs of one measure, on worker threads that do not hold
// the interpreter lock. Arguments are checked and copied out of Python objects before the lock
// is released; the lock is taken back only to look for Ctrl-C and to report progress.
#include "../core/non_stationary.hpp"
#include "../core/worker_pool.hpp"
#include "../measures/registry.hpp"
#include "batch.hpp"
#include "default_rng.hpp"
#include "label_draws.hpp"
#include "order_pattern.hpp"
#include "scan.hpp"
#include "shuffle.hpp"
#include "tie_break.hpp"

#include <pybind11/eigen.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;
using quorvel::engine::BatchResults;
using quorvel::engine::Figures;
using quorvel::engine::MeasureSpec;
using quorvel::engine::Scratch;

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Integers = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;
using Progress = std::optional<std::function<void(std::size_t)>>;

int checkedClasses(std::int64_t K) {
    if (K < 0 || K > std::numeric_limits<std::int32_t>::max())
        throw py::value_error("classes must lie in 0..2147483647, not " + std::to_string(K));
    return static_cast<int>(K);
}

MeasureSpec spec(const std::string& method, double z, double accept, int mode) {
    if (std::isnan(z)) throw py::value_error("the band multiplier z must not be NaN");
    if (std::isnan(accept)) throw py::value_error("the acceptance fraction must not be NaN");
    return MeasureSpec{quorvel::findMeasure(quorvel::measureRegistry(), method), z, accept,
                       quorvel::binningOf(mode)};
}

unsigned checkedWorkers(int workers) {
    if (workers < 1) throw py::value_error("workers must be at least 1");
    return static_cast<unsigned>(workers);
}

// A task's refusal of its input, said of the task: "series 3: window contains NaN ...". Python
// gets it as a TaskError (a ValueError) whose attributes give the parts, so that a caller who
// knows the task by another name need not parse the message.
class TaskError : public std::invalid_argument {
public:
    TaskError(const char* what, std::size_t index, const std::string& reason)
        : std::invalid_argument(std::string(what) + " " + std::to_string(index) + ": " + reason),
          what_(what),
          index_(index),
          reason_(reason) {}

    const char* task() const { return what_; }
    std::size_t index() const { return index_; }
    const std::string& reason() const { return reason_; }

private:
    const char* what_;  // "series" or "window", a literal
    std::size_t index_;
    std::string reason_;
};

// The Python class of TaskError, made once when the module is imported and never released.
PyObject* taskErrorType = nullptr;

template <typename Run>
Figures saying(const char* what, std::size_t i, const Run& run) {
    try {
        return run();
    } catch (const std::invalid_argument& error) {
        throw TaskError(what, i, error.what());
    }
}

void raiseTaskError(const TaskError& error) {
    const py::object raised = py::reinterpret_borrow<py::object>(taskErrorType)(error.what());
    raised.attr("what") = error.task();
    raised.attr("index") = error.index();
    raised.attr("reason") = error.reason();
    PyErr_SetObject(taskErrorType, raised.ptr());
}

py::tuple toArrays(BatchResults&& results) {
    const auto array = [](std::vector<double>& values) {
        return py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
    };
    return py::make_tuple(array(results.value), array(results.H0), array(results.H));
}

// Runs the batch without the interpreter lock, taking it back between times to look for a
// pending signal and to call `progress`.
BatchResults runUnlocked(std::size_t count, unsigned workers, const quorvel::engine::Task& task,
                         const Progress& progress) {
    const py::gil_scoped_release released;
    return quorvel::engine::runTasks(count, workers, task, [&](std::size_t done) {
        const py::gil_scoped_acquire held;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (progress) (*progress)(done);
    });
}

py::tuple runReleased(std::size_t count, unsigned workers, const quorvel::engine::Task& task,
                      const Progress& progress) {
    return toArrays(runUnlocked(count, workers, task, progress));
}

py::tuple windows(const std::string& method, const Doubles& series, const Integers& starts,
                  const Integers& stops, std::int64_t classes, double z, double accept, int mode,
                  int workers, const Progress& progress) {
    const MeasureSpec measure = spec(method, z, accept, mode);
    const int K = checkedClasses(classes);
    if (series.ndim() != 1 || starts.ndim() != 1 || stops.ndim() != 1 ||
        starts.size() != stops.size())
        throw py::value_error(
            "series, starts and stops must be one-dimensional, starts and "
            "stops of one length");
    const auto n = static_cast<std::int64_t>(series.size());
    const std::int64_t* first = starts.data();
    const std::int64_t* last = stops.data();
    for (py::ssize_t i = 0; i < starts.size(); ++i)
        if (first[i] < 0 || first[i] > last[i] || last[i] > n)
            throw py::index_error("window " + std::to_string(i) + " (" + std::to_string(first[i]) +
                                  ", " + std::to_string(last[i]) +
                                  ") is out of range for a series of length " + std::to_string(n) +
                                  ": need 0 <= start <= stop <= n");
    const double* x = series.data();
    return runReleased(
        static_cast<std::size_t>(starts.size()), checkedWorkers(workers),
        [&](std::size_t i, Scratch& scratch) {
            return saying("window", i, [&] {
                return measure.run(x + first[i], x + last[i], K, scratch.result);
            });
        },
        progress);
}

py::tuple many(const std::string& method, const std::vector<Doubles>& series,
               const Integers& classes, double z, double accept, int mode, int workers,
               const Progress& progress) {
    const MeasureSpec measure = spec(method, z, accept, mode);
    if (classes.ndim() != 1 || static_cast<std::size_t>(classes.size()) != series.size())
        throw py::value_error("classes must hold one K per series");
    std::vector<std::pair<const double*, const double*>> windows(series.size());
    std::vector<int> K(series.size());
    for (std::size_t i = 0; i < series.size(); ++i) {
        if (series[i].ndim() != 1) throw py::value_error("every series must be one-dimensional");
        windows[i] = {series[i].data(), series[i].data() + series[i].size()};
        K[i] = checkedClasses(classes.data()[i]);
    }
    return runReleased(
        series.size(), checkedWorkers(workers),
        [&](std::size_t i, Scratch& scratch) {
            return saying("series", i, [&] {
                return measure.run(windows[i].first, windows[i].second, K[i], scratch.result);
            });
        },
        progress);
}

// Runs of the measure on draws 0..count-1 of the series: `draw(x, n, stream, scratch)` writes
// draw i, made from the stream of (seed, i), into scratch.values.
template <typename Draw>
py::tuple drawnRuns(const std::string& method, const Doubles& series, std::int64_t count,
                    std::uint64_t seed, std::int64_t classes, double z, double accept, int mode,
                    int workers, const Progress& progress, const Draw& draw) {
    const MeasureSpec measure = spec(method, z, accept, mode);
    const int K = checkedClasses(classes);
    if (series.ndim() != 1) throw py::value_error("the series must be one-dimensional");
    if (count < 0) throw py::value_error("the number of permutations must not be negative");
    const double* x = series.data();
    const auto n = static_cast<std::size_t>(series.size());
    return runReleased(
        static_cast<std::size_t>(count), checkedWorkers(workers),
        [&](std::size_t i, Scratch& scratch) {
            quorvel::engine::DrawStream stream(seed, i);
            draw(x, n, stream, scratch);
            return measure.run(scratch.values.data(), scratch.values.data() + n, K, scratch.result);
        },
        progress);
}

// The series classified once for its shuffles, where it can be; otherwise (no draws, or a
// series or settings that a run refuses) each draw is a run on shuffled values, which reports
// the refusal as the task that meets it.
std::optional<quorvel::engine::ShuffledLabels> shuffledLabels(const std::string& method,
                                                              const Doubles& series,
                                                              std::int64_t count,
                                                              std::int64_t classes, double z,
                                                              double accept, int mode) {
    const MeasureSpec measure = spec(method, z, accept, mode);
    const int K = checkedClasses(classes);
    if (count <= 0 || series.ndim() != 1) return std::nullopt;
    const quorvel::MeasureSteps& steps = quorvel::findSteps(method);
    const double* first = series.data();
    const double* last = first + series.size();
    // As long as a run, without the lock: it reads only the array the call holds.
    const py::gil_scoped_release released;
    try {
        return std::make_optional<quorvel::engine::ShuffledLabels>(
            steps, first, last,
            quorvel::MeasureSettings{K, measure.z, measure.threshold, measure.binning});
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The kinds of draw a null model makes of a series: "shuffle", a uniform permutation of its
// values (a new kind goes here, beside it).
py::tuple draws(const std::string& method, const Doubles& series, std::int64_t count,
                std::uint64_t seed, const std::string& kind, std::int64_t classes, double z,
                double accept, int mode, int workers, const Progress& progress) {
    if (kind != "shuffle")
        throw py::value_error("the kind of draw must be 'shuffle', not '" + kind + "'");
    if (auto labels = shuffledLabels(method, series, count, classes, z, accept, mode))
        return runReleased(
            static_cast<std::size_t>(count), checkedWorkers(workers),
            [&](std::size_t i, Scratch& scratch) { return labels->run(seed, i, scratch); },
            progress);
    return drawnRuns(
        method, series, count, seed, classes, z, accept, mode, workers, progress,
        [](const double* x, std::size_t n, quorvel::engine::DrawStream& stream, Scratch& scratch) {
            scratch.values.assign(x, x + n);
            quorvel::engine::shuffle(scratch.values.data(), n, stream);
        });
}

const char* kindName(quorvel::GroupKind kind) {
    switch (kind) {
        case quorvel::GroupKind::Core:
            return "core";
        case quorvel::GroupKind::Unsettled:
            return "unsettled";
        case quorvel::GroupKind::FailedCore:
            return "failed-core";
        case quorvel::GroupKind::Group:
            break;
    }
    return "group";
}

// Runs this small end within a twentieth of a second whatever their values (at most 40 ms
// measured, NSdichotomy on noise at 2^16 values and 1024 classes), so they stay on the calling
// thread: handing a run to a worker costs about 0.1 ms, as much as a whole run of 1,000 values.
constexpr py::ssize_t kValuesRunHere = py::ssize_t{1} << 16;
constexpr int kClassesRunHere = 1024;

// A run shares its work with more threads only from this length: below it, waking them costs
// about as much as they save.
constexpr py::ssize_t kValuesShared = py::ssize_t{1} << 19;

// One run that also returns its table and the groups as the measure formed them, in class
// order: (first, last, count, share, kind) each. A long series shares the run with `workers`
// threads in all; the figures are the same for any number.
py::tuple single(const std::string& method, const Doubles& series, std::int64_t classes, double z,
                 double accept, int mode, int workers) {
    const MeasureSpec measure = spec(method, z, accept, mode);
    const int K = checkedClasses(classes);
    const unsigned threads = checkedWorkers(workers);
    if (series.ndim() != 1) throw py::value_error("the series must be one-dimensional");
    quorvel::MeasureResult result;
    std::optional<quorvel::WorkerPool> pool;
    const auto runHere = [&] {
        return measure.run(series.data(), series.data() + series.size(), K, result, true,
                           pool ? &*pool : nullptr);
    };
    if (series.size() <= kValuesRunHere && K <= kClassesRunHere) {
        const py::gil_scoped_release released;
        runHere();
    } else {
        // On a worker like any batch, so that Ctrl-C stops it: the calling thread waits and
        // looks for signals, which the run cannot do without the interpreter lock.
        if (threads > 1 && series.size() >= kValuesShared) pool.emplace(threads);
        runUnlocked(1, 1, [&](std::size_t, Scratch&) { return runHere(); }, std::nullopt);
    }
    std::vector<quorvel::FormedGroup>& groups = result.groups;
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    py::list formed;
    for (const quorvel::FormedGroup& group : groups)
        formed.append(py::make_tuple(group.first, group.last, group.count, group.share,
                                     kindName(group.kind)));
    return py::make_tuple(result.value, result.H0, result.H, result.table, formed);
}

// The series' own copy, whether every value is finite, and its least and greatest values, in
// one pass: on `workers` threads from 2^19 values, like a run.
py::tuple checkedCopy(const Doubles& series, int workers) {
    const unsigned threads = checkedWorkers(workers);
    if (series.ndim() != 1 || series.size() == 0)
        throw py::value_error("the series must be one-dimensional and not empty");
    py::array_t<double> copy(series.size());
    double* out = copy.mutable_data();
    quorvel::engine::ScanFigures found;
    {
        const py::gil_scoped_release released;
        std::optional<quorvel::WorkerPool> pool;
        if (threads > 1 && series.size() >= kValuesShared) pool.emplace(threads);
        found = quorvel::engine::copyAndScan(series.data(), static_cast<std::size_t>(series.size()),
                                             out, pool ? &*pool : nullptr);
    }
    return py::make_tuple(copy, found.finite, found.low, found.high);
}

// The ranks of each row (a series, or windows of one length) with its ties in a random order
// drawn from stream first + r of the seed for row r.
py::array_t<double> tieBroken(const Doubles& rows, std::uint64_t seed, std::uint64_t first) {
    if (rows.ndim() != 1 && rows.ndim() != 2)
        throw py::value_error("the series must be one row of values or a table of rows");
    const auto width = static_cast<std::size_t>(rows.shape(rows.ndim() - 1));
    const std::size_t count = rows.ndim() == 2 ? static_cast<std::size_t>(rows.shape(0)) : 1;
    if (width > std::numeric_limits<std::uint32_t>::max())
        throw py::value_error("a row must hold fewer than 2^32 values");
    const double* x = rows.data();
    if (std::any_of(x, x + count * width, [](double v) { return std::isnan(v); }))
        throw py::value_error("the series must not hold NaN");
    py::array_t<double> ranks(rows.request().shape);
    double* out = ranks.mutable_data();
    const py::gil_scoped_release released;
    for (std::size_t r = 0; r < count; ++r)
        quorvel::engine::tieBrokenRanks(x + r * width, width, seed, first + r, out + r * width);
    return ranks;
}

// The order of a series' values as bytes to hash: see orderPattern.
py::bytes orderPattern(const Doubles& series, std::size_t step) {
    if (series.ndim() != 1) throw py::value_error("the series must be one row of values");
    if (step < 1) throw py::value_error("step must be at least 1");
    const std::vector<std::uint8_t> pattern =
        quorvel::engine::orderPattern(series.data(), static_cast<std::size_t>(series.size()), step);
    return py::bytes(reinterpret_cast<const char*>(pattern.data()), pattern.size());
}

// numpy.random.default_rng(integers).random(count), for integers below 2^64.
py::array_t<double> defaultRngUniforms(const std::vector<std::uint64_t>& integers,
                                       py::ssize_t count) {
    if (count < 0) throw py::value_error("count must not be negative");
    std::vector<std::uint32_t> entropy;
    for (std::uint64_t integer : integers) {
        do {
            entropy.push_back(static_cast<std::uint32_t>(integer));
            integer >>= 32;
        } while (integer != 0);
    }
    py::array_t<double> out(count);
    quorvel::engine::defaultRngUniforms(entropy, out.mutable_data(),
                                        static_cast<std::size_t>(count));
    return out;
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
    m.doc() = "Batches of runs of one measure on worker threads, for quorvel_tools.";
    // The core's own names and defaults, so that the analysis layer writes none of them again.
    const std::vector<quorvel::NamedMeasure>& measures = quorvel::measuresInOrder();
    py::tuple names(measures.size());
    for (std::size_t i = 0; i < measures.size(); ++i) names[i] = py::str(measures[i].name);
    m.attr("METHODS") = names;
    taskErrorType = PyErr_NewExceptionWithDoc(
        "quorvel_tools._engine.TaskError",
        "A task of a batch refused its input: `what` is \"series\" or \"window\", `index` the "
        "task's number and `reason` the refusal; str() gives them as \"series 3: reason\".",
        PyExc_ValueError, nullptr);
    if (taskErrorType == nullptr) throw py::error_already_set();
    m.attr("TaskError") = py::handle(taskErrorType);
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const TaskError& error) {
            raiseTaskError(error);
        }
    });
    m.attr("DEFAULT_Z") = quorvel::kDefaultZ;
    m.attr("DEFAULT_ACCEPT") = quorvel::kDefaultAcceptFraction;
    m.def("run", &single, py::arg("method"), py::arg("series"), py::arg("classes"), py::arg("z"),
          py::arg("accept"), py::arg("mode"), py::arg("workers") = 1,
          "value, H0, H, the result table and the groups the measure formed, for one series, "
          "on `workers` threads from 2^19 values (the figures are the same for any number).");
    m.def("checked_copy", &checkedCopy, py::arg("series"), py::arg("workers") = 1,
          "The series' own copy, whether every value is finite, and its least and greatest "
          "values (meaningful when every value is finite), in one pass.");
    m.def("windows", &windows, py::arg("method"), py::arg("series"), py::arg("starts"),
          py::arg("stops"), py::arg("classes"), py::arg("z"), py::arg("accept"), py::arg("mode"),
          py::arg("workers"), py::arg("progress") = py::none(),
          "value, H0 and H of the measure on series[starts[i]:stops[i]] for every i.");
    m.def("many", &many, py::arg("method"), py::arg("series"), py::arg("classes"), py::arg("z"),
          py::arg("accept"), py::arg("mode"), py::arg("workers"), py::arg("progress") = py::none(),
          "value, H0 and H of the measure on every series, series i with classes[i] classes.");
    m.def("draws", &draws, py::arg("method"), py::arg("series"), py::arg("count"), py::arg("seed"),
          py::arg("kind"), py::arg("classes"), py::arg("z"), py::arg("accept"), py::arg("mode"),
          py::arg("workers"), py::arg("progress") = py::none(),
          "value, H0 and H of the measure on draws 0..count-1 of the series for the seed: "
          "shuffles (kind 'shuffle').");
    m.def("tie_broken", &tieBroken, py::arg("rows"), py::arg("seed"), py::arg("first") = 0,
          "The ranks 0..n-1 of each row's values (a series, or a table of windows), each run "
          "of equal values in a uniformly random order drawn from the seed, row r from its "
          "stream first + r.");
    m.def("order_pattern", &orderPattern, py::arg("series"), py::arg("step"),
          "Whether each value is above the one before it, whether it is below (both packed "
          "eight to a byte, most significant bit first), and the dense ranks of every step-th "
          "value as little-endian int64: the bytes a series' own seed is hashed from.");
    m.def("default_rng_uniforms", &defaultRngUniforms, py::arg("integers"), py::arg("count"),
          "The doubles numpy.random.default_rng(integers).random(count) gives, for integers "
          "from 0 to 2^64 - 1.");
    m.def(
        "shuffled",
        [](const Doubles& series, std::uint64_t seed, std::uint64_t draw) {
            std::vector<double> values(series.data(), series.data() + series.size());
            quorvel::engine::DrawStream stream(seed, draw);
            quorvel::engine::shuffle(values.data(), values.size(), stream);
            return py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
        },
        py::arg("series"), py::arg("seed"), py::arg("draw"),
        "Shuffle `draw` of the series for the seed, as draws() makes it.");
}
