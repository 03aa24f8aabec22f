// Every order of the viscosity law gives finite modes, rates, torques and
// masses: GSL's J_nu returns nan (as success) where its downward recurrence
// meets an exact zero of J_(nu - round(nu)), and for 0.5 <= l < 1.5 the
// modes' arguments are exactly such zeros. The orders below are ones where
// that happened; the sweep is dense enough to have met dozens of them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "exact/bessel_modes.h"
#include "exact/disc_model.h"

namespace {

using velmora::disc_model;
using velmora::disc_parameters;

// Orders where the modes held a nan before (some mode's J_l(z_i) was nan).
constexpr double REPORTED_ORDERS[] = {0.510256, 0.743005, 0.793396, 0.9890695, 0.702859976314623};

disc_parameters full_disc(double l) {
  disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 1e25;
  p.r_out_disk = 1e11;
  p.l = l;
  p.r_ign_in = 1e-4;
  p.r_ign_out = 1.0;
  p.sigma_index = -1.0;
  p.texp = 30.0;
  return p;
}

struct observed {
  double rate, mass, accreted, torque;
};

observed observe(const disc_model& d, double t_texp) {
  const double t = t_texp * d.texp_seconds();
  const double x = 1.0;  // the edge, where the modes' J_l(z_i) enters the torque directly
  observed o{};
  o.rate = d.mdot_in(t);
  d.disc_mass(&t, 1, &o.mass);
  d.accreted_mass(&t, 1, &o.accreted);
  d.torque(&x, 1, &t, 1, &o.torque);
  return o;
}

// At the reported orders, rate, torque and masses are finite at early and
// late times and continuous in l: the solution is smooth in the order, so a
// change of l by 1e-12 relative changes them by about as little (1e-8 leaves
// room for the sums' rounding and the zeros' last bits).
TEST(EveryOrder, ReportedOrdersGiveFiniteValuesContinuousInTheOrder) {
  for (double l : REPORTED_ORDERS) {
    const disc_model d(full_disc(l)), near(full_disc(l * (1.0 + 1e-12)));
    for (double t : {0.05, 0.3, 3.0}) {
      const observed a = observe(d, t), b = observe(near, t);
      for (auto [value, other, name] : {std::make_tuple(a.rate, b.rate, "rate"), std::make_tuple(a.mass, b.mass, "disc mass"),
                                        std::make_tuple(a.accreted, b.accreted, "accreted mass"),
                                        std::make_tuple(a.torque, b.torque, "edge torque")}) {
        ASSERT_TRUE(std::isfinite(value)) << name << " at l = " << l << ", t = " << t << " texp";
        EXPECT_NEAR(value, other, 1e-8 * std::fabs(other)) << name << " at l = " << l << ", t = " << t << " texp";
      }
    }
  }
}

// 100,000 orders over [0.1, 10] (step 9.9e-5, none of them round): the first
// eight modes' values, from which every rate, torque and mass is summed, are
// finite. Before, this sweep met a nan at 18 orders, all in [0.5, 1.5). Takes
// about 30 s of CPU (the zeros of J_(l-1) for each order).
TEST(EveryOrder, ModeValuesAreFiniteOverADenseSweepOfOrders) {
  constexpr int ORDERS = 100000;
  constexpr std::size_t MODES = 8;
  int bad = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < ORDERS; ++k) {
    const double l = velmora::MIN_ORDER + (velmora::MAX_ORDER - velmora::MIN_ORDER) * k / (ORDERS - 1.0);
    const velmora::order_modes order(l);
    const auto m = order.at_least(MODES);
    for (std::size_t i = 0; i < MODES; ++i) {
      if (!(std::isfinite(m->z[i]) && std::isfinite(m->J_edge[i]) && m->J_edge[i] != 0.0 &&
            std::isfinite(m->centre[i]) && std::isfinite(m->steady[i]))) {
        if (++bad <= 5) ADD_FAILURE() << "l = " << l << ": mode " << i << " z " << m->z[i] << " J_l(z) " << m->J_edge[i];
      }
    }
  }
  EXPECT_EQ(bad, 0);
  std::printf("%d orders in %.1f s\n", ORDERS,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// The public rate, torque and masses of a disc at early and late times, for
// 1,000 orders over [0.1, 10]: finite, and the rate not negative.
TEST(EveryOrder, RateTorqueAndMassesFiniteOverASweepOfOrders) {
  constexpr int ORDERS = 1000;
  for (int k = 0; k < ORDERS; ++k) {
    const double l = 0.1 + 9.9 * (k + 0.5137) / ORDERS;
    const disc_model d(full_disc(l));
    for (double t : {0.3, 3.0}) {
      const observed o = observe(d, t);
      ASSERT_TRUE(std::isfinite(o.rate) && std::isfinite(o.mass) && std::isfinite(o.accreted) && std::isfinite(o.torque))
          << "l = " << l << ", t = " << t << " texp";
    }
  }
}

}  // namespace
