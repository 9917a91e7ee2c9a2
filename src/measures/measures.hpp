// The four stationarity measures, each an AlgorithmFn (see src/core/measure.hpp).
#pragma once

#include "../core/measure.hpp"
#include "../core/measure_steps.hpp"

namespace quorvel {

// Each measure's two steps (see measure_steps.hpp); its AlgorithmFn runs both.
extern const MeasureSteps kLocaltoGlobalSteps;
extern const MeasureSteps kLefttoRightSteps;
extern const MeasureSteps kDichotomySteps;
extern const MeasureSteps kCircleLefttoRightSteps;

void NSLocaltoGlobal(const double* first, const double* last, const MeasureSettings& settings,
                     MeasureResult& result);
void NSLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                   MeasureResult& result);
void NSdichotomy(const double* first, const double* last, const MeasureSettings& settings,
                 MeasureResult& result);
void NSCircleLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                         MeasureResult& result);

}  // namespace quorvel
