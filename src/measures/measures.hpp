// The four stationarity measures, each an AlgorithmFn (see src/core/measure.hpp).
#pragma once

#include "../core/measure.hpp"

namespace quorvel {

void NSLocaltoGlobal(const double* first, const double* last, const MeasureSettings& settings,
                     MeasureResult& result);
void NSLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                   MeasureResult& result);
void NSdichotomy(const double* first, const double* last, const MeasureSettings& settings,
                 MeasureResult& result);
void NSCircleLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                         MeasureResult& result);

}  // namespace quorvel
