// Mesh builder: x[i] from the lower to the upper bound, evenly spaced
// (linear) or by a constant ratio (logarithmic). The points are accumulated
// step by step, x_(i+1) = x_i + dx or x_i * q, so the last point equals the
// upper bound only up to rounding (0.001 .. 1 in 99 points ends at
// 1.0000000000000004). Callers: the initial profile, the snapshots and the
// source-point table, all linear over x from MINX*a to a.
#include "tables/mesh.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "output/fatal.h"

namespace {

constexpr double CLOSENESS = 1e-6;  // smallest relative gap between the bounds

[[noreturn]] void stop(const char* message, int status) {
  std::puts(message);
  std::exit(status);
}

}  // namespace

void make_mesh(double x_min, double x_max, int num_points, int flag, double* x) {
  if (num_points == 0) stop("Error in make_mesh(). Number of points should not be 0.\n      Exit.", exit_status::mesh_no_points);
  if (num_points == 1) {
    x[0] = x_min;
    return;
  }
  if (std::fabs((x_max - x_min) / x_max) < CLOSENESS || (x_max == 0.0 && x_min == 0.0))
    stop("Error in make_mesh(). Lower and higher boundary are too close\n         to each other. Exit.",
         exit_status::mesh_bounds);
  if (x_min > x_max) std::swap(x_min, x_max);

  const double dx_lin = (x_max - x_min) / (num_points - 1);
  const double dx_log = std::pow(x_max / x_min, 1.0 / (num_points - 1));
  if (num_points < 0) return;

  if (flag != MESH_LINEAR && flag != MESH_LOGARITHMIC) {
    std::printf("Error in x_mesh()/simpson.\n\t     flag=%.2f, must be 0 or 1. Exit.\n", static_cast<double>(flag));
    std::exit(exit_status::mesh_flag);
  }
  double x_ = x_min;
  for (int i = 0; i < num_points; ++i) {
    x[i] = x_;
    x_ = flag == MESH_LINEAR ? x_ + dx_lin : x_ * dx_log;
  }
}
