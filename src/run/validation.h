// Refusal of models that cannot give meaningful numbers.
#pragma once

#include "output/fatal.h"

struct gmodel;

// The output-time range as written in the parameter file, units of texp.
struct time_range_in_file {
  double min_time;
  double max_time;
};

// Checks the set-up model; refuses it (exit status 3, one line naming the
// keyword and its value) when the outer-boundary mode is unknown or lacks
// its coefficient tables, a mass, radius or derived constant is not finite
// and positive, the log-spaced output times are undefined or overflow in seconds, or the initial
// surface density cannot be normalised or the initial torque overflows.
void validate_model(gmodel* mod, time_range_in_file times);

// The same checks, reporting a refusal instead of stopping: false with the reason in `why`.
bool check_model(gmodel* mod, time_range_in_file times, refusal_text& why);
