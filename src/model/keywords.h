// The keywords of the parameter file, each spelt once. The reader's table
// (model/parameters.h) is built from these names, and every refusal, check
// and binding that names a keyword takes it from here, so that a keyword is
// renamed in one line. No dependencies: any layer may include it.
#pragma once

namespace keyword {

// The disc model.
inline constexpr char mass[] = "mass";                // g, central object
inline constexpr char mdisk[] = "mdisk";              // g, initial disc
inline constexpr char r_out_disk[] = "r_out_disk";    // cm, outer edge of the disc
inline constexpr char l[] = "l";                      // viscosity index
inline constexpr char r_ign_in[] = "r_ign_in";        // r_out_disk, inner edge of the initial matter
inline constexpr char r_ign_out[] = "r_ign_out";      // r_out_disk, outer edge of the initial matter
inline constexpr char sigma_index[] = "sigma_index";  // initial surface density ~ r^sigma_index
inline constexpr char texp[] = "texp";                // days, viscous time
inline constexpr char kappa[] = "kappa";              // cgs, viscosity constant
inline constexpr char flag_outer[] = "flag_outer";    // mode of the outer supply
inline constexpr char mdot_out[] = "mdot_out";        // g/s, constant outer supply
inline constexpr char supply_file[] = "supply_file";  // table of the outer supply

// The run.
inline constexpr char min_time[] = "MIN_TIME";  // texp, first output time
inline constexpr char max_time[] = "MAX_TIME";  // texp, last output time
inline constexpr char num_time[] = "NUM_TIME";  // number of output times
inline constexpr char save[] = "save";          // torque profile files
inline constexpr char name[] = "name";          // run name
inline constexpr char fast[] = "fast";          // torque from the series coefficients

}  // namespace keyword
