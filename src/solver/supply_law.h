// The time law of the outer mass supply (flag_outer 2).
#pragma once

// Supply rate at time tau (s), g/s.
double mdot_out_m94(double tau);

// Its time derivative at tau, g/s^2.
double d_mdot_out_d_t_m94(double tau);
