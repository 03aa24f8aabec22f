// The run's model as the exact solution sees it: the parameter file's
// quantities as the reader returned them.
#pragma once

#include <cstdio>

#include "exact/disc_model.h"

struct parameter_values;

// The exact solution's parameters of the values read (file units). In mode 2
// with a supply table the model gets the run's table (run_supply.h), so call
// it after the set-up has read it.
velmora::disc_parameters exact_parameters_of(const parameter_values& values);

// Prints "warning: <text>" on `stream` for each quantity of the model that
// looks like another unit (exact/plausibility.h), judged with the values as
// the parameter file gives them (texp 0: from kappa), and for a run without
// output times (NUM_TIME below 1).
void print_plausibility_warnings(FILE* stream, const parameter_values& values);
