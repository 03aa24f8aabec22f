// Refusal of models that cannot give meaningful numbers.
#pragma once

struct gmodel;

// The output-time range as written in the parameter file, units of texp.
struct time_range_in_file {
  double min_time;
  double max_time;
};

// Checks the set-up model; refuses it (exit status 3, one line naming the
// keyword and its value) when the outer-boundary mode is unknown or lacks
// its coefficient tables, a mass, radius or derived constant is not finite
// and positive, the log-spaced output times are undefined, or the initial
// surface density cannot be normalised.
void validate_model(const gmodel* mod, time_range_in_file times);
