// The built-in law of the outer mass supply (flag_outer 2 without a table).
//
// The rate starts at 1e18 g/s and decays as exp(-t / T), T the law's time
// constant (30 days). At t2 = 2 T it sits on a second exponential of four
// times the amplitude; the step between the two is a linear ramp over the
// day before t2, from the first exponential's value at t1 = t2 - 1 day to the
// second's at t2, so the rate is continuous. The ramp includes t1 and
// excludes t2. Times in s since the start of the evolution, rates in g/s,
// derivatives in g/s^2; a NaN time gives NaN.
//
// The one statement of the law: the original algorithm evaluates it pointwise
// (solver/supply_law.h), the exact solution builds its pieces from the same
// ramp (exact/supply_history.h).
#pragma once

#include <cmath>

#include "model/constants.h"

namespace builtin_supply {

constexpr double EARLY_AMPLITUDE = 1e18;  // g/s, rate of the first exponential at t = 0
constexpr double LATE_AMPLITUDE = 4e18;   // g/s, amplitude of the exponential after the ramp
constexpr double TIME_CONSTANT = 30.0 * phys::seconds_per_day;  // s
constexpr double RAMP_LENGTH = 1.0 * phys::seconds_per_day;     // s

// The ramp of a law of time constant T (s).
struct ramp {
  double t1;     // start of the ramp, s
  double t2;     // end of the ramp, s
  double rate1;  // first exponential at t1, g/s
  double rate2;  // second exponential at t2, g/s
  // (t2 - t1) is computed, not taken as RAMP_LENGTH: the slope follows the
  // endpoints actually used. g/s^2
  double slope() const { return (rate2 - rate1) / (t2 - t1); }
};

inline ramp ramp_of(double T) {
  ramp r{};
  r.t2 = 2.0 * T;
  r.t1 = r.t2 - RAMP_LENGTH;
  r.rate1 = EARLY_AMPLITUDE * std::exp(-r.t1 / T);
  r.rate2 = LATE_AMPLITUDE * std::exp(-r.t2 / T);
  return r;
}

// The rate at time t (s) of the law of time constant T (s), g/s.
inline double rate(double t, double T) {
  const ramp r = ramp_of(T);
  if (t >= r.t2) return LATE_AMPLITUDE * std::exp(-t / T);
  if (t >= r.t1) return r.rate1 + r.slope() * (t - r.t1);
  return EARLY_AMPLITUDE * std::exp(-t / T);
}

// Its time derivative, g/s^2.
inline double derivative(double t, double T) {
  const ramp r = ramp_of(T);
  if (t >= r.t1 && t < r.t2) return r.slope();
  if (t >= r.t2) return -(LATE_AMPLITUDE / T) * std::exp(-t / T);
  return -(EARLY_AMPLITUDE / T) * std::exp(-t / T);
}

}  // namespace builtin_supply
