// Reading the parameter file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <variant>

#include "model/keywords.h"
#include "model/parameter_values.h"
#include "model/settings.h"
#include "output/fatal.h"

// Where the value of a keyword goes: a real, an integer or a text of at most
// 599 characters (the whole token).
using keyword_destination = std::variant<double*, int*, std::array<char, NAME_CAPACITY>*>;

// One keyword of the parameter file. This table is the only list of keywords:
// the reader, its "did you mean" suggestions and `velmora --check` all take it
// from here, in this order. The names are model/keywords.h's, the spelling
// the core's refusals use as well.
// `model` tells a quantity of the disc model from a setting of the run (the
// output times, the names of files, the work done); `doc` is one line saying
// what the value is, with its unit, for help texts and the Python module.
struct parameter_keyword {
  const char* name;
  const char* unit;  // unit of the value as written in the parameter file
  bool model;        // a quantity of the disc model (else a run setting)
  const char* doc;
  keyword_destination (*destination)(parameter_values* v);
};

// The kind of a keyword's value, as its destination holds it.
enum class keyword_kind { real, integer, text };
keyword_kind kind_of(const parameter_keyword& k);

inline const parameter_keyword PARAMETER_KEYWORDS[] = {
    {keyword::mass, "g", true, "g, mass of the central object",
     [](parameter_values* v) -> keyword_destination { return &v->mass; }},
    {keyword::mdisk, "g", true, "g, mass of the initial disc between r_ign_in and r_out_disk",
     [](parameter_values* v) -> keyword_destination { return &v->mdisk; }},
    {keyword::r_out_disk, "cm", true, "cm, outer radius of the disc",
     [](parameter_values* v) -> keyword_destination { return &v->r_out_disk; }},
    {keyword::l, "1", true, "1, viscosity index (0.1 <= l <= 10): nu ~ r^(2 - 0.5/l)",
     [](parameter_values* v) -> keyword_destination { return &v->l; }},
    {keyword::r_ign_in, keyword::r_out_disk, true, "r_out_disk, inner edge of the initial matter",
     [](parameter_values* v) -> keyword_destination { return &v->r_ign_in; }},
    {keyword::r_ign_out, keyword::r_out_disk, true, "r_out_disk, outer edge of the initial matter",
     [](parameter_values* v) -> keyword_destination { return &v->r_ign_out; }},
    {keyword::sigma_index, "1", true, "1, initial surface density ~ r^sigma_index",
     [](parameter_values* v) -> keyword_destination { return &v->sigma_index; }},
    {keyword::texp, "days", true, "days, viscous time (e-folding time of the first mode); 0: from kappa",
     [](parameter_values* v) -> keyword_destination { return &v->texp; }},
    {keyword::kappa, "cgs", true, "cgs, viscosity constant in the angular-momentum variable, used when texp is 0",
     [](parameter_values* v) -> keyword_destination { return &v->kappa; }},
    {keyword::min_time, keyword::texp, false, "texp, first output time",
     [](parameter_values* v) -> keyword_destination { return &v->min_time; }},
    {keyword::max_time, keyword::texp, false, "texp, last output time (output times spaced logarithmically)",
     [](parameter_values* v) -> keyword_destination { return &v->max_time; }},
    {keyword::num_time, "count", false, "count, number of output times",
     [](parameter_values* v) -> keyword_destination { return &v->num_time; }},
    {keyword::save, "flag", false, "flag, 1: a torque profile file per output time",
     [](parameter_values* v) -> keyword_destination { return &v->save; }},
    {keyword::flag_outer, "mode", true,
     "mode, outer supply: 0 none, 1 constant mdot_out, 2 a supply law (supply_file or the built-in one)",
     [](parameter_values* v) -> keyword_destination { return &v->flag_outer; }},
    {keyword::name, "text", false, "text, run name, part of every data-file name",
     [](parameter_values* v) -> keyword_destination { return &v->name; }},
    {keyword::mdot_out, "g/s", true, "g/s, constant outer supply of flag_outer 1",
     [](parameter_values* v) -> keyword_destination { return &v->mdot_out; }},
    {keyword::fast, "flag", false, "flag, 1: every torque value from the series coefficients, no radial integral",
     [](parameter_values* v) -> keyword_destination { return &v->fast; }},
    {keyword::supply_file, "text", true,
     "text, table of the outer supply (days, g/s) for flag_outer 2; empty: the built-in law",
     [](parameter_values* v) -> keyword_destination { return &v->supply_file; }},
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

// Reads every "value # keyword" entry of IN into `values` (units as in the
// file; a keyword given twice takes the later value). This is the one reader
// of parameter files: the program, `velmora --check` and the Python module
// all read through it. A file that cannot be read safely (a token of 600
// characters or more, an integer outside the range of int) is refused: false
// with the reason in `why` (the values are then partly filled). Entries it
// drops although they look like entries go to `warn` when it is given. Leaves
// IN open: std::ferror(IN) tells a read error from the end of the file.
bool scan_parameter_entries(FILE* IN, parameter_values& values, refusal_text& why, const reader_warning& warn = nullptr);

// Closes the parameter file; a read error met by the scan (a directory, an
// I/O error) is a fatal stop with code 100 naming the file and the reason.
void close_parameter_file(FILE* IN, const char* file);

// Prints a dropped entry's warning: "warning: FILE line N: TEXT".
// A text with the characters a terminal would not show (control characters
// other than a tab, a byte-order mark, zero-width marks, special spaces)
// written as \xNN or \uNNNN, so that a quoted token shows all it holds.
std::string visible_text(const char* text);
void print_reader_warning(FILE* stream, const char* file, int line, const char* text);
