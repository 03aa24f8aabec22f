// One-dimensional meshes, linear or logarithmic.
#pragma once

constexpr int MESH_LINEAR = 0;
constexpr int MESH_LOGARITHMIC = 1;

// Fills x[0 .. num_points-1] from x_min to x_max; flag MESH_LINEAR or
// MESH_LOGARITHMIC. Points are accumulated step by step. Fatal for 0 points
// (status 47), bounds closer than 1e-6 relative (48) or an unknown flag (49).
void make_mesh(double x_min, double x_max, int num_points, int flag, double* x);
