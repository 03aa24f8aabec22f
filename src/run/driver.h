// The evolution driver: set-up of the model, then the run over the output times.
#pragma once

struct gmodel;

// Reads the parameter file named in `filename`, derives the model constants,
// waits for return and writes the accretion-rate time series.
void evol_mdot_in(gmodel* mod);

// First half: parameter file, derived constants, evaluation radius, validation, key press.
void set_up_model(gmodel* mod);

// Second half: data files and the loop over the output times.
void run_evolution(gmodel* mod);
