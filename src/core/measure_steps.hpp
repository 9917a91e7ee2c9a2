// A measure in its two steps: the classification of the window, which depends on its values
// as a multiset only, and the measure's own procedure on the labelled window. The shuffles of
// one series, a null's draws, share the first step: each is a shuffle of the series' labels.
#pragma once

#include "class_index.hpp"
#include "classes.hpp"
#include "measure.hpp"

#include <utility>
#include <vector>

namespace quorvel {

struct ClassifiedWindow {
    std::vector<double> b;  // the boundaries b_0..b_K
    ClassIndex index;
};

struct MeasureSteps {
    // Checks the settings as the measure does and classifies the window: the boundaries, the
    // labels, the table's columns 0 to 2 (boundaries, counts, shares) and H0.
    ClassifiedWindow (*classify)(const double* first, const double* last,
                                 const MeasureSettings& settings, MeasureResult& result);
    // The rest of the measure on a classified window, whose columns 0 to 2 and H0 are in
    // `result` already.
    void (*procedure)(ClassIndex index, const std::vector<double>& b,
                      const MeasureSettings& settings, MeasureResult& result);
};

// The first step with a measure's lowest boundary and position precision: the window classified
// with the settings' K, binning and threads, into the result's H0 and table.
inline ClassifiedWindow classifyWith(LowestBoundary lowest, PositionPrecision precision,
                                     const double* first, const double* last,
                                     const MeasureSettings& settings, MeasureResult& result) {
    ClassifiedWindow window;
    window.index = classifyWindow(first, last, settings.K, settings.binning, lowest, precision,
                                  window.b, &result.H0, result.table, settings.pool);
    return window;
}

// The measure as one AlgorithmFn does it: both steps on the window.
inline void runSteps(const MeasureSteps& steps, const double* first, const double* last,
                     const MeasureSettings& settings, MeasureResult& result) {
    ClassifiedWindow window = steps.classify(first, last, settings, result);
    steps.procedure(std::move(window.index), window.b, settings, result);
}

}  // namespace quorvel
