// Torque profile F(x, t) on the 99-point mesh, one file per output time.
#pragma once

#include <string>

struct gmodel;

// Writes the torque profile at time t (s) to the file `name` (the run's "F_x<ti>.dat").
void save_F_t(double t, gmodel* mod, const std::string& name);
