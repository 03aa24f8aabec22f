// Torque profile F(x, t) on the 99-point mesh, one file per output time.
#pragma once

struct gmodel;

// Writes "F_x<ti>.dat".
void save_F_t(double t, gmodel* mod, int ti);
