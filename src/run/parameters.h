// Reading the parameter file.
#pragma once

#include <cstdio>

struct gmodel;

// Reads every "value # keyword" entry of IN into the record and the run
// settings, scales r_ign_in and r_ign_out by r_out_disk and texp from days
// to seconds, and closes IN.
void read_parameters(FILE* IN, gmodel* mod);
