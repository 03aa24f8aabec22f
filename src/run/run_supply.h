// The outer supply of the run: one supply history, built at set-up for every
// outer-boundary mode and handed down to the solver (solver/supply_source.h),
// which reads it for the rest of the run.
#pragma once

#include <memory>
#include <string>

#include "solver/supply_source.h"

struct gmodel;

// Builds the run's supply history for the model's mode and, with flag_outer 2
// and supply_file given, reads the table (a relative name from the folder of
// the parameter file named in `filename`) and installs it as the supply law.
// False with the reason in `why` ("Invalid supply_file: <file>:<line>: ...")
// for a table that cannot be used (the file name is not cut short).
bool prepare_run_supply(gmodel* mod, std::string* why);

// The run's data-file name in the current folder that is the model's supply
// table (the same file under any name); empty when there is none or no table.
std::string data_file_over_supply_table(const gmodel* mod);

// The same as prepare_run_supply, refusing the model (exit status 3)
// instead, and stopping with code 100 when a data file of the run would
// overwrite the table; prints the table's name and size on the console.
void install_run_supply(gmodel* mod);
