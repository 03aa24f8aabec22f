// The outer supply history as smooth pieces, and the reader of supply tables.
//
// A piece is linear, M = r + k (t - s), or exponential, M = r exp(-(t - s)/T),
// on [s, e). Everything a caller needs of the history has a closed form on a
// piece, so the history is evaluated piece by piece:
//   supplied mass  int_s^t M = (t - s) (r + k (t - s)/2)  or  r T (1 - exp(-(t - s)/T));
//   memory of rate q over a piece of length D = e - s, seen at its end, with x = q D:
//     linear       int_0^D exp(-q (D - u)) (r + k u) du = D (r g1(x) + k D h(x)),
//                  int_0^D exp(-q (D - u)) k du         = k D g1(x),
//     exponential  int_0^D exp(-q (D - u)) r exp(-u/T) du = r D exp(-min(q, 1/T) D) g1(|q - 1/T| D)
//                  and M' = -M/T,
//   with g1(x) = (1 - exp(-x))/x = -expm1(-x)/x and h(x) = (x - 1 + exp(-x))/x^2,
//   from x + expm1(-x) or, where that cancels, its Taylor series; g1(0) = 1
//   keeps the exponential piece exact where q = 1/T.
// A history over several pieces is the sum of the pieces, each seen through
// exp(-q (t - e)) from its end e to t.
#include "exact/supply_history.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "exact/errors.h"
#include "model/keywords.h"
#include "model/supply_law.h"

namespace velmora {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();


// Below this x the Taylor series of h up to x^6 is exact to rounding (the next term, x^7/362880, is below
// 5e-15 of h); above it x + expm1(-x) loses at most a few parts in 1e15 to cancellation.
constexpr double SERIES_BELOW = 0.05;

// exp(-FORGOTTEN) is below the smallest positive double.
constexpr double FORGOTTEN = 760.0;

// (1 - exp(-x)) / x for x >= 0.
double g1(double x) {
  if (x == 0.0) return 1.0;
  return -std::expm1(-x) / x;
}

// (x - 1 + exp(-x)) / x^2 = 1/2 - x/6 + x^2/24 - ... for 0 <= x < SERIES_BELOW.
double h_series(double x) {
  return 0.5 + x * (-1.0 / 6 + x * (1.0 / 24 + x * (-1.0 / 120 + x * (1.0 / 720 + x * (-1.0 / 5040 + x / 40320)))));
}

supply_piece linear_piece(double start, double end, double rate, double slope) {
  return supply_piece{supply_piece::shape::linear, start, end, rate, slope, 0.0};
}

supply_piece exponential_piece(double start, double end, double rate, double decay_time) {
  return supply_piece{supply_piece::shape::exponential, start, end, rate, 0.0, decay_time};
}

double piece_rate(const supply_piece& p, double t) {
  if (p.kind == supply_piece::shape::linear) return p.rate + p.slope * (t - p.start);
  return p.rate * std::exp(-(t - p.start) / p.decay_time);
}

double piece_derivative(const supply_piece& p, double t) {
  if (p.kind == supply_piece::shape::linear) return p.slope;
  return -(p.rate / p.decay_time) * std::exp(-(t - p.start) / p.decay_time);
}

// int_start^t of the piece's rate.
double piece_mass(const supply_piece& p, double t) {
  const double d = t - p.start;
  if (p.kind == supply_piece::shape::linear) return d * (p.rate + 0.5 * p.slope * d);
  return p.rate * p.decay_time * -std::expm1(-d / p.decay_time);
}

// The memory of rate q of the piece over [start, start + d], seen at its end,
// and the factor exp(-q d) by which the memory at its start fades over it.
struct piece_memory {
  supply_history::decayed_integrals value;
  double fade;
};

piece_memory piece_decayed(const supply_piece& p, double d, double q) {
  const double x = q * d;
  if (p.kind == supply_piece::shape::linear) {
    const double e = std::expm1(-x);
    const double first = x == 0.0 ? 1.0 : -e / x;                       // g1(x)
    const double second = x < SERIES_BELOW ? h_series(x) : (x + e) / (x * x);  // h(x)
    return {{d * (p.rate * first + p.slope * d * second), p.slope * d * first}, 1.0 + e};
  }
  const double inverse_T = 1.0 / p.decay_time;
  const double value = p.rate * d * std::exp(-std::min(q, inverse_T) * d) * g1(std::fabs(q - inverse_T) * d);
  return {{value, -value * inverse_T}, std::exp(-x)};
}

// The first row at which a table (times in s) breaks a rule, and the rule.
std::optional<std::pair<std::size_t, std::string>> table_problem(const std::vector<double>& t,
                                                                  const std::vector<double>& r) {
  char text[160];
  if (t.empty()) return std::make_pair(std::size_t{0}, std::string("no rows"));
  if (t.size() > MAX_SUPPLY_ROWS) {
    std::snprintf(text, sizeof text, "more than %zu rows", MAX_SUPPLY_ROWS);
    return std::make_pair(MAX_SUPPLY_ROWS, std::string(text));
  }
  if (t.size() != r.size()) {
    std::snprintf(text, sizeof text, "%zu times but %zu rates", t.size(), r.size());
    return std::make_pair(std::min(t.size(), r.size()), std::string(text));
  }
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (!std::isfinite(t[k])) {
      std::snprintf(text, sizeof text, "the time %g s is not finite", t[k]);
      return std::make_pair(k, std::string(text));
    }
    if (!std::isfinite(r[k]) || r[k] < 0.0) {
      std::snprintf(text, sizeof text, "the rate %g g/s is not finite and non-negative", r[k]);
      return std::make_pair(k, std::string(text));
    }
    if (k == 0) continue;
    if (!(t[k] > t[k - 1])) {
      std::snprintf(text, sizeof text, "the time %.17g s is not after the row before (%.17g s)", t[k], t[k - 1]);
      return std::make_pair(k, std::string(text));
    }
    if (!std::isfinite((r[k] - r[k - 1]) / (t[k] - t[k - 1]))) {
      std::snprintf(text, sizeof text, "the rate changes too fast since the row before (%g g/s in %g s)",
                    r[k] - r[k - 1], t[k] - t[k - 1]);
      return std::make_pair(k, std::string(text));
    }
  }
  // The bounds last, so that a row that breaks one of the rules above is named for it.
  double supplied = 0.0;  // g, from the first row to row k
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (r[k] > MAX_SUPPLY_RATE) {
      std::snprintf(text, sizeof text, "the rate %g g/s is above %g g/s, beyond any physical supply", r[k],
                    MAX_SUPPLY_RATE);
      return std::make_pair(k, std::string(text));
    }
    if (k > 0) supplied += 0.5 * (t[k] - t[k - 1]) * (r[k] + r[k - 1]);
    if (!(supplied <= MAX_SUPPLIED_MASS)) {
      std::snprintf(text, sizeof text, "the table supplies %g g by this row, above %g g", supplied, MAX_SUPPLIED_MASS);
      return std::make_pair(k, std::string(text));
    }
  }
  return std::nullopt;
}

}  // namespace

