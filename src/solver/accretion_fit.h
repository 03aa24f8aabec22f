// The accretion rate from torque values at the fit abscissae FIT_XI.
#pragma once

#include <array>

#include "model/settings.h"

struct accretion_fit {
  double mdot;    // 2 pi c1 / hout, g/s, with c1 the least-squares slope of F = c1 xi
  double abserr;  // 2 pi / hout times the standard error of c1, g/s
};

// Fits F = c1 * xi through the origin to the torque values F_arr at FIT_XI.
accretion_fit fit_accretion_rate(const std::array<double, FIT_XI.size()>& F_arr, double hout);
