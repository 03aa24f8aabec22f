// The values of a parameter file: the disc model's quantities in the file's
// units and the settings of the run, as the reader returns them.
//
// A value-initialised record (parameter_values v{}) is what a file without
// entries gives: every number 0 and every text empty.
#pragma once

#include <array>

#include "model/settings.h"

struct parameter_values {
  // The disc model.
  double mass;         // g, central mass
  double mdisk;        // g, initial disc mass between r_ign_in and r_out_disk
  double r_out_disk;   // cm, outer radius of the disc
  double l;            // viscosity index
  double r_ign_in;     // units of r_out_disk, inner edge of the initial matter
  double r_ign_out;    // units of r_out_disk, outer edge of the initial matter
  double sigma_index;  // initial surface density ~ r^sigma_index
  double texp;         // days, viscous time; 0: from kappa
  double kappa;        // cgs, viscosity constant, used when texp is 0
  int flag_outer;      // outer supply: 0 none, 1 constant mdot_out, 2 supply law
  double mdot_out;     // g/s, constant supply of flag_outer 1
  std::array<char, NAME_CAPACITY> supply_file;  // table of the supply of flag_outer 2; empty: the built-in law
  // The run.
  double min_time;  // texp, first output time
  double max_time;  // texp, last output time
  int num_time;     // number of output times
  int save;         // 1: a torque profile file per output time
  int fast;         // 1: every torque value from the series coefficients
  std::array<char, NAME_CAPACITY> name;  // run name, part of every data-file name
};
