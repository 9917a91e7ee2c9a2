#include "registry.hpp"

#include "measures.hpp"

namespace quorvel {

const std::vector<NamedMeasure>& measuresInOrder() {
    static const std::vector<NamedMeasure> measures{{"NSLocaltoGlobal", &NSLocaltoGlobal},
                                                    {"NSLefttoRight", &NSLefttoRight},
                                                    {"NSdichotomy", &NSdichotomy},
                                                    {"NSCircleLefttoRight", &NSCircleLefttoRight}};
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

}  // namespace quorvel
