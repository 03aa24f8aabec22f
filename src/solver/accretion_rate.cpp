// Mass accretion rate through the inner disc, g/s.
//
// The rate is 2 pi / hout times the slope of the torque in xi = x^(2l) (xi is
// the specific angular momentum in units of hout). mdot_in_t1, the method of
// the evolution run, evaluates the torque at five small xi (FIT_XI) and fits
// a line through the origin by least squares (gsl_fit_mul); its error is the
// standard error of the fitted slope, sqrt(cov11), carried through the same
// factor. mdot_in_t is the alternative: it integrates the xi-derivative of the
// Green's function against the initial torque at the evaluation radius
// r_inner_dotM and adds the derivative of the steady supply profile; its error
// is the quadrature's estimate. Both clear the source-convolution cache first.
#include "solver/accretion_rate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gsl/gsl_fit.h>
#include <gsl/gsl_math.h>

#include "model/constants.h"
#include "model/gmodel.h"
#include "model/integrand_records.h"
#include "model/settings.h"
#include "numerics/quadrature.h"
#include "output/fatal.h"
#include "solver/accretion_fit.h"
#include "solver/node_prefetch.h"
#include "solver/torque.h"

accretion_fit fit_accretion_rate(const std::array<double, FIT_XI.size()>& F_arr, double hout) {
  double c1 = 0.0;
  double cov11 = 0.0;
  double sumsq = 0.0;
  gsl_fit_mul(FIT_XI.data(), 1, F_arr.data(), 1, FIT_XI.size(), &c1, &cov11, &sumsq);
  accretion_fit fit;
  fit.mdot = (c1 + c1) * phys::pi / hout;
  fit.abserr = phys::two_pi / hout * std::sqrt(cov11);
  return fit;
}

double mdot_in_t1(double t, double* abserr_mdot, gmodel* mod) {
  std::printf("\nCalculating accretion rate by mdot_in1()\n");
  mod->have_integral = 0;
  const double hout = hout_of(mod);
  std::printf("\n Calculate linear fit for derivative\n");

  std::array<double, FIT_XI.size()> x{};  // the field points, as F_xi_t takes them
  for (std::size_t j = 0; j < FIT_XI.size(); ++j) x[j] = std::pow(FIT_XI[j], 0.5 / mod->l);
  prefetch_field_rows(x.data() + 1, static_cast<int>(FIT_XI.size()) - 1, t, mod);

  my_Green_params2 params{t, mod};
  std::array<double, FIT_XI.size()> F_arr{};
  for (std::size_t j = 0; j < FIT_XI.size(); ++j) F_arr[j] = F_xi_t(FIT_XI[j], &params);

  const accretion_fit fit = fit_accretion_rate(F_arr, hout);
  *abserr_mdot = fit.abserr;
  return fit.mdot;
}

double mdot_in_t(double t, double* abserr_mdot, gmodel* mod) {
  std::printf("\ncalculating mdot_in\n");
  if (mod->flag_outer != 0 && mod->flag_outer != 1 && mod->flag_outer != 2) {
    std::printf("Invalid event in mdot_in_t(). Exit\n");
    std::exit(exit_status::invalid_model);
  }
  mod->have_integral = 0;
  const double x = std::pow(r_inner_dotM, 0.25 / mod->l);
  mod->flag_green = 2;

  my_Green_params params{t, x, mod};
  gsl_function F;
  F.function = &integrant;
  F.params = &params;
  double err = 0.0;
  const double D = integrate_qag(&F, MINX * mod->a, mod->a, &err);

  const double hout = hout_of(mod);
  double V = D;
  if (mod->flag_outer == 1) {
    V = std::pow(x, 2.0 * mod->l) * hout * (0.5 * mod->mdot_out / phys::pi) + D;
  } else if (mod->flag_outer == 2) {
    V = std::pow(x, 2.0 * mod->l) * hout * (mod->accr_out(t) * 0.5 / phys::pi) + D;
  }
  const double factor = phys::two_pi / hout;
  *abserr_mdot = err * factor;
  return V * factor;
}
