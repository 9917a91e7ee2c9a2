// The shuffles of one series, classified once: a shuffle of the values has the same boundaries,
// counts and H0 as the series, and its labels are the series' labels shuffled alike, so each
// draw shuffles the labels and runs only the measure's own procedure on them.
#pragma once

#include "../core/measure_steps.hpp"
#include "batch.hpp"
#include "shuffle.hpp"

#include <cstddef>
#include <cstdint>

namespace quorvel::engine {

class ShuffledLabels {
public:
    // Classifies [first, last) with the measure's first step; throws as a run of the measure
    // on the series would.
    ShuffledLabels(const MeasureSteps& steps, const double* first, const double* last,
                   const MeasureSettings& settings);

    // The measure on draw `draw` of the seed: the figures of a run on the values shuffled by
    // DrawStream(seed, draw), bit for bit. Reads only this object, so workers share it.
    Figures run(std::uint64_t seed, std::uint64_t draw, Scratch& scratch) const;

private:
    const MeasureSteps& steps_;
    MeasureSettings settings_;
    MeasureResult classified_;  // the table's columns 0 to 2 and H0
    ClassifiedWindow window_;
};

}  // namespace quorvel::engine
