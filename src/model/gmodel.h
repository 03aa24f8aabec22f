// The model record: the whole state of one disc model.
//
// main() owns the single record; every function receives it as gmodel* mod.
// Radii are in cm, masses in g, times in s. The solver works in the
// dimensionless radius x with r = r_out_vis * x^(4l), so x = a = 1 at the
// outer edge; xi = x^(2l) and the specific angular momentum is h = hout * xi
// with hout = sqrt(G * mass * r_out_vis). The viscosity law is
// nu = nu0 * r^b with b = 2 - 0.5/l.
//
// A value-initialised record (gmodel mod{}) has every field 0 and both
// supply-law pointers null.
#pragma once

#include <array>
#include <cmath>

#include "model/constants.h"
#include "model/settings.h"

// Outer supply law: rate (g/s) or its derivative (g/s^2) as a function of time (s).
using supply_law = double (*)(double);

struct gmodel {
  double mass;         // central mass, g
  double mdisk;        // mass of the initial disc, g
  double mdot_out;     // constant outer supply rate of mode 1, g/s
  double r_out_disk;   // outer disc radius, cm; unit of r_ign_in, r_ign_out, r_inner_dotM in the file
  double r_out_vis;    // radius where x = a, cm (copy of r_out_disk)
  double l;            // index of the viscosity law; order of the Bessel series
  int len;             // terms of the Bessel series
  double a;            // outer boundary of x (1)
  double kappa;        // viscosity constant in the angular-momentum variable, cgs
  double nu0;          // coefficient of nu = nu0 r^b, cgs
  double texp;         // viscous time: e-folding time of the first Bessel mode, s
  std::array<double, MAX_SERIES_TERMS> zeroes;   // positive zeros of J_(l-1)
  std::array<double, MAX_SERIES_TERMS> constl1;  // first coefficient table of the outer-supply series
  std::array<double, MAX_SERIES_TERMS> constl2;  // second coefficient table of the outer-supply series
  int flag_initial;    // carried, unused
  int flag_outer;      // outer boundary: 0 no supply, 1 constant mdot_out, 2 supply law accr_out
  int calcgflag;       // carried, unused
  int have_integral;   // 1 while green_int_over_t_x is valid for the current x and t
  int flag_green;      // 2: the Green's function returns its xi-derivative; else its series value
  double init_disk_part;  // 1.0; reported in the header
  double tmax1;        // carried, unused
  double r_ign_in;     // inner radius of the initial matter (ignition zone), cm
  double r_ign_out;    // outer radius of the initial matter, cm
  double r_mass_out;   // outer bound of the initial surface-density law, cm
  double r_mass_in;    // inner bound of the initial surface-density law, cm
  double sigma_index;  // power-law index of the initial surface density
  std::array<double, NUM_COOR> zero_interp;         // initial torque on the 99-point mesh
  std::array<double, NUM_COOR> green_int_over_t_x;  // time-integral table on the 50-point source mesh (0..49 used)
  std::array<double, NUM_COOR> F_stage_one;         // carried, unused
  double rise_alpha_disk_part;  // carried, unused
  double alpha_rise;            // carried, unused
  supply_law accr_out;          // outer supply rate, g/s, as a function of time (mode 2)
  supply_law d_accr_out_d_t;    // its time derivative, g/s^2 (mode 2)
};

// Specific angular momentum at the outer edge x = a: sqrt(G mass r_out_vis), cm^2/s.
inline double hout_of(const gmodel* mod) { return std::sqrt(phys::G * mod->mass * mod->r_out_vis); }
