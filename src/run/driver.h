// The evolution driver: set-up of the model, then the run over the output times.
#pragma once

#include "model/parameter_values.h"
#include "run/validation.h"

struct gmodel;

// Reads the parameter file named in `filename`, derives the model constants,
// waits for return and writes the accretion-rate time series.
void evol_mdot_in(gmodel* mod);

// First half: parameter file, derived constants, evaluation radius,
// validation, key press. Returns the values the file gave.
parameter_values set_up_model(gmodel* mod);

// The original algorithm's record and run settings, filled once from the
// values read: radii in cm (r_ign_in and r_ign_out times r_out_disk), texp
// in s, the output times still in units of texp.
void fill_run_record(const parameter_values& values, gmodel* mod);

// The part of the set-up between the parameter file and the validation:
// derived constants, zero tables, supply law, output times in seconds and
// the evaluation radius, and the radius of the marginally stable orbit (cm)
// in *rms. Ends the process (status -1) for an order without a zero table.
void derive_model_constants(gmodel* mod, double* rms);

// Second half: data files and the loop over the output times.
void run_evolution(gmodel* mod, const parameter_values& values);
