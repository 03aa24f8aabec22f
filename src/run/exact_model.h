// The run's model as the exact solution sees it: the parameter file's
// quantities, read back from the model record after the set-up.
#pragma once

#include <cstdio>

#include "exact/disc_model.h"

struct gmodel;

// The record's radii are in cm and texp in s after the set-up; the exact
// solution takes them in the parameter file's units (radii in units of
// r_out_disk, texp in days). In mode 2 with a supply table the model gets
// the run's table (run_supply.h), so call it after the set-up has read it.
velmora::disc_parameters exact_parameters_of(const gmodel* mod);

// Prints "warning: <text>" on `stream` for each quantity of the set-up model
// that looks like another unit (exact/plausibility.h), judged with texp
// (days) and kappa as the parameter file gives them (texp 0: from kappa).
void print_plausibility_warnings(FILE* stream, const gmodel* mod, double texp_days, double kappa);
