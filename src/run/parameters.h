// Reading the parameter file.
#pragma once

#include <cstdio>

#include "output/fatal.h"

struct gmodel;

// Reads every "value # keyword" entry of IN into the record and the run
// settings, scales r_ign_in and r_ign_out by r_out_disk and texp from days
// to seconds, and closes IN.
// A file that cannot be read safely (a token of 600 characters or more, an
// integer outside the range of int) is refused: exit status 3.
void read_parameters(FILE* IN, gmodel* mod);

// The same scan, reporting a refusal instead of stopping: false with the
// reason in `why` (the destinations are then partly filled). Closes IN.
bool scan_parameters(FILE* IN, gmodel* mod, refusal_text& why);
