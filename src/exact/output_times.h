// The output times of a run: NUM_TIME times spaced logarithmically from
// MIN_TIME to MAX_TIME, t_i = MIN_TIME step^i with
// step = (MAX_TIME / MIN_TIME)^(1 / (NUM_TIME - 1)), each computed from
// MIN_TIME rather than by repeated multiplication. The program writes its
// rows at these times; the module and the tools ask for the same ones.
#pragma once

#include <vector>

namespace velmora {

// Refuses (invalid_parameter naming MIN_TIME or MAX_TIME) output times a run
// cannot have: with NUM_TIME >= 1 the first must be finite and positive, with
// NUM_TIME >= 2 the last too, and both stay finite once multiplied by the
// viscous time texp_seconds (s). min_time and max_time are in units of texp.
void check_output_times(double min_time, double max_time, int num_time, double texp_seconds);

// The times (s) from min_time_s to max_time_s (s); none for num_time <= 0.
std::vector<double> output_times(double min_time_s, double max_time_s, int num_time);

}  // namespace velmora
