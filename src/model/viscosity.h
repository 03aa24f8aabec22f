// The viscosity of the disc model and the time scale it sets.
//
// The viscosity law nu = nu0 r^b, b = 2 - 0.5/l, fixes the viscous time as
// the e-folding time of the first Bessel mode,
//   texp = (l / z_0)^2 (16/3) r_out^(0.5/l) / nu0,
// with z_0 the first zero of J_(l-1); kappa is the same viscosity in the
// angular-momentum variable of the Green's function,
//   kappa^2 = 16 l^2 / (3 nu0 (G mass)^(0.5/l)).
// Either texp or kappa is given; the other follows, and both are then
// recomputed from texp so that they agree to the last bit with the viscous
// time the model uses.
//
// Both the original algorithm (with its tabulated first zero) and the exact
// solution (with its own) derive their constants here; z_0 is an argument
// because the two zeros may differ in the last bit.
#pragma once

#include <cmath>

#include "model/constants.h"

struct viscous_constants {
  double texp;   // s, viscous time
  double nu0;    // cgs, nu = nu0 r^(2 - 0.5/l)
  double kappa;  // cgs
};

constexpr double KAPPA_NUMERATOR = 16.0;   // 16 l^2 of the kappa relation
constexpr double KAPPA_DENOMINATOR = 3.0;  // 3 nu0 (G mass)^(0.5/l)

// (l / z_0)^2 (16/3) r_out^(0.5/l): texp times nu0.
inline double viscous_time_times_nu0(double l, double r_out_disk, double z0) {
  return std::pow(l / z0, 2) * phys::sixteen_thirds * std::pow(r_out_disk, 0.5 / l);
}

// texp, nu0 and kappa of a disc of order l, central mass `mass` (g) and outer
// radius r_out_disk (cm): texp_seconds as given, or, when it is 0 and kappa
// is not, derived from kappa (cgs). With neither, texp stays 0 (and nu0 is
// infinite): the callers refuse such a model.
inline viscous_constants derive_viscous_constants(double l, double mass, double r_out_disk, double texp_seconds,
                                                  double kappa, double z0) {
  const double texp_nu0 = viscous_time_times_nu0(l, r_out_disk, z0);
  viscous_constants v{texp_seconds, 0.0, 0.0};
  if (texp_seconds == 0.0 && kappa != 0.0) {
    const double nu0 =
        (l * l * KAPPA_NUMERATOR) / (kappa * kappa * KAPPA_DENOMINATOR * std::pow(phys::G * mass, 0.5 / l));
    v.texp = texp_nu0 / nu0;
  }
  v.nu0 = texp_nu0 / v.texp;
  v.kappa = std::sqrt((l * l * KAPPA_NUMERATOR) / (v.nu0 * KAPPA_DENOMINATOR * std::pow(phys::G * mass, 0.5 / l)));
  return v;
}