supply_history supply_history::none() { return constant(0.0); }

supply_history supply_history::constant(double rate) {
  supply_history h;
  h.pieces_.push_back(linear_piece(0.0, INF, rate, 0.0));
  h.sum_masses();
  return h;
}

supply_history supply_history::builtin_law() { return builtin_law(builtin_supply::TIME_CONSTANT); }

// The law's own ramp (model/supply_law.h): the ramp [t1, t2) between the
// exponential pieces.
supply_history supply_history::builtin_law(double time_constant) {
  const builtin_supply::ramp r = builtin_supply::ramp_of(time_constant);
  supply_history h;
  h.pieces_ = {exponential_piece(0.0, r.t1, builtin_supply::EARLY_AMPLITUDE, time_constant),
               linear_piece(r.t1, r.t2, r.rate1, r.slope()),
               exponential_piece(r.t2, INF, r.rate2, time_constant)};
  h.sum_masses();
  return h;
}

supply_history supply_history::from_table(std::vector<double> t_s, std::vector<double> rate, std::string name) {
  if (const auto problem = table_problem(t_s, rate)) {
    throw std::invalid_argument("supply table " + name + ": row " + std::to_string(problem->first + 1) + ": " +
                                problem->second);
  }
  supply_history h;
  h.name_ = std::move(name);
  h.rows_ = t_s.size();
  const std::size_t n = t_s.size();
  auto slope_to = [&](std::size_t j) { return (rate[j] - rate[j - 1]) / (t_s[j] - t_s[j - 1]); };
  h.pieces_.reserve(n + 1);
  if (n == 1 || t_s[n - 1] <= 0.0) {
    h.pieces_.push_back(linear_piece(0.0, INF, rate[n - 1], 0.0));
  } else {
    // Row k is the first after t = 0; rows before it only set the rate at 0.
    std::size_t k = 0;
    while (t_s[k] <= 0.0) ++k;
    if (k == 0) {
      h.pieces_.push_back(linear_piece(0.0, t_s[0], rate[0], 0.0));
    } else {
      const double slope = slope_to(k);
      const double at_zero = std::max(0.0, rate[k - 1] + slope * (0.0 - t_s[k - 1]));
      h.pieces_.push_back(linear_piece(0.0, t_s[k], at_zero, slope));
    }
    for (std::size_t j = k + 1; j < n; ++j)
      h.pieces_.push_back(linear_piece(t_s[j - 1], t_s[j], rate[j - 1], slope_to(j)));
    h.pieces_.push_back(linear_piece(t_s[n - 1], INF, rate[n - 1], 0.0));
  }
  h.sum_masses();
  h.row_times_ = std::move(t_s);
  h.row_rates_ = std::move(rate);
  return h;
}

