// Refusal of models that cannot give meaningful numbers.
#pragma once

#include "output/fatal.h"

struct gmodel;

// The output-time range as written in the parameter file, units of texp.
struct time_range_in_file {
  double min_time;
  double max_time;
};

// Refuses (exit status 3, "Invalid model: l = ... must lie in [0.1, 10] ...")
// a viscosity index outside the orders the Bessel series is built for, NaN
// included. Called before the zeros of the order are computed.
void validate_order(const gmodel* mod);
bool check_order_of_model(const gmodel* mod, refusal_text& why);

// Checks the set-up model; refuses it (exit status 3, one line naming the
// keyword and its value) when the run name cannot name a file of the
// current folder (run_files.h), the outer-boundary mode is unknown, a
// supply_file is given in a mode other than 2, the order is out of range (as
// validate_order), a mass, radius or derived constant is not finite
// and positive, the log-spaced output times are undefined or overflow in seconds, or the initial
// surface density cannot be normalised or the initial torque overflows.
void validate_model(gmodel* mod, time_range_in_file times);

// The same checks, reporting a refusal instead of stopping: false with the reason in `why`.
bool check_model(gmodel* mod, time_range_in_file times, refusal_text& why);
