// The evolution driver: set-up of the model, then the run over the output times.
#pragma once

#include "run/validation.h"

struct gmodel;

// Reads the parameter file named in `filename`, derives the model constants,
// waits for return and writes the accretion-rate time series.
void evol_mdot_in(gmodel* mod);

// First half: parameter file, derived constants, evaluation radius, validation, key press.
void set_up_model(gmodel* mod);

// The part of the set-up between the parameter file and the validation:
// derived constants, zero tables, supply law, output times in seconds and
// the evaluation radius. Returns the output-time range as the file gave it
// (units of texp) and the radius of the marginally stable orbit (cm) in *rms.
// Ends the process (status -1) for an order without a zero table.
time_range_in_file derive_model_constants(gmodel* mod, double* rms);

// Second half: data files and the loop over the output times.
void run_evolution(gmodel* mod);
