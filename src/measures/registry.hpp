// The registry of the measures: the one list of their names. A new measure is a unit of its own
// in this folder, declared in measures.hpp and named in registry.cpp; nothing else counts them.
#pragma once

#include "../core/measure_run.hpp"
#include "../core/measure_steps.hpp"

#include <string>

#include <vector>

namespace quorvel {

struct NamedMeasure {
    const char* name;
    AlgorithmFn measure;
    const MeasureSteps* steps;  // the measure's two steps, which `measure` runs in turn
};

// Every measure, in the order they are documented and shown.
const std::vector<NamedMeasure>& measuresInOrder();

// The measures by name, in the order their names sort.
const MeasureRegistry& measureRegistry();

// The steps of the measure of that name; std::invalid_argument as findMeasure if none.
const MeasureSteps& findSteps(const std::string& name);

}  // namespace quorvel
