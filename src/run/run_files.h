// The names of a run's data files, and what keeps them where they belong.
//
// A run writes only into the current folder: its rate file
// "mdotin_<NAME>.dat", its initial profile "F_x_<NAME>.dat" and, with
// `save`, one snapshot "F_x<i>.dat" per output time. The run name is
// therefore a plain file-name part, and no data file may be the parameter
// file the run was read from.
#pragma once

#include <string>

#include <sys/stat.h>

#include "output/fatal.h"

std::string rate_file_name();            // "mdotin_<NAME>.dat"
std::string initial_profile_name();      // "F_x_<NAME>.dat"
std::string snapshot_name(int ti);       // "F_x<ti>.dat"

// Refuses a run name that holds '/' (it would reach into other folders), a
// control character, or more bytes than this folder's file names can hold
// once "mdotin_" and ".dat" are added. False with the reason in `why`.
bool check_run_name(refusal_text& why);

// The run's data-file name in the current folder that is the parameter file
// itself (the same file under that name, through a link or a second name),
// identified by `parameter_file` (its fstat); empty when there is none.
std::string data_file_over_parameter_file(const struct stat& parameter_file);

// The same, as a stop with code 100 naming both files.
void refuse_overwriting_parameter_file(const struct stat& parameter_file);
