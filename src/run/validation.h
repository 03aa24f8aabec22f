// Refusal of models that cannot give meaningful numbers.
#pragma once

#include "output/fatal.h"

struct gmodel;
struct parameter_values;

// Refuses (exit status 3, "Invalid model: l = ... must lie in [0.1, 10] ...")
// a viscosity index outside the orders the Bessel series is built for, NaN
// included. Called before the zeros of the order are computed.
void validate_order(const gmodel* mod);
bool check_order_of_model(const gmodel* mod, refusal_text& why);

// Checks the set-up model; refuses it (exit status 3, one line
// "Invalid model: ..." naming the keyword and its value) when the run name
// cannot name a file of the current folder (run_files.h), the order is out
// of range (as validate_order), the exact solution refuses the model's
// quantities (velmora::check_parameters: the same words as the module's),
// a supply_file is given in a mode other than 2, the output times are
// undefined or overflow in seconds (velmora::check_output_times), or the
// original algorithm's initial torque overflows on its mesh. `values` are
// the parameter file's, the record is the set-up's.
void validate_model(gmodel* mod, const parameter_values& values);

// The same checks, reporting a refusal instead of stopping: false with the reason in `why`.
bool check_model(gmodel* mod, const parameter_values& values, refusal_text& why);
