// The viscous torque F(x, t).
//
// The initial torque is propagated by the Green's function in one adaptive
// integral over the source point x1 from MINX a to the outer edge:
//
//   F(x, t) = int F0(x1) G(x, t, x1) dx1                     (flag_outer 0)
//
// With matter supplied at the outer edge the integral propagates F0 less the
// steady profile Q(x1, M0) = M0 hout xi1^2 / (4 pi) of the initial supply
// rate M0, and the steady profile of the current rate is added afterwards:
//   flag_outer 1, constant rate mdot_out: the integrand also carries the
//     constant source, a weight times the time-integrated Green's function
//     (interpolated from the per-integral table of the source convolution);
//   flag_outer 2, supply law accr_out(t): the delayed response is the Bessel
//     series of the supply history, x^l hout / (2 pi a^2) * sum_time_int.
// Any other mode is refused before anything is integrated.
//
// F_xi_t is the same function of xi = x^(2l), the variable in which the
// accretion rate is a slope. Radial integrals use the 15-point Gauss-Kronrod
// rule with relative tolerance PRECISION; one that gives up is retried, and
// if the retry fails too the torque is NaN, a gap the run reports
// (numerics/quadrature.h). Units: CGS (F in g cm^2 s^-2).
// Callers: the accretion rate (five F_xi_t per output time) and the snapshots.
#include "solver/torque.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gsl/gsl_math.h>

#include "model/constants.h"
#include "model/gmodel.h"
#include "model/integrand_records.h"
#include "model/settings.h"
#include "numerics/quadrature.h"
#include "output/fatal.h"
#include "solver/green.h"
#include "solver/initial_torque.h"
#include "solver/node_prefetch.h"
#include "solver/series_rate.h"
#include "solver/source_convolution.h"
#include "solver/supply_series.h"

namespace {

// Upper end of the radial integral: the outer edge, where x = a = 1.
constexpr double OUTER_EDGE_X = 1.0;

[[noreturn]] void stop_invalid_event() {
  std::printf("Invalid event in F_x_t(). Exit\n");
  std::exit(exit_status::invalid_model);
}

bool valid_outer_mode(int flag_outer) { return flag_outer == 0 || flag_outer == 1 || flag_outer == 2; }

// The radial integral's retry (only after GSL gave up on it) splits the
// range where the integrand is not smooth: at the edges of the initial
// matter, where F0 jumps, and at the field point, where the Green's function
// of an early time peaks narrowly. x of a radius r: r = r_out_vis x^(4l).
double ignition_edge_x(double r, const gmodel* mod) { return std::pow(r / mod->r_out_vis, 0.25 / mod->l); }

// Where the torque at the field point is below this fraction of the initial
// torque's integral, the Green's function there is a sum of terms of order 1
// cancelling to the last digits (measured: 1e-14 of the integrand's scale,
// as noise), and the integral is taken to that absolute accuracy instead of
// the relative one: 1e4 above the noise, far below any torque that shows in
// the accretion rate.
constexpr double TORQUE_NOISE_FLOOR = 1e-10;

double abs_initial_torque(double x1, void* p) { return std::fabs(F_initial(x1, static_cast<gmodel*>(p))); }

// int |F0(x1)| dx1 over the initial matter inside the radial range.
double initial_torque_scale(gmodel* mod) {
  const double lo = std::max(mod->a * MINX, ignition_edge_x(mod->r_ign_in, mod));
  const double hi = std::min(OUTER_EDGE_X, ignition_edge_x(mod->r_ign_out, mod));
  if (!(hi > lo)) return 0.0;
  gsl_function f;
  f.function = &abs_initial_torque;
  f.params = mod;
  double value = 0.0;
  double error = 0.0;
  if (integrate_qag_to(&f, lo, hi, 0.0, PRECISION, INTEGRATION_KEY, &value, &error) != 0) return 0.0;
  return value;
}

}  // namespace

double F_x_t(double x, double t, gmodel* mod) {
  std::printf("\nCalculate F_x_t at x=%.3f t=%.4f\n", x, t);
  if (!valid_outer_mode(mod->flag_outer)) stop_invalid_event();
  mod->have_integral = 0;
  mod->flag_green = 1;
  if (fast >= 1) return series_torque(x, t, mod);

  my_Green_params params{t, x, mod};
  gsl_function F;
  F.function = &integrant;
  F.params = &params;
  begin_radial_prefetch(mod->a * MINX, OUTER_EDGE_X, x, t, mod);
  const rescued_integral radial = integrate_qag_rescued(
      &F, mod->a * MINX, OUTER_EDGE_X, {ignition_edge_x(mod->r_ign_in, mod), ignition_edge_x(mod->r_ign_out, mod), x},
      [mod] { return TORQUE_NOISE_FLOOR * initial_torque_scale(mod); });
  if (radial.status != 0) return NAN;  // a gap: counted by the quadrature, reported by the run
  const double I = radial.value;

  const double hout = hout_of(mod);
  switch (mod->flag_outer) {
    case 0:
      return I;
    case 1:
      return std::pow(x, 4.0 * mod->l) * (mod->mdot_out * 0.5 / phys::pi) * hout * 0.5 + I;
    case 2: {
      const double dotMout = mod->accr_out(t);
      const double Px = std::pow(x, mod->l) * hout * 0.5 / phys::pi / (mod->a * mod->a);
      const double S = sum_time_int(x, t, mod);
      const double I2 = Px * S + I;
      return std::pow(x, 4.0 * mod->l) * (dotMout * 0.5 / phys::pi) * hout * 0.5 + I2;
    }
    default:
      stop_invalid_event();
  }
}

double F_xi_t(double xi, void* p) {
  const auto* params = static_cast<const my_Green_params2*>(p);
  const double x = std::pow(xi, 0.5 / params->mod->l);
  return F_x_t(x, params->t, params->mod);
}

double integrant(double x1, void* p) {
  const auto* params = static_cast<const my_Green_params*>(p);
  const double t = params->t;
  const double x = params->x1;
  gmodel* mod = params->mod;
  radial_node_seen(x1);

  const double initial_F = F_initial(x1, mod);
  const double green = Green_x_x1_t(x, t, x1, mod);
  switch (mod->flag_outer) {
    case 0:
      return initial_F * green;
    case 1: {
      const double hout = hout_of(mod);
      const double xi1 = std::pow(x1, 2.0 * mod->l);
      const double rate = mod->mdot_out * 0.5 / phys::pi;
      const double l_over_kappa = mod->l / mod->kappa;
      const double W = (l_over_kappa * l_over_kappa) * 4.0 * rate * std::pow(hout, 1.0 - 1.0 / mod->l) *
                       std::pow(x1, 4.0 * mod->l - 2.0);
      return (initial_F - 0.5 * xi1 * xi1 * rate * hout) * green +
             W * get_value_integral_green_over_tau(x, x1, t, mod, 1.0);
    }
    case 2: {
      const double hout = hout_of(mod);
      const double xi1 = std::pow(x1, 2.0 * mod->l);
      const double dotMout0 = mod->accr_out(0.0);
      return (initial_F - xi1 * 0.5 * xi1 * (dotMout0 * 0.5 / phys::pi) * hout) * green;
    }
    default:
      stop_invalid_event();
  }
}
