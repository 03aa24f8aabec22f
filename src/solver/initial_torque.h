// The initial state: power-law surface density and the torque it implies.
#pragma once

#include <string>

struct gmodel;

// Initial surface density at radius r (cm), g/cm^2; normalised to mdisk between r_mass_in and r_mass_out.
double sigma_init_r(double r, gmodel* mod);

// Initial torque at the points x1[0..nbins-1] into F_init, without the ignition-zone cut.
void calc_F_init(gmodel* mod, int nbins, double* F_init, double* x1);

// Initial torque at x, zero outside [r_ign_in, r_ign_out].
double F_initial(double x, gmodel* mod);

// Tabulates the initial torque on the 99-point mesh, writes it to the file
// `name` (the run's "F_x_<NAME>.dat") and stores the profile in zero_interp.
void set_initial_F(gmodel* mod, const std::string& name);
