// Reading the parameter file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <variant>

#include "output/fatal.h"
#include "run/model.h"
#include "run/settings.h"

// Where the value of a keyword goes: a real, an integer or a text of at most
// 599 characters (the whole token).
using keyword_destination = std::variant<double*, int*, std::array<char, NAME_CAPACITY>*>;

// One keyword of the parameter file. This table is the only list of keywords:
// the reader, its "did you mean" suggestions and `velmora --check` all take it
// from here, in this order.
struct parameter_keyword {
  const char* name;
  const char* unit;  // unit of the value as written in the parameter file
  keyword_destination (*destination)(gmodel* mod);
};

inline const parameter_keyword PARAMETER_KEYWORDS[] = {
    {"mass", "g", [](gmodel* m) -> keyword_destination { return &m->mass; }},
    {"mdisk", "g", [](gmodel* m) -> keyword_destination { return &m->mdisk; }},
    {"r_out_disk", "cm", [](gmodel* m) -> keyword_destination { return &m->r_out_disk; }},
    {"l", "1", [](gmodel* m) -> keyword_destination { return &m->l; }},
    {"r_ign_in", "r_out_disk", [](gmodel* m) -> keyword_destination { return &m->r_ign_in; }},
    {"r_ign_out", "r_out_disk", [](gmodel* m) -> keyword_destination { return &m->r_ign_out; }},
    {"sigma_index", "1", [](gmodel* m) -> keyword_destination { return &m->sigma_index; }},
    {"texp", "days", [](gmodel* m) -> keyword_destination { return &m->texp; }},
    {"kappa", "cgs", [](gmodel* m) -> keyword_destination { return &m->kappa; }},
    {"MIN_TIME", "texp", [](gmodel*) -> keyword_destination { return &MIN_TIME; }},
    {"MAX_TIME", "texp", [](gmodel*) -> keyword_destination { return &MAX_TIME; }},
    {"NUM_TIME", "count", [](gmodel*) -> keyword_destination { return &NUM_TIME; }},
    {"save", "flag", [](gmodel*) -> keyword_destination { return &save; }},
    {"flag_outer", "mode", [](gmodel* m) -> keyword_destination { return &m->flag_outer; }},
    {"name", "text", [](gmodel*) -> keyword_destination { return &NAME; }},
    {"mdot_out", "g/s", [](gmodel* m) -> keyword_destination { return &m->mdot_out; }},
    {"fast", "flag", [](gmodel*) -> keyword_destination { return &fast; }},
    {"supply_file", "text", [](gmodel*) -> keyword_destination { return &SUPPLY_FILE; }},
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
