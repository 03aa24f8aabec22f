// The history of the mass supply at the outer edge of the disc, M(t) for
// t >= 0, as contiguous smooth pieces: linear or exponential in time.
//
// Re-entrant: no globals, no console, no exit. Errors are exceptions:
// supply_table_error (a table file, with the file and the line) or
// std::invalid_argument (a table handed over as numbers). Units: s, g/s.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

// One smooth piece of the outer supply rate, valid for start <= t < end (s).
struct supply_piece {
  enum class shape { linear, exponential };
  shape kind;
  double start, end;  // s; the last piece ends at +infinity
  double rate;        // g/s at t = start
  double slope;       // g/s^2, linear pieces: M(t) = rate + slope (t - start)
  double decay_time;  // s, exponential pieces: M(t) = rate exp(-(t - start)/decay_time)
};

// The rules a supply table obeys.
constexpr std::size_t MAX_SUPPLY_ROWS = 1000000;
constexpr double SECONDS_PER_DAY = 86400.0;
// Bounds on what a table may supply, far above anything physical and far
// below what overflows. Physically: the Eddington rate of the heaviest known
// black holes (1e10 solar masses, efficiency 0.1) is about 1e28 g/s, and the
// baryons of the observable universe weigh about 1e56 g. Numerically: the
// original algorithm's quadrature error estimate (column 4) squares the
// integrand and overflows from about 1e135 g/s on a 10-solar-mass disc
// (measured: finite at 1e130, inf at 1e140), its rate (column 3) and the
// exact solution from about 1e300 g/s; 1e40 g/s leaves 95 orders of
// magnitude to the first, for the disc's other scales (hout, texp) to
// multiply into, and 1e60 g keeps every supplied mass, and that mass over
// any time, far from overflow.
constexpr double MAX_SUPPLY_RATE = 1e40;    // g/s
constexpr double MAX_SUPPLIED_MASS = 1e60;  // g, over the table's rows

// The outer supply rate M(t) for t >= 0: contiguous pieces from 0 to +infinity.
class supply_history {
 public:
  static supply_history none();                 // M = 0
  static supply_history constant(double rate);  // M = rate, g/s
  // The program's built-in law: 1e18 g/s decaying with 30 days, a linear ramp
  // over the day before day 60 onto 4e18 g/s exp(-t/30 d). The overload takes
  // the time constant (s); the ramp ends at twice it.
  static supply_history builtin_law();
  static supply_history builtin_law(double time_constant);
  // Rows (t_s[k] in s, rate[k] in g/s): linear between rows, the first
  // row's rate before the first row, the last row's after the last. Rows
  // before t = 0 only shape the rate at t >= 0. Throws std::invalid_argument
  // (naming `name` and the row, counted from 1) for what read_supply_table
  // refuses: no rows, more than MAX_SUPPLY_ROWS, columns of different
  // lengths, a time or rate that is not finite, times not strictly
  // increasing, a negative rate, a slope between rows that overflows, a
  // rate above MAX_SUPPLY_RATE, a mass supplied from the first row to a row
  // (trapezoids) above MAX_SUPPLIED_MASS.
  static supply_history from_table(std::vector<double> t_s, std::vector<double> rate, std::string name);

  // At a break between pieces, rate and derivative are those of the piece
  // that starts there; before t = 0 those of the first piece.
  double rate(double t) const;              // g/s
  double derivative(double t) const;        // g/s^2
  double supplied_mass(double t) const;     // int_0^t rate, g (closed form per piece)

  // The supply history seen through a decaying memory of rate q (1/s):
  //   rate       = int_0^t exp(-q (t - tau)) M(tau) dtau      (g)
  //   derivative = int_0^t exp(-q (t - tau)) M'(tau) dtau     (g/s)
  // closed forms per piece, exact also where q meets 1/decay_time; q >= 0.
  // Costs one exponential per piece that starts before t.
  struct decayed_integrals {
    double rate;
    double derivative;
  };
  decayed_integrals decayed(double t, double q) const;

  const std::vector<supply_piece>& pieces() const { return pieces_; }
  const std::string& name() const { return name_; }  // table file name, or empty
  std::size_t rows() const { return rows_; }         // rows of the table, 0 for a law
  // The rows the history was built from (s, g/s), empty for a law: from_table
  // of these rebuilds the same pieces, without the file they were read from.
  const std::vector<double>& row_times() const { return row_times_; }
  const std::vector<double>& row_rates() const { return row_rates_; }

 private:
  supply_history() = default;
  std::size_t piece_at(double t) const;  // index of the piece that holds t
  void sum_masses();                     // fills mass_before_ from pieces_
  std::vector<supply_piece> pieces_;
  std::vector<double> mass_before_;  // supplied mass from 0 to the start of each piece
  std::string name_;
  std::size_t rows_ = 0;
  std::vector<double> row_times_, row_rates_;
};

// A table file that cannot be used. what() is "<file>:<line>: <what is wrong>",
// or "<file>: <what is wrong>" (line 0) for the file as a whole.
struct supply_table_error : std::runtime_error {
  supply_table_error(std::string file, long line, const std::string& problem);
  std::string file;
  long line;
};

// Reads a supply table: two columns separated by white space, the time in
// days since the start of the evolution and the supply rate in g/s, one row
// a line; text from '#' to the end of a line is a comment, lines with no
// row are skipped. Refused (supply_table_error): a file that cannot be
// opened or read (with the system's reason: a failed read, memory for a
// line included, is never taken for the end of the file), a line that is
// not exactly two finite numbers, times not strictly increasing (also once
// in seconds), a negative rate, no rows, more than MAX_SUPPLY_ROWS rows, a
// slope between two rows that overflows, a rate above MAX_SUPPLY_RATE, a
// supplied mass above MAX_SUPPLIED_MASS. Never exits, never prints.
supply_history read_supply_table(const std::string& path);

// Where a parameter file's supply_file is: an absolute name as it is, a
// relative one in the parameter file's folder (as the file is named).
std::string supply_table_path(const std::string& parameter_file, const std::string& supply_file);

// Refuses (invalid_parameter naming supply_file) a supply table given with
// flag_outer 0 or 1, where it would be silently ignored: a table is the
// supply law of mode 2. An empty supply_file is no table.
void check_supply_file_mode(const std::string& supply_file, int flag_outer);

}  // namespace velmora
