// velmora --check FILE: reads a parameter file as a run would and judges the
// set-up, without computing or writing anything.
#pragma once

// Prints, on standard output and in this order:
//   "# ..." comment lines naming the sections;
//   one line "keyword = value unit" per keyword of the reader's table, with
//     the value the run uses, in the unit of the parameter file (reals as
//     %.17g, so they read back to the same double; an empty name as "");
//     texp and kappa are the values of the set-up (one is derived from the other);
//   the derived constants, "name = value unit" (when the model got that far);
//   "warning: FILE line N: text" for every entry the reader drops;
//   "verdict: ok", or "verdict: refused (status S): reason".
// Returns the exit status: 0, or the status the run would stop with (3 for
// a refused model, 100 for a data file of the run that is the parameter
// file). A parameter file that cannot be opened or read stops as in a run
// (status 100).
int check_parameter_file(const char* name);