void supply_history::sum_masses() {
  mass_before_.reserve(pieces_.size());
  mass_before_.assign(1, 0.0);
  for (std::size_t k = 1; k < pieces_.size(); ++k) {
    const supply_piece& p = pieces_[k - 1];
    mass_before_.push_back(mass_before_.back() + piece_mass(p, p.end));
  }
}

std::size_t supply_history::piece_at(double t) const {
  // The last piece whose start is <= t; the first one for t < 0 (and NaN).
  const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), t,
                                      [](double v, const supply_piece& p) { return v < p.start; });
  return after == pieces_.begin() ? 0 : static_cast<std::size_t>(after - pieces_.begin()) - 1;
}

double supply_history::rate(double t) const { return piece_rate(pieces_[piece_at(t)], t); }

double supply_history::derivative(double t) const { return piece_derivative(pieces_[piece_at(t)], t); }

double supply_history::supplied_mass(double t) const {
  const std::size_t k = piece_at(t);
  return mass_before_[k] + piece_mass(pieces_[k], t);
}

supply_history::decayed_integrals supply_history::decayed(double t, double q) const {
  decayed_integrals total{0.0, 0.0};
  if (!(t > 0.0)) return total;
  // Pieces that ended more than FORGOTTEN / q before t weigh less than
  // exp(-FORGOTTEN), below the smallest double: they are skipped.
  auto first = pieces_.begin();
  if (q > 0.0) {
    const double horizon = t - FORGOTTEN / q;
    first = std::partition_point(pieces_.begin(), pieces_.end(),
                                 [horizon](const supply_piece& p) { return p.end < horizon; });
  }
  for (auto p = first; p != pieces_.end() && p->start < t; ++p) {
    const double d = std::min(p->end, t) - p->start;
    const piece_memory piece = piece_decayed(*p, d, q);
    total.rate = total.rate * piece.fade + piece.value.rate;
    total.derivative = total.derivative * piece.fade + piece.value.derivative;
  }
  return total;
}

// ---- the table file ----------------------------------------------------------

