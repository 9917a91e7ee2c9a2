// The four stationarity measures, each an AlgorithmFn.
#pragma once

#include "../core/binning.hpp"

#include <Eigen/Core>

namespace quorvel {

double NSLocaltoGlobal(const double* first, const double* last, int K, double z, double threshold,
                       Binning binning, double* H0out, double* Hout, Eigen::MatrixXd* A);
double NSLefttoRight(const double* first, const double* last, int K, double z, double threshold,
                     Binning binning, double* H0out, double* Hout, Eigen::MatrixXd* A);
double NSdichotomy(const double* first, const double* last, int K, double z, double threshold,
                   Binning binning, double* H0out, double* Hout, Eigen::MatrixXd* A);
double NSCircleLefttoRight(const double* first, const double* last, int K, double z,
                           double threshold, Binning binning, double* H0out, double* Hout,
                           Eigen::MatrixXd* A);

}  // namespace quorvel
