// The outer supply the solver reads: one supply history, handed to the
// solver by the driver at set-up (run/run_supply.h) and read for the rest of
// the run. The solver reaches it only through the model's two function
// pointers (table_supply_rate and table_supply_derivative when the supply is
// a table) and through the decayed memory of the supply series.
#pragma once

#include <memory>

#include "exact/supply_history.h"

struct gmodel;

// The run's supply history: none (flag_outer 0), constant(mdot_out) (1), the
// built-in law (2) or the table of supply_file (2). Before any set-up, none.
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
