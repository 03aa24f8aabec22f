// The outer supply of the run: one supply history, built at set-up for every
// outer-boundary mode and read by the solver for the rest of the run.
#pragma once

#include <memory>
#include <string>

#include "exact/supply_history.h"

struct gmodel;

// The run's supply history: none (flag_outer 0), constant(mdot_out) (1), the
// built-in law (2) or the table of supply_file (2). Set at set-up, read-only
// during the run; before any set-up, none.
const velmora::supply_history& run_supply();

// The same history, shared: what the exact solution of column 5 is handed.
std::shared_ptr<const velmora::supply_history> shared_run_supply();

// Replaces the run's supply history (set-up and tests only: never while a run computes).
void set_run_supply(velmora::supply_history supply);

// Changes with every set_run_supply: the key of what is cached from the supply.
unsigned long run_supply_version();

// The run's supply rate (g/s) and its derivative (g/s^2) at time t (s): the
// supply law the solver reaches through gmodel::accr_out and d_accr_out_d_t
// when the supply comes from a table.
double table_supply_rate(double t);
double table_supply_derivative(double t);

// True when the model's supply law is the run's table.
bool supply_from_table(const gmodel* mod);

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
