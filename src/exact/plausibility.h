// Plausibility of a model's quantities: values that are valid but look like
// another unit than the parameter file's (solar masses for grams, km for cm,
// seconds for days). Warnings, never refusals: an unusual disc stays
// computable.
//
// Pure and re-entrant: no globals, no console; never throws for any input.
#pragma once

#include <string>
#include <vector>

#include "exact/disc_model.h"

namespace velmora {

// Below or above these a value more likely has another unit.
constexpr double PLAUSIBLE_MASS_MIN = 1e30;        // g: 5e-4 solar masses, below any compact object
constexpr double PLAUSIBLE_MDISK_MIN = 1e10;       // g: a disc of a small asteroid's mass; 0 (no disc) is fine
constexpr double PLAUSIBLE_R_OUT_DISK_MIN = 1e8;   // cm: 1000 km, inside a white dwarf
constexpr double PLAUSIBLE_TEXP_MAX = 1e4;         // days: 27 years for the e-folding of the first mode
constexpr double PLAUSIBLE_TEXP_MIN = 1e-4;        // days: 8.6 s (only for texp derived from kappa)
constexpr double PLAUSIBLE_MDOT_OUT_MIN = 1e5;     // g/s: 3e-21 solar masses per year; 0 (no supply) is fine
constexpr double PLAUSIBLE_R_IGN_OUT_MAX = 2.0;    // r_out_disk: the initial matter ends at the disc's edge

// One text per quantity that looks like another unit, in the parameter
// file's keyword order: "<keyword> = <value> <unit> <what it looks like>;
// <the likely meant value>". Empty for a plausible model. Quantities the
// model refuses (not finite, negative) are left to its checks.
std::vector<std::string> plausibility_warnings(const disc_parameters& p);

}  // namespace velmora
