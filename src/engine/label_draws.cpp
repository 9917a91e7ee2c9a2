#include "label_draws.hpp"

#include <limits>
#include <utility>

namespace quorvel::engine {

ShuffledLabels::ShuffledLabels(const MeasureSteps& steps, const double* first, const double* last,
                               const MeasureSettings& settings)
    : steps_(steps), settings_(settings) {
    // The checks and the fresh result of a run, then its first step only.
    prepareRun(first, last, settings_, classified_);
    window_ = steps_.classify(first, last, settings_, classified_);
}

Figures ShuffledLabels::run(std::uint64_t seed, std::uint64_t draw, Scratch& scratch) const {
    const Labels& labels = window_.index.label;
    Labels shuffled(labels.begin(), labels.end());
    DrawStream stream(seed, draw);
    shuffle(shuffled.data(), shuffled.size(), stream);
    const std::size_t n = shuffled.size();
    ClassIndex index = indexLabels(std::move(shuffled), 0, settings_.K, fewestPerBlockOfWindow(n));
    MeasureResult& result = scratch.result;
    result.table = classified_.table;
    result.groups.clear();
    result.H0 = classified_.H0;
    result.value = result.H = std::numeric_limits<double>::quiet_NaN();
    steps_.procedure(std::move(index), window_.b, settings_, result);
    return Figures{result.value, result.H0, result.H};
}

}  // namespace quorvel::engine
