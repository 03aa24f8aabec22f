// Reading the parameter file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <variant>

#include "model/gmodel.h"
#include "model/settings.h"
#include "output/fatal.h"

// Where the value of a keyword goes: a real, an integer or a text of at most
// 599 characters (the whole token).
using keyword_destination = std::variant<double*, int*, std::array<char, NAME_CAPACITY>*>;

// One keyword of the parameter file. This table is the only list of keywords:
// the reader, its "did you mean" suggestions and `velmora --check` all take it
// from here, in this order.
// `model` tells a quantity of the disc model from a setting of the run (the
// output times, the names of files, the work done); `doc` is one line saying
// what the value is, with its unit, for help texts and the Python module.
struct parameter_keyword {
  const char* name;
  const char* unit;  // unit of the value as written in the parameter file
  bool model;        // a quantity of the disc model (else a run setting)
  const char* doc;
  keyword_destination (*destination)(gmodel* mod);
};

// The kind of a keyword's value, as its destination holds it.
enum class keyword_kind { real, integer, text };
keyword_kind kind_of(const parameter_keyword& k);

inline const parameter_keyword PARAMETER_KEYWORDS[] = {
    {"mass", "g", true, "g, mass of the central object",
     [](gmodel* m) -> keyword_destination { return &m->mass; }},
    {"mdisk", "g", true, "g, mass of the initial disc between r_ign_in and r_out_disk",
     [](gmodel* m) -> keyword_destination { return &m->mdisk; }},
    {"r_out_disk", "cm", true, "cm, outer radius of the disc",
     [](gmodel* m) -> keyword_destination { return &m->r_out_disk; }},
    {"l", "1", true, "1, viscosity index (0.1 <= l <= 10): nu ~ r^(2 - 0.5/l)",
     [](gmodel* m) -> keyword_destination { return &m->l; }},
    {"r_ign_in", "r_out_disk", true, "r_out_disk, inner edge of the initial matter",
     [](gmodel* m) -> keyword_destination { return &m->r_ign_in; }},
    {"r_ign_out", "r_out_disk", true, "r_out_disk, outer edge of the initial matter",
     [](gmodel* m) -> keyword_destination { return &m->r_ign_out; }},
    {"sigma_index", "1", true, "1, initial surface density ~ r^sigma_index",
     [](gmodel* m) -> keyword_destination { return &m->sigma_index; }},
    {"texp", "days", true, "days, viscous time (e-folding time of the first mode); 0: from kappa",
     [](gmodel* m) -> keyword_destination { return &m->texp; }},
    {"kappa", "cgs", true, "cgs, viscosity constant in the angular-momentum variable, used when texp is 0",
     [](gmodel* m) -> keyword_destination { return &m->kappa; }},
    {"MIN_TIME", "texp", false, "texp, first output time",
     [](gmodel*) -> keyword_destination { return &MIN_TIME; }},
    {"MAX_TIME", "texp", false, "texp, last output time (output times spaced logarithmically)",
     [](gmodel*) -> keyword_destination { return &MAX_TIME; }},
    {"NUM_TIME", "count", false, "count, number of output times",
     [](gmodel*) -> keyword_destination { return &NUM_TIME; }},
    {"save", "flag", false, "flag, 1: a torque profile file per output time",
     [](gmodel*) -> keyword_destination { return &save; }},
    {"flag_outer", "mode", true,
     "mode, outer supply: 0 none, 1 constant mdot_out, 2 a supply law (supply_file or the built-in one)",
     [](gmodel* m) -> keyword_destination { return &m->flag_outer; }},
    {"name", "text", false, "text, run name, part of every data-file name",
     [](gmodel*) -> keyword_destination { return &NAME; }},
    {"mdot_out", "g/s", true, "g/s, constant outer supply of flag_outer 1",
     [](gmodel* m) -> keyword_destination { return &m->mdot_out; }},
    {"fast", "flag", false, "flag, 1: every torque value from the series coefficients, no radial integral",
     [](gmodel*) -> keyword_destination { return &fast; }},
    {"supply_file", "text", true,
     "text, table of the outer supply (days, g/s) for flag_outer 2; empty: the built-in law",
     [](gmodel*) -> keyword_destination { return &SUPPLY_FILE; }},
};

// The keyword spelled `word`, or null.
const parameter_keyword* find_keyword(const char* word);

// The keyword a misspelt `word` most likely means (the same letters in
// another case, or one or two letters typed wrong, left out, added or
// swapped, depending on the keyword's length), or null when none is close.
const parameter_keyword* nearest_keyword(const char* word);

// Receives each entry the reader drops although it looks like a keyword
// entry: the line number (from 1) and the reason, without a newline.
using reader_warning = std::function<void(int line, const char* text)>;

// Reads every "value # keyword" entry of IN into the record and the run
// settings, scales r_ign_in and r_ign_out by r_out_disk and texp from days
// to seconds, and closes IN. Each dropped entry that looks like a keyword
// entry is reported on standard error with the name in `filename` and its
// line. A file that cannot be read safely (a token of 600 characters or
// more, an integer outside the range of int) is refused: exit status 3. A
// read error (a directory, an I/O error) is a fatal stop with code 100.
void read_parameters(FILE* IN, gmodel* mod);

// The scan alone, reporting a refusal instead of stopping: false with the
// reason in `why` (the destinations are then partly filled); dropped entries
// go to `warn` when it is given. Leaves IN open (std::ferror(IN) tells a read
// error from the end of the file) and converts no unit.
bool scan_parameter_entries(FILE* IN, gmodel* mod, refusal_text& why, const reader_warning& warn = nullptr);

// r_ign_in and r_ign_out from units of r_out_disk to cm, texp from days to s.
void convert_parameter_units(gmodel* mod);

// scan_parameter_entries, closing IN, then convert_parameter_units when the
// scan succeeded. A read error ends the scan like the end of the file.
bool scan_parameters(FILE* IN, gmodel* mod, refusal_text& why, const reader_warning& warn = nullptr);

// Closes the parameter file; a read error met by the scan (a directory, an
// I/O error) is a fatal stop with code 100 naming the file and the reason.
void close_parameter_file(FILE* IN, const char* file);

// Prints a dropped entry's warning: "warning: FILE line N: TEXT".
void print_reader_warning(FILE* stream, const char* file, int line, const char* text);
