// The time law of the outer mass supply (flag_outer 2) and its derivative.
//
// The rate starts at 1e18 g/s and decays as exp(-tau / texp_m94). At
// t2 = 2 texp_m94 (60 days) it sits on a second exponential of four times
// the amplitude; the step between the two is a linear ramp over the day
// before t2, from the first exponential's value at t1 = t2 - 1 day to the
// second's at t2, so the rate is continuous. The ramp includes t1 and
// excludes t2. Times in s since the start of the evolution, rates in g/s,
// derivatives in g/s^2.
//
// Both functions are stateless and read texp_m94 on every call. The set-up
// installs them as gmodel::accr_out and gmodel::d_accr_out_d_t; the solver
// calls them only through those pointers. A NaN time gives NaN.
#include "solver/supply_law.h"

#include <cmath>

#include "model/constants.h"
#include "model/settings.h"

namespace {

constexpr double EARLY_AMPLITUDE = 1e18;  // g/s, rate of the first exponential at tau = 0
constexpr double LATE_AMPLITUDE = 4e18;   // g/s, amplitude of the exponential after the ramp
constexpr double RAMP_LENGTH = 1.0 * phys::seconds_per_day;  // s

struct ramp {
  double t1;     // start of the ramp, s
  double t2;     // end of the ramp, s
  double Mdot1;  // first exponential at t1, g/s
  double Mdot2;  // second exponential at t2, g/s
};

ramp current_ramp() {
  ramp r{};
  r.t2 = 2.0 * texp_m94;
  r.t1 = r.t2 - RAMP_LENGTH;
  r.Mdot1 = EARLY_AMPLITUDE * std::exp(-r.t1 / texp_m94);
  r.Mdot2 = LATE_AMPLITUDE * std::exp(-r.t2 / texp_m94);
  return r;
}

// (t2 - t1) is computed, not taken as RAMP_LENGTH: the slope follows the
// endpoints actually used.
double ramp_slope(const ramp& r) { return (r.Mdot2 - r.Mdot1) / (r.t2 - r.t1); }

}  // namespace

double mdot_out_m94(double tau) {
  const ramp r = current_ramp();
  if (tau >= r.t2) return LATE_AMPLITUDE * std::exp(-tau / texp_m94);
  if (tau >= r.t1) return r.Mdot1 + ramp_slope(r) * (tau - r.t1);
  return EARLY_AMPLITUDE * std::exp(-tau / texp_m94);
}

double d_mdot_out_d_t_m94(double tau) {
  const ramp r = current_ramp();
  if (tau >= r.t1 && tau < r.t2) return ramp_slope(r);
  if (tau >= r.t2) return -(LATE_AMPLITUDE / texp_m94) * std::exp(-tau / texp_m94);
  return -(EARLY_AMPLITUDE / texp_m94) * std::exp(-tau / texp_m94);
}