namespace {

std::string with_line(const std::string& file, long line, const std::string& problem) {
  if (line <= 0) return file + ": " + problem;
  return file + ":" + std::to_string(line) + ": " + problem;
}

struct file_closer {
  void operator()(FILE* f) const { std::fclose(f); }
};

// A line of a table is two numbers and perhaps a comment: one longer than this is no table's. Without
// a bound a file with no line break (/dev/zero, a binary named by mistake) grew the line until the
// process ran out of memory.
constexpr std::size_t MAX_LINE_BYTES = std::size_t{1} << 20;

// Parses one number that fills the whole token [begin, end).
bool parse_number(const char* begin, const char* end, double* value) {
  std::string token(begin, end);
  char* stop = nullptr;
  *value = std::strtod(token.c_str(), &stop);
  return stop == token.c_str() + token.size() && std::isfinite(*value);
}

// The tokens of a line up to a '#', at most `room` of them (one more is counted as "more").
int split(const char* line, std::pair<const char*, const char*>* tokens, int room) {
  int count = 0;
  const char* p = line;
  while (*p != '\0' && *p != '#') {
    while (*p != '\0' && *p != '#' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0' || *p == '#') break;
    const char* begin = p;
    while (*p != '\0' && *p != '#' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (count < room) tokens[count] = {begin, p};
    ++count;
    if (count > room) break;
  }
  return count;
}

std::string shown(const char* line) {
  std::string s(line);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  constexpr std::size_t SHOWN = 60;
  if (s.size() > SHOWN) s = s.substr(0, SHOWN) + "...";
  return s;
}

}  // namespace

supply_table_error::supply_table_error(std::string file_name, long line_number, const std::string& problem)
    : std::runtime_error(with_line(file_name, line_number, problem)), file(std::move(file_name)), line(line_number) {}

std::string supply_table_path(const std::string& parameter_file, const std::string& supply_file) {
  if (supply_file.empty() || supply_file.front() == '/') return supply_file;
  const std::size_t slash = parameter_file.rfind('/');
  if (slash == std::string::npos) return supply_file;
  return parameter_file.substr(0, slash + 1) + supply_file;
}

void check_supply_file_mode(const std::string& supply_file, int flag_outer) {
  if (supply_file.empty() || !(flag_outer == 0 || flag_outer == 1)) return;
  refuse(keyword::supply_file, message_text("%s = %.400s needs %s = 2 (the outer supply from a table), not %s = %d",
                                             keyword::supply_file, supply_file.c_str(), keyword::flag_outer,
                                             keyword::flag_outer, flag_outer));
}

supply_history read_supply_table(const std::string& path) {
  errno = 0;
  std::unique_ptr<FILE, file_closer> in(std::fopen(path.c_str(), "r"));
  if (!in) throw supply_table_error(path, 0, std::string("cannot be opened: ") + std::strerror(errno));

  std::vector<double> days, rate;
  std::vector<long> line_of;  // the line of each row
  std::string raw;            // the line, its line break included
  char text[160];
  for (long line = 1;; ++line) {
    raw.clear();
    errno = 0;
    int c = EOF;
    while ((c = std::getc(in.get())) != EOF) {
      if (c == '\0') throw supply_table_error(path, line, "not a line of text (it holds a NUL byte)");
      try {
        raw.push_back(static_cast<char>(c));
      } catch (const std::bad_alloc&) {  // under a memory limit: a read error, not the table's end
        throw supply_table_error(path, line, std::string("cannot be read: ") + std::strerror(ENOMEM));
      }
      if (c == '\n') break;
      if (raw.size() > MAX_LINE_BYTES)
        throw supply_table_error(path, line, "a line longer than " + std::to_string(MAX_LINE_BYTES >> 20) +
                                                 " MiB: not a table of times and rates");
    }
    if (c == EOF) {
      // Only the end of the file ends the table.
      if (std::ferror(in.get()) != 0)
        throw supply_table_error(path, line, std::string("cannot be read: ") + std::strerror(errno != 0 ? errno : EIO));
      if (raw.empty()) break;
    }
    std::pair<const char*, const char*> tokens[2];
    const int count = split(raw.c_str(), tokens, 2);
    if (count == 0) continue;
    double t = 0.0, r = 0.0;
    if (count != 2 || !parse_number(tokens[0].first, tokens[0].second, &t) ||
        !parse_number(tokens[1].first, tokens[1].second, &r))
      throw supply_table_error(path, line,
                               "\"" + shown(raw.c_str()) + "\" is not two finite numbers (time in days, rate in g/s)");
    if (days.size() == MAX_SUPPLY_ROWS)
      throw supply_table_error(path, line, "more than " + std::to_string(MAX_SUPPLY_ROWS) + " rows");
    if (!days.empty() && !(t > days.back())) {
      std::snprintf(text, sizeof text, "the time %.17g days is not after the row before (%.17g days)", t, days.back());
      throw supply_table_error(path, line, text);
    }
    if (r < 0.0) {
      std::snprintf(text, sizeof text, "the rate %g g/s is negative", r);
      throw supply_table_error(path, line, text);
    }
    if (!std::isfinite(t * SECONDS_PER_DAY)) {
      std::snprintf(text, sizeof text, "the time %g days is out of range once in seconds", t);
      throw supply_table_error(path, line, text);
    }
    days.push_back(t);
    rate.push_back(r);
    line_of.push_back(line);
  }
  if (days.empty()) throw supply_table_error(path, 0, "no rows (two columns: time in days, rate in g/s)");

  std::vector<double> seconds(days.size());
  for (std::size_t k = 0; k < days.size(); ++k) seconds[k] = days[k] * SECONDS_PER_DAY;
  // What is left can only show in seconds: times too close to part, slopes that overflow.
  if (const auto problem = table_problem(seconds, rate)) {
    throw supply_table_error(path, line_of[std::min(problem->first, line_of.size() - 1)], problem->second);
  }
  return supply_history::from_table(std::move(seconds), std::move(rate), path);
}

}  // namespace velmora
