#include "registry.hpp"

#include "measures.hpp"

#include <algorithm>

namespace quorvel {

const std::vector<NamedMeasure>& measuresInOrder() {
    static const std::vector<NamedMeasure> measures{
        {"NSLocaltoGlobal", &NSLocaltoGlobal, &kLocaltoGlobalSteps},
        {"NSLefttoRight", &NSLefttoRight, &kLefttoRightSteps},
        {"NSdichotomy", &NSdichotomy, &kDichotomySteps},
        {"NSCircleLefttoRight", &NSCircleLefttoRight, &kCircleLefttoRightSteps}};
    return measures;
}

const MeasureRegistry& measureRegistry() {
    static const MeasureRegistry registry = [] {
        MeasureRegistry byName;
        for (const NamedMeasure& entry : measuresInOrder())
            byName.emplace(entry.name, entry.measure);
        return byName;
    }();
    return registry;
}

const MeasureSteps& findSteps(const std::string& name) {
    const AlgorithmFn measure = findMeasure(measureRegistry(), name);  // refuses unknown names
    const std::vector<NamedMeasure>& measures = measuresInOrder();
    return *std::find_if(measures.begin(), measures.end(), [&](const NamedMeasure& entry) {
                return entry.measure == measure;
            })->steps;
}

}  // namespace quorvel
