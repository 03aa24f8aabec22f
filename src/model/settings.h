// Run settings and numerical knobs of velmora.
//
// The upper-case settings are the run's constants: the driver fills
// MIN_TIME, MAX_TIME, NUM_TIME, save, fast, NAME and SUPPLY_FILE once from
// the values the parameter file gave (run/driver.h, fill_run_record); the set-up fills r_inner_dotM
// and rescales the two times to seconds. PRECISION and MINX never change.
// Every other number that steers the numerics is named here, once.
#pragma once

#include <array>
#include <cstddef>

#include "model/supply_law.h"

// ---- fixed numerical settings ---------------------------------------------
constexpr double PRECISION = 0.001;  // relative tolerance of every adaptive integral; step of the numerical derivatives
constexpr double MINX = 0.001;       // smallest x as a fraction of a: lower end of radial integrals and meshes

constexpr int NUM_COOR = 99;             // points of the radial mesh of the torque profiles
constexpr int SOURCE_MESH_POINTS = 50;   // points of the source-point mesh of the time-integral table
constexpr double ACCUX = 0.0001;         // reported in the header only
constexpr int SERIES_LENGTH = 50;        // terms of the Bessel series used by a run
constexpr int LATE_SERIES_TERMS = 5;     // terms summed once t > texp
constexpr int MAX_SERIES_TERMS = 200;    // room in the model record's series tables
constexpr std::size_t INTEGRATION_LIMIT = 1000;  // workspace size and subdivision limit of every adaptive integral
constexpr int INTEGRATION_KEY = 1;       // GSL_INTEG_GAUSS15: 15-point Gauss-Kronrod rule
constexpr double DERIVATIVE_SWITCH_X = 0.001;  // at or below this x the xi-derivative is a forward difference
constexpr double EVALUATION_RADIUS_MARGIN = 1.01;  // evaluation radius = margin * innermost mesh radius

// Projections of the initial torque on the Bessel modes (the series rate):
// 61-point Gauss-Kronrod rule, relative tolerance 1e-10, and an absolute
// floor of 1e-13 times the integral of the integrand's bound |f| x^(1-l).
constexpr int PROJECTION_KEY = 6;  // GSL_INTEG_GAUSS61
constexpr double PROJECTION_EPSREL = 1e-10;
constexpr double PROJECTION_FLOOR = 1e-13;
constexpr double PROJECTION_BOUND_EPSREL = 1e-6;  // the bound itself needs only this

// Abscissae in xi of the least-squares fit of the inner accretion rate.
constexpr std::array<double, 5> FIT_XI = {0.05, 0.07, 0.09, 0.11, 0.13};

// Text buffers: names hold at most 599 characters and the terminating NUL.
constexpr std::size_t NAME_CAPACITY = 600;
constexpr std::size_t REGISTRY_CAPACITY = 6000;

// ---- run settings (globals) -----------------------------------------------
extern double r_inner_dotM;  // evaluation radius, units of r_out_disk
extern double MAX_TIME;      // last output time: units of texp in the file, s after set-up
extern double MIN_TIME;      // first output time: units of texp in the file, s after set-up
extern int NUM_TIME;         // number of output times
extern std::array<char, NAME_CAPACITY> filename;  // parameter-file name of the run
extern std::array<char, NAME_CAPACITY> NAME;      // run name, part of every data-file name
extern std::array<char, NAME_CAPACITY> SUPPLY_FILE;  // table of the outer supply for flag_outer 2; empty: the built-in law
extern int save;             // 1 or more: a torque profile per output time
extern int fast;             // 1 or more: every torque value from the series coefficients, no radial integral
extern double texp_m94;      // time constant of the outer supply law, s (30 days)
extern int check_only;       // 1 under velmora --check: the set-up is judged, nothing computed; tables stay quiet
constexpr double SUPPLY_TIME_START = builtin_supply::TIME_CONSTANT;  // start value of texp_m94: 30 days

// ---- utility globals --------------------------------------------------------
extern std::array<char, NAME_CAPACITY> __filename;         // file being opened
extern std::array<char, REGISTRY_CAPACITY> __outfilenames;  // registry of every file opened so far
extern int verbose;                                          // declared for completeness; unused

// Puts every run setting and utility global back to its start value (for a
// second run in one process: the tests and the fuzzer).
void reset_run_settings();
