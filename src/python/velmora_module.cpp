// The Python module velmora._velmora: the exact solution of the disc model
// (src/exact) as the class Disc, and the program's parameter-file reader.
//
// Every evaluation converts its arguments to contiguous arrays of doubles,
// allocates the result, and computes with the GIL released: the models are
// immutable and the core keeps no global state, so two threads evaluate two
// models (or one) at once. Errors of the core become Python exceptions:
// invalid_parameter a ParameterError (a ValueError with the parameter's
// name as the attribute `parameter`), solution_error a SolutionError (a
// RuntimeError). The parameter-file vocabulary (keywords(), the reader and
// the writer of parameter files) comes from the program's keyword table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <gsl/gsl_errno.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exact/disc_model.h"
#include "exact/errors.h"
#include "exact/plausibility.h"
#include "exact/supply_history.h"
#include "model/constants.h"
#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "python/observables_binding.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

using velmora::disc_model;
using velmora::disc_parameters;
using velmora::invalid_parameter;

// The exception types velmora.ParameterError (a ValueError) and
// velmora.SolutionError (a RuntimeError), and the warning category
// velmora.ParameterFileWarning; created once, kept for the life of the process.
PyObject* parameter_error_type = nullptr;
PyObject* solution_error_type = nullptr;
PyObject* parameter_file_warning_type = nullptr;
PyObject* plausibility_warning_type = nullptr;

// Quantities that look like another unit (exact/plausibility.h), as Python
// warnings of the category PlausibilityWarning.
void warn_implausible(const velmora::disc_parameters& p) {
  for (const std::string& w : velmora::plausibility_warnings(p))
    if (PyErr_WarnEx(plausibility_warning_type, w.c_str(), 2) != 0) throw py::error_already_set();
}

// The keywords of the run alone (output times, files), as a parameter file gives them.
struct run_settings {
  double min_time = 0.0;  // texp
  double max_time = 0.0;  // texp
  int num_time = 0;
  int save = 0;
  int fast = 0;
  std::string name;
  double texp_seconds = 0.0;  // the reader's texp (s), the unit of the times; 0: derived from kappa
};

// A supply table read from a file, with the name it was given by.
struct supply_table {
  std::string path;
  std::shared_ptr<const velmora::supply_history> history;
};

supply_table read_table(const std::string& path) {
  try {
    return {path, std::make_shared<const velmora::supply_history>(velmora::read_supply_table(path))};
  } catch (const velmora::supply_table_error& e) {
    throw invalid_parameter("supply_file", std::string("supply_file = ") + path + ": " + e.what());
  }
}

// A path argument: str, bytes or os.PathLike, as the bytes the system takes
// (a str that came from a non-UTF-8 name gives its bytes back). None, another
// type or a NUL inside (which would cut the name short) raise, naming `parameter`.
std::optional<std::string> path_of(const py::object& value, const char* parameter) {
  if (value.is_none()) return std::nullopt;
  py::object path;
  try {
    path = py::module_::import("os").attr("fsencode")(value);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError)) throw;
    throw py::type_error(std::string(parameter) + ": a path (str, bytes or os.PathLike) is needed, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  std::string bytes = path.cast<std::string>();
  if (bytes.find('\0') != std::string::npos)
    throw invalid_parameter(parameter, std::string(parameter) + ": the path contains a NUL character");
  return bytes;
}

// A path that must be given.
std::string required_path(const py::object& value, const char* parameter) {
  const auto path = path_of(value, parameter);
  if (!path) throw py::type_error(std::string(parameter) + ": a path (str, bytes or os.PathLike) is needed, not None");
  return *path;
}

// Text of the system (file names, quoted tokens) as Python text: UTF-8 where
// it is, other bytes as \xNN, so a message never fails to form.
py::str text_of(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "backslashreplace");
  if (!text) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// A file name as Python gives it back (os.fsdecode: undecodable bytes as surrogates).
py::str file_name_of(const std::string& bytes) {
  return py::module_::import("os").attr("fsdecode")(py::bytes(bytes));
}

class Disc {
 public:
  Disc(disc_model model, std::optional<supply_table> table, std::optional<run_settings> run)
      : model_(std::make_shared<const disc_model>(std::move(model))), table_(std::move(table)), run_(std::move(run)) {}

  const disc_model& model() const { return *model_; }
  const std::optional<supply_table>& table() const { return table_; }
  const std::optional<run_settings>& run() const { return run_; }

 private:
  std::shared_ptr<const disc_model> model_;
  std::optional<supply_table> table_;
  std::optional<run_settings> run_;
};

// A model of the parameters, sharing the Bessel modes of its order (and,
// for the same shape, the projections of its initial torque) with the last
// model made of that order: a model of a known order costs no new zeros.
disc_model make_model(const disc_parameters& p) {
  static std::mutex mutex;
  static std::map<double, std::shared_ptr<const disc_model>> last_of_order;
  constexpr std::size_t KEPT_ORDERS = 32;
  if (!std::isfinite(p.l)) return disc_model(p);  // refused; no key for the map
  std::shared_ptr<const disc_model> last;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = last_of_order.find(p.l);
    if (it != last_of_order.end()) last = it->second;
  }
  auto model = std::make_shared<const disc_model>(last ? last->with(p) : disc_model(p));
  std::lock_guard<std::mutex> lock(mutex);
  if (last_of_order.size() >= KEPT_ORDERS && !last_of_order.count(p.l)) last_of_order.erase(last_of_order.begin());
  last_of_order[p.l] = model;
  return *model;
}

// The model's parameters with a supply table (or none) in place.
disc_parameters with_table(disc_parameters p, const std::optional<supply_table>& table) {
  if (table && p.flag_outer != 2)
    throw invalid_parameter("supply_file", "supply_file = " + table->path +
                                               ": a supply table is used only with flag_outer = 2, not flag_outer = " +
                                               std::to_string(p.flag_outer));
  p.supply = table ? table->history : nullptr;
  return p;
}

Disc make_disc(double mass, double mdisk, double r_out_disk, double l, double r_ign_in, double r_ign_out,
               double sigma_index, double texp, double kappa, int flag_outer, double mdot_out,
               const py::object& supply_file) {
  disc_parameters p;
  p.mass = mass;
  p.mdisk = mdisk;
  p.r_out_disk = r_out_disk;
  p.l = l;
  p.r_ign_in = r_ign_in;
  p.r_ign_out = r_ign_out;
  p.sigma_index = sigma_index;
  p.texp = texp;
  p.kappa = kappa;
  p.flag_outer = flag_outer;
  p.mdot_out = mdot_out;
  std::optional<supply_table> table;
  if (const auto path = path_of(supply_file, "supply_file")) table = read_table(*path);
  p = with_table(p, table);
  warn_implausible(p);
  py::gil_scoped_release release;
  return Disc(make_model(p), std::move(table), std::nullopt);
}

// A number argument: anything Python takes as a float (int, float, numpy
// scalars), never a str; another type raises TypeError naming the parameter.
double real_argument(const py::handle& value, const char* name) {
  if (!PyUnicode_Check(value.ptr()) && !PyBytes_Check(value.ptr())) {
    const double v = PyFloat_AsDouble(value.ptr());
    if (!(v == -1.0 && PyErr_Occurred())) return v;
    PyErr_Clear();
  }
  throw py::type_error(std::string(name) + ": a number is needed, not " +
                       py::str(py::type::of(value).attr("__name__")).cast<std::string>() + " " +
                       py::repr(value).cast<std::string>().substr(0, 40));
}

// A whole-number argument (int, bool, numpy integers) within the range of int.
int integer_argument(const py::handle& value, const char* name) {
  PyObject* index = PyNumber_Index(value.ptr());
  if (index == nullptr) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + ": a whole number is needed, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>() + " " +
                         py::repr(value).cast<std::string>().substr(0, 40));
  }
  const long long v = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if ((v == -1 && PyErr_Occurred()) || v < INT_MIN || v > INT_MAX) {
    PyErr_Clear();
    throw invalid_parameter(name, std::string(name) + " = " + py::repr(value).cast<std::string>().substr(0, 40) +
                                      " is outside the range of an integer");
  }
  return static_cast<int>(v);
}

// The constructor's arguments, each checked for its type by name.
Disc make_disc_of_arguments(const py::object& mass, const py::object& mdisk, const py::object& r_out_disk,
                            const py::object& l, const py::object& r_ign_in, const py::object& r_ign_out,
                            const py::object& sigma_index, const py::object& texp, const py::object& kappa,
                            const py::object& flag_outer, const py::object& mdot_out, const py::object& supply_file) {
  return make_disc(real_argument(mass, "mass"), real_argument(mdisk, "mdisk"), real_argument(r_out_disk, "r_out_disk"),
                   real_argument(l, "l"), real_argument(r_ign_in, "r_ign_in"), real_argument(r_ign_out, "r_ign_out"),
                   real_argument(sigma_index, "sigma_index"), real_argument(texp, "texp"),
                   real_argument(kappa, "kappa"), integer_argument(flag_outer, "flag_outer"),
                   real_argument(mdot_out, "mdot_out"), supply_file);
}

// The keyword a refusal of the reader names: "...: <keyword> = <value> ...".
std::string keyword_of_refusal(const std::string& why) {
  const auto colon = why.find(": ");
  const auto equals = why.find(" = ");
  if (colon == std::string::npos || equals == std::string::npos || equals < colon + 2) return "";
  return why.substr(colon + 2, equals - colon - 2);
}

[[noreturn]] void refuse_run(const char* keyword, const std::string& why) {
  throw invalid_parameter(keyword, std::string(keyword) + " = " + why);
}

// The checks of the program's set-up on the output times: the first must be
// finite and positive when there is one, the last too when there are two or
// more, and both finite in seconds.
void check_run_settings(const run_settings& run, double texp_seconds) {
  char buffer[200];
  auto finite_positive = [](double v) { return std::isfinite(v) && v > 0.0; };
  std::snprintf(buffer, sizeof buffer, "%.17g must be finite and positive for NUM_TIME = %d", run.min_time, run.num_time);
  if (run.num_time >= 1 && !finite_positive(run.min_time)) refuse_run("MIN_TIME", buffer);
  if (run.num_time >= 2) {
    std::snprintf(buffer, sizeof buffer, "%.17g must be finite and positive for NUM_TIME = %d", run.max_time, run.num_time);
    if (!finite_positive(run.max_time)) refuse_run("MAX_TIME", buffer);
  }
  std::snprintf(buffer, sizeof buffer, "%.17g texp is out of range in seconds (texp = %.17g s)", run.min_time, texp_seconds);
  if (run.num_time >= 1 && !std::isfinite(run.min_time * texp_seconds)) refuse_run("MIN_TIME", buffer);
  std::snprintf(buffer, sizeof buffer, "%.17g texp is out of range in seconds (texp = %.17g s)", run.max_time, texp_seconds);
  if (run.num_time >= 2 && !std::isfinite(run.max_time * texp_seconds)) refuse_run("MAX_TIME", buffer);
}

using file_owner = std::unique_ptr<FILE, int (*)(FILE*)>;

[[noreturn]] void raise_os_error(int error, const std::string& path) {
  errno = error;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file_name_of(path).ptr());
  throw py::error_already_set();
}

// A parameter file as the program's reader scans it: every keyword's value
// in the file's units (a missing one 0 or empty), the run settings and the
// reader's warnings on dropped entries.
struct scanned_file {
  gmodel mod{};
  run_settings run;
  std::string supply_file;
  py::dict values;
  std::vector<std::pair<int, std::string>> warnings;
};

// Scans a parameter file with the program's own reader. The reader fills the
// run settings, which are globals of this module's copy of the program's
// code: it runs with the GIL held (never concurrently), and the globals are
// reset before and after, so nothing carries over from one file to the next.
// A file that cannot be opened or read (a directory) raises OSError; one the
// reader refuses, ParameterError naming the keyword.
scanned_file scan_file(const std::string& path) {
  errno = 0;
  file_owner in(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!in) raise_os_error(errno, path);
  scanned_file out;
  refusal_text why{};
  reset_run_settings();
  errno = 0;
  const bool accepted = scan_parameter_entries(in.get(), &out.mod, why, [&out](int line, const char* text) {
    out.warnings.emplace_back(line, text);
  });
  const int read_error = std::ferror(in.get()) ? (errno != 0 ? errno : EIO) : 0;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
    const keyword_destination d = k.destination(&out.mod);
    if (auto* real = std::get_if<double*>(&d)) out.values[k.name] = **real;
    else if (auto* integer = std::get_if<int*>(&d)) out.values[k.name] = **integer;
    else out.values[k.name] = file_name_of(std::get<std::array<char, NAME_CAPACITY>*>(d)->data());
  }
  out.run.min_time = MIN_TIME;
  out.run.max_time = MAX_TIME;
  out.run.num_time = NUM_TIME;
  out.run.save = save;
  out.run.fast = fast;
  out.run.name = NAME.data();
  out.supply_file = SUPPLY_FILE.data();
  reset_run_settings();
  if (read_error != 0) raise_os_error(read_error, path);
  if (!accepted) throw invalid_parameter(keyword_of_refusal(why.data()), path + ": " + why.data());
  return out;
}

// The reader's warnings, as Python warnings of the category ParameterFileWarning.
void issue_warnings(const std::string& path, const scanned_file& file) {
  for (const auto& [line, text] : file.warnings) {
    const py::str message = text_of(path + " line " + std::to_string(line) + ": " + text);
    if (PyErr_WarnEx(parameter_file_warning_type, message.cast<std::string>().c_str(), 1) != 0)
      throw py::error_already_set();
  }
}

py::dict read_parameter_file(const py::object& path_argument) {
  const std::string path = required_path(path_argument, "path");
  scanned_file file = scan_file(path);
  issue_warnings(path, file);
  return file.values;
}

// The model of a parameter file: the reader's values, the set-up's checks of
// the output times.
Disc from_file(const py::object& path_argument) {
  const std::string path = required_path(path_argument, "path");
  scanned_file file = scan_file(path);
  const gmodel& mod = file.mod;
  run_settings run = file.run;
  run.texp_seconds = mod.texp * phys::seconds_per_day;  // as the program's set-up converts it
  disc_parameters p;
  p.mass = mod.mass;
  p.mdisk = mod.mdisk;
  p.r_out_disk = mod.r_out_disk;
  p.l = mod.l;
  p.r_ign_in = mod.r_ign_in;
  p.r_ign_out = mod.r_ign_out;
  p.sigma_index = mod.sigma_index;
  p.texp = mod.texp;
  p.kappa = mod.kappa;
  p.flag_outer = mod.flag_outer;
  p.mdot_out = mod.mdot_out;
  const std::string supply_path = velmora::supply_table_path(path, file.supply_file);  // as the program finds it
  std::optional<supply_table> table;
  if (!supply_path.empty()) table = read_table(supply_path);
  warn_implausible(p);
  py::gil_scoped_release release;
  const disc_model model = make_model(with_table(p, table));
  check_run_settings(run, model.texp_seconds());
  return Disc(model, std::move(table), run);
}

// ---- writing parameter files -------------------------------------------------

constexpr int REAL_DIGITS = 17;  // %.17g: every double reads back to itself

[[noreturn]] void refuse_value(const parameter_keyword& k, const std::string& why) {
  throw invalid_parameter(k.name, std::string(k.name) + " = " + why);
}

bool whole_token(const std::string& text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c));
  });
}

// A number given as text is written as given when the reader takes all of it.
std::optional<std::string> numeric_text(const parameter_keyword& k, const py::handle& value) {
  if (!py::isinstance<py::str>(value)) return std::nullopt;
  const std::string text = value.cast<std::string>();
  char* end = nullptr;
  errno = 0;
  bool whole = whole_token(text);
  if (whole && kind_of(k) == keyword_kind::real) {
    std::strtod(text.c_str(), &end);
    whole = end == text.c_str() + text.size();
  } else if (whole) {
    const long v = std::strtol(text.c_str(), &end, 10);
    whole = end == text.c_str() + text.size() && errno != ERANGE && v >= INT_MIN && v <= INT_MAX;
  }
  if (!whole) refuse_value(k, py::repr(value).cast<std::string>() + " is not a " +
                                  (kind_of(k) == keyword_kind::real ? "number" : "whole number of the range of int"));
  return text;
}

std::string formatted_value(const parameter_keyword& k, const py::handle& value) {
  const std::string shown = py::repr(value).cast<std::string>();
  if (kind_of(k) == keyword_kind::text) {
    if (!py::isinstance<py::str>(value) && !py::hasattr(value, "__fspath__") && !py::isinstance<py::bytes>(value))
      refuse_value(k, shown + " is not a text");
    const std::string text = py::module_::import("os").attr("fsencode")(value).cast<std::string>();
    if (text.empty()) return text;
    if (!whole_token(text) || text.find('#') != std::string::npos)
      refuse_value(k, shown + " cannot be written: a text of a parameter file has no blank, '#' or control character");
    if (text.size() >= NAME_CAPACITY)
      refuse_value(k, shown.substr(0, 40) + "... cannot be written: a text of a parameter file has fewer than " +
                          std::to_string(NAME_CAPACITY) + " characters");
    return text;
  }
  if (const auto text = numeric_text(k, value)) return *text;
  if (kind_of(k) == keyword_kind::integer) {
    PyObject* index = PyNumber_Index(value.ptr());
    if (!index) {
      PyErr_Clear();
      const double v = PyFloat_AsDouble(value.ptr());
      if (v == -1.0 && PyErr_Occurred()) PyErr_Clear();
      else if (std::isfinite(v) && v == std::floor(v) && v >= INT_MIN && v <= INT_MAX)
        return std::to_string(static_cast<int>(v));
      refuse_value(k, shown + " is not a whole number");
    }
    const long long v = PyLong_AsLongLong(index);
    Py_DECREF(index);
    if (PyErr_Occurred()) PyErr_Clear();
    else if (v >= INT_MIN && v <= INT_MAX) return std::to_string(v);
    refuse_value(k, shown + " is outside the range of an integer");
  }
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    refuse_value(k, shown + " is not a number");
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", REAL_DIGITS, v);
  return text;
}

// "VALUE # KEYWORD" lines in the table's order, as bytes (text values are
// file names: the system's bytes). An empty text is left out: a missing
// keyword reads as empty.
std::string format_entries(const py::handle& values) {
  const py::dict entries = py::dict(py::reinterpret_borrow<py::object>(values));
  for (const auto& item : entries) {
    const std::string key = py::isinstance<py::str>(item.first) ? item.first.cast<std::string>() : "";
    if (find_keyword(key.c_str()) != nullptr && key.find('\0') == std::string::npos) continue;
    const parameter_keyword* near = nearest_keyword(key.c_str());
    throw invalid_parameter(key, py::repr(item.first).cast<std::string>() + " is not a keyword of a parameter file" +
                                     (near ? std::string(" (did you mean ") + near->name + "?)" : std::string()));
  }
  std::string out;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
    if (!entries.contains(k.name)) continue;
    const std::string value = formatted_value(k, entries[k.name]);
    if (!value.empty()) out += value + " # " + k.name + "\n";
  }
  return out;
}

py::str format_parameter_file(const py::handle& values) { return file_name_of(format_entries(values)); }

void write_parameter_file(const py::object& path_argument, const py::handle& values) {
  const std::string path = required_path(path_argument, "path");
  const std::string text = format_entries(values);  // a refusal leaves no file
  errno = 0;
  file_owner out(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!out) raise_os_error(errno, path);
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
  const int write_error = errno;
  const int closed = std::fclose(out.release());
  if (!written || closed != 0) raise_os_error(!written && write_error != 0 ? write_error : (errno != 0 ? errno : EIO), path);
}

const char* kind_name(const parameter_keyword& k) {
  switch (kind_of(k)) {
    case keyword_kind::real: return "real";
    case keyword_kind::integer: return "integer";
    case keyword_kind::text: return "text";
  }
  return "";
}

Disc replace(const Disc& d, const py::kwargs& changes) {
  disc_parameters p = d.model().parameters();
  std::optional<supply_table> table = d.table();
  for (const auto& item : changes) {
    const std::string key = item.first.cast<std::string>();
    const py::handle value = item.second;
    if (key == "mass") p.mass = real_argument(value, "mass");
    else if (key == "mdisk") p.mdisk = real_argument(value, "mdisk");
    else if (key == "r_out_disk") p.r_out_disk = real_argument(value, "r_out_disk");
    else if (key == "l") p.l = real_argument(value, "l");
    else if (key == "r_ign_in") p.r_ign_in = real_argument(value, "r_ign_in");
    else if (key == "r_ign_out") p.r_ign_out = real_argument(value, "r_ign_out");
    else if (key == "sigma_index") p.sigma_index = real_argument(value, "sigma_index");
    else if (key == "texp") p.texp = real_argument(value, "texp");
    else if (key == "kappa") p.kappa = real_argument(value, "kappa");
    else if (key == "flag_outer") p.flag_outer = integer_argument(value, "flag_outer");
    else if (key == "mdot_out") p.mdot_out = real_argument(value, "mdot_out");
    else if (key == "supply_file") {
      const auto path = path_of(py::reinterpret_borrow<py::object>(value), "supply_file");
      table = path ? std::optional<supply_table>(read_table(*path)) : std::nullopt;
    } else {
      throw py::type_error("replace() got an unexpected keyword argument '" + key + "'");
    }
  }
  p = with_table(p, table);
  py::gil_scoped_release release;
  return Disc(d.model().with(p), std::move(table), d.run());
}

using vector_input = py::array_t<double, py::array::c_style | py::array::forcecast>;
using time_method = void (disc_model::*)(const double*, std::size_t, double*) const;
using grid_method = void (disc_model::*)(const double*, std::size_t, const double*, std::size_t, double*) const;

std::vector<py::ssize_t> shape_of(const vector_input& a) { return {a.shape(), a.shape() + a.ndim()}; }

// A result of the shape given: a float for a shape of no dimensions.
py::object result(py::array_t<double> out) {
  if (out.ndim() == 0) return py::float_(*out.data());
  return std::move(out);
}

py::object per_time(const Disc& d, const vector_input& t, time_method method) {
  py::array_t<double> out(shape_of(t));
  const disc_model& model = d.model();
  {
    py::gil_scoped_release release;
    (model.*method)(t.data(), static_cast<std::size_t>(t.size()), out.mutable_data());
  }
  return result(std::move(out));
}

py::object per_time_and_point(const Disc& d, const vector_input& points, const vector_input& t, grid_method method) {
  std::vector<py::ssize_t> shape = shape_of(t);
  const std::vector<py::ssize_t> point_shape = shape_of(points);
  shape.insert(shape.end(), point_shape.begin(), point_shape.end());
  py::array_t<double> out(shape);
  const disc_model& model = d.model();
  {
    py::gil_scoped_release release;
    (model.*method)(points.data(), static_cast<std::size_t>(points.size()), t.data(),
                    static_cast<std::size_t>(t.size()), out.mutable_data());
  }
  return result(std::move(out));
}

py::dict parameters_of(const Disc& d) {
  const disc_parameters& p = d.model().parameters();
  py::dict out("mass"_a = p.mass, "mdisk"_a = p.mdisk, "r_out_disk"_a = p.r_out_disk, "l"_a = p.l,
               "r_ign_in"_a = p.r_ign_in, "r_ign_out"_a = p.r_ign_out, "sigma_index"_a = p.sigma_index,
               "texp"_a = p.texp, "kappa"_a = p.kappa, "flag_outer"_a = p.flag_outer, "mdot_out"_a = p.mdot_out);
  out["supply_file"] = d.table() ? py::object(py::str(d.table()->path)) : py::object(py::none());
  return out;
}

py::object run_settings_of(const Disc& d) {
  if (!d.run()) return py::none();
  const run_settings& r = *d.run();
  return py::dict("MIN_TIME"_a = r.min_time, "MAX_TIME"_a = r.max_time, "NUM_TIME"_a = r.num_time, "save"_a = r.save,
                  "fast"_a = r.fast, "name"_a = r.name);
}

// The program's output times: t_i = MIN_TIME step^i, step = (MAX_TIME/MIN_TIME)^(1/(NUM_TIME-1)), in s.
py::array_t<double> output_times(const Disc& d) {
  if (!d.run()) throw py::value_error("output_times(): this model was not read from a parameter file");
  const run_settings& r = *d.run();
  // The run scales the times by its own texp (s), the file's days times
  // 86400: the same number as the model's, or one rounding away.
  const double texp = r.texp_seconds != 0.0 ? r.texp_seconds : d.model().texp_seconds();
  const double min_time = r.min_time * texp;
  const double max_time = r.max_time * texp;
  const double step = std::pow(max_time / min_time, 1.0 / (static_cast<double>(r.num_time) - 1.0));
  py::array_t<double> out(std::max(r.num_time, 0));
  for (int i = 0; i < r.num_time; ++i) out.mutable_data()[i] = min_time * std::pow(step, static_cast<double>(i));
  return out;
}

std::string repr(const Disc& d) {
  py::dict p = parameters_of(d);
  std::string text = "velmora.Disc(";
  bool first = true;
  for (const auto& item : p) {
    if (item.second.is_none()) continue;
    if (!first) text += ", ";
    first = false;
    text += item.first.cast<std::string>() + "=" + py::repr(item.second).cast<std::string>();
  }
  return text + ")";
}

// Seconds per call of std::exp, the function every modal sum calls once per
// mode and time: n calls on arguments spread like decay rates times times.
double seconds_per_exponential(std::size_t n) {
  py::gil_scoped_release release;
  volatile double sink = 0.0;
  double total = 0.0;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < n; ++i) total += std::exp(-1e-3 * static_cast<double>(i % 40000));
  const auto end = std::chrono::steady_clock::now();
  sink = total;
  (void)sink;
  return std::chrono::duration<double>(end - start).count() / static_cast<double>(std::max<std::size_t>(n, 1));
}

// Pickling (multiprocessing pools that spawn): the parameters as given, a
// supply table by its path (read again), the run settings of a file.
py::tuple state_of(const Disc& d) {
  py::object run = py::none();
  if (d.run()) {
    const run_settings& r = *d.run();
    run = py::make_tuple(r.min_time, r.max_time, r.num_time, r.save, r.fast, r.name, r.texp_seconds);
  }
  return py::make_tuple(parameters_of(d), run);
}

Disc disc_of_state(const py::tuple& state) {
  if (state.size() != 2) throw std::runtime_error("velmora.Disc: invalid pickled state");
  const py::dict p = state[0].cast<py::dict>();
  Disc d = make_disc(p["mass"].cast<double>(), p["mdisk"].cast<double>(), p["r_out_disk"].cast<double>(),
                     p["l"].cast<double>(), p["r_ign_in"].cast<double>(), p["r_ign_out"].cast<double>(),
                     p["sigma_index"].cast<double>(), p["texp"].cast<double>(), p["kappa"].cast<double>(),
                     p["flag_outer"].cast<int>(), p["mdot_out"].cast<double>(), p["supply_file"]);
  if (state[1].is_none()) return d;
  const py::tuple r = state[1].cast<py::tuple>();
  run_settings run;
  run.min_time = r[0].cast<double>();
  run.max_time = r[1].cast<double>();
  run.num_time = r[2].cast<int>();
  run.save = r[3].cast<int>();
  run.fast = r[4].cast<int>();
  run.name = r[5].cast<std::string>();
  run.texp_seconds = r[6].cast<double>();
  return Disc(d.model(), d.table(), run);
}

constexpr const char* DISC_DOC = R"(A viscous accretion disc around a compact object, solved exactly.

The torque F(x, t) of the disc obeys the viscous diffusion equation with the
viscosity nu = nu0 r^(2 - 0.5/l); the solution is a sum of Bessel eigenmodes
plus closed-form profiles that carry the supply at the outer edge. A Disc is
immutable and may be evaluated from several threads at once (the GIL is
released while it computes).

Keyword arguments, as the keywords of a parameter file and in its units (a
missing one is 0, as in a file):
  mass         g, mass of the central object
  mdisk        g, mass of the initial disc between r_ign_in and r_out_disk
  r_out_disk   cm, outer radius of the disc
  l            viscosity index (0.1 <= l <= 10), b = 2 - 0.5/l
  r_ign_in     inner edge of the initial matter, units of r_out_disk
  r_ign_out    outer edge of the initial matter, units of r_out_disk
  sigma_index  initial surface density ~ r^sigma_index
  texp         days, viscous time (e-folding time of the first mode); 0: from kappa
  kappa        cgs, viscosity constant, used when texp is 0
  flag_outer   0 no supply, 1 constant supply mdot_out, 2 a supply law
  mdot_out     g/s, the constant supply of flag_outer 1
  supply_file  path of a supply table (days, g/s) for flag_outer 2; None:
               the built-in law (1e18 g/s decaying over 30 days, then 4e18 g/s
               exp(-t/30 d) from day 60)

A quantity the model cannot use raises ParameterError (a ValueError) naming
it. Times are in seconds since the start (t > 0, any order and shape).)";

}  // namespace

PYBIND11_MODULE(_velmora, m) {
  // GSL's default error handler aborts the process; the core checks the
  // status of what it calls instead.
  gsl_set_error_handler_off();

  m.doc() = "The exact solution of velmora's viscous accretion-disc model (see velmora.Disc).";

  parameter_error_type = PyErr_NewExceptionWithDoc(
      "velmora.ParameterError",
      "A model quantity or argument that cannot be used; a ValueError. The attribute `parameter` is its keyword "
      "(such as 'l' or 't'), or None.",
      PyExc_ValueError, nullptr);
  m.add_object("ParameterError", py::handle(parameter_error_type).inc_ref());
  solution_error_type = PyErr_NewExceptionWithDoc(
      "velmora.SolutionError",
      "A time or quantity the solution cannot resolve (a RuntimeError): a sum that does not converge, a time "
      "beyond the reach of the supply's history.",
      PyExc_RuntimeError, nullptr);
  m.add_object("SolutionError", py::handle(solution_error_type).inc_ref());
  parameter_file_warning_type = PyErr_NewExceptionWithDoc(
      "velmora.ParameterFileWarning",
      "An entry of a parameter file that the reader drops although it looks like a keyword entry (a UserWarning).",
      PyExc_UserWarning, nullptr);
  m.add_object("ParameterFileWarning", py::handle(parameter_file_warning_type).inc_ref());
  plausibility_warning_type = PyErr_NewExceptionWithDoc(
      "velmora.PlausibilityWarning",
      "A model quantity that is valid but looks like another unit (solar masses for g, km for cm, seconds for "
      "days); the message names the value meant (a UserWarning).",
      PyExc_UserWarning, nullptr);
  m.add_object("PlausibilityWarning", py::handle(plausibility_warning_type).inc_ref());
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const invalid_parameter& e) {
      // The message names the parameter ("texp: nu0 = inf ..." where the core names a derived constant).
      std::string message = e.what();
      if (!e.parameter().empty() && message.find(e.parameter() + " = ") == std::string::npos &&
          message.rfind(e.parameter() + ": ", 0) != 0)
        message = e.parameter() + ": " + message;
      py::object error = py::reinterpret_borrow<py::object>(parameter_error_type)(text_of(message));
      error.attr("parameter") = e.parameter().empty() ? py::object(py::none()) : py::object(text_of(e.parameter()));
      PyErr_SetObject(parameter_error_type, error.ptr());
    } catch (const velmora::solution_error& e) {
      PyErr_SetObject(solution_error_type, text_of(e.what()).ptr());
    }
  });

  py::class_<parameter_keyword>(m, "Keyword",
                                 "A keyword of the parameter file, as the program's reader knows it.")
      .def_property_readonly("name", [](const parameter_keyword& k) { return k.name; }, "The keyword as written.")
      .def_property_readonly("unit", [](const parameter_keyword& k) { return k.unit; },
                             "The unit of its value in a parameter file (\"g\", \"cm\", \"days\", \"texp\", ...).")
      .def_property_readonly("kind", &kind_name, "\"real\", \"integer\" or \"text\".")
      .def_property_readonly("model", [](const parameter_keyword& k) { return k.model; },
                             "True for a quantity of the disc model, False for a setting of the run.")
      .def_property_readonly("doc", [](const parameter_keyword& k) { return k.doc; },
                             "One line: the unit and what the value is.")
      .def("__repr__", [](const parameter_keyword& k) {
        return std::string("velmora.Keyword(") + py::repr(py::str(k.name)).cast<std::string>() + ", unit=" +
               py::repr(py::str(k.unit)).cast<std::string>() + ", kind='" + kind_name(k) + "', model=" +
               (k.model ? "True" : "False") + ")";
      });
  m.def(
      "keywords",
      [] {
        py::list out;
        for (const parameter_keyword& k : PARAMETER_KEYWORDS) out.append(py::cast(&k, py::return_value_policy::reference));
        return out;
      },
      "The keywords of a parameter file, in the order of the program's table (that of `velmora --check`).");
  m.def("read_parameter_file", &read_parameter_file, "path"_a,
        R"(The values of a parameter file, read as the program reads it.

Returns a dict of every keyword (velmora.keywords()) to its value in the
file's units: a float, an int or a str; a keyword the file does not give is
0 or "". An entry the reader drops although it looks like one (a misspelt
keyword, a value that is not a number) is reported with warnings.warn as a
velmora.ParameterFileWarning. A file the reader refuses raises
ParameterError naming the keyword; one that cannot be read, OSError.)");
  m.def("format_parameter_file", &format_parameter_file, "values"_a,
        R"(The text of a parameter file of the given values: "VALUE # KEYWORD" lines.

values maps keywords to values in the file's units. Lines follow the order
of velmora.keywords(); reals are written with 17 significant digits (a
number given as a str the reader takes whole is written as given), so the
file reads back to the same values; an empty text is left out. An unknown
keyword, a value of the wrong kind, or a text the file cannot hold (a blank,
'#', a control character, 600 characters or more) raises ParameterError
naming the keyword.)");
  m.def("write_parameter_file", &write_parameter_file, "path"_a, "values"_a,
        "Writes format_parameter_file(values) to the file path (nothing is written when a value is refused).");

  // The package's version (CMakeLists.txt's project version) and the model's
  // constants (model/constants.h, their one place), for velmora.constants.
  m.attr("__version__") = VELMORA_VERSION;
  m.attr("G") = phys::G;
  m.attr("c_light") = phys::c_light;
  m.attr("seconds_per_day") = phys::seconds_per_day;

  m.def("_seconds_per_exponential", &seconds_per_exponential, "n"_a,
        "Seconds per std::exp over n calls, for bench/python_speed.py.");

  py::class_<Disc>(m, "Disc", DISC_DOC)
      .def(py::init(&make_disc_of_arguments), py::kw_only(), "mass"_a = 0.0, "mdisk"_a = 0.0, "r_out_disk"_a = 0.0, "l"_a = 0.0,
           "r_ign_in"_a = 0.0, "r_ign_out"_a = 0.0, "sigma_index"_a = 0.0, "texp"_a = 0.0, "kappa"_a = 0.0,
           "flag_outer"_a = 0, "mdot_out"_a = 0.0, "supply_file"_a = py::none())
      .def_static("from_file", &from_file, "path"_a,
                  R"(The model of a parameter file, read as the program reads it.

The keywords of the run (MIN_TIME, MAX_TIME, NUM_TIME, save, fast, name) are
kept in run_settings; output_times() gives the program's output times. The
file's refusals, and those of the program's set-up, raise ParameterError
naming the keyword; a file that cannot be opened raises OSError.)")
      .def("replace", &replace,
           R"(A new Disc with some parameters changed (keyword arguments as for Disc).

The new model shares the Bessel modes of its order with this one and, when l,
r_ign_in, r_ign_out and sigma_index are unchanged, the projections of the
initial torque: changing texp, kappa, mdisk, mass, r_out_disk, flag_outer or
mdot_out costs no new integrals.)")
      .def("mdot",
           [](const Disc& d, const vector_input& t) { return per_time(d, t, &disc_model::mdot_in); }, "t"_a,
           R"(The accretion rate at the centre (g/s) at times t (s, t > 0): (2 pi / hout) dF/dxi at xi = 0.

Returns an array of t's shape (a float for a scalar t).)")
      .def("mdot_fit",
           [](const Disc& d, const vector_input& t) { return per_time(d, t, &disc_model::mdot_fit); }, "t"_a,
           R"(The five-point estimate of the rate (g/s) at times t (s): 2 pi / hout times the
least-squares slope of F = c xi through the origin at xi = 0.05, 0.07, ..., 0.13, the program's
column 3 without its quadrature. It departs from mdot() where the torque is curved there.)")
      .def("disc_mass",
           [](const Disc& d, const vector_input& t) { return per_time(d, t, &disc_model::disc_mass); }, "t"_a,
           "The mass in the disc (g) at times t (s).")
      .def("accreted_mass",
           [](const Disc& d, const vector_input& t) { return per_time(d, t, &disc_model::accreted_mass); }, "t"_a,
           "The mass accreted through the centre (g) from 0 to the times t (s).")
      .def("supplied_mass",
           [](const Disc& d, const vector_input& t) { return per_time(d, t, &disc_model::supplied_mass); }, "t"_a,
           "The mass supplied at the outer edge (g) from 0 to the times t (s).")
      .def("torque",
           [](const Disc& d, const vector_input& x, const vector_input& t) {
             return per_time_and_point(d, x, t, &disc_model::torque);
           },
           "x"_a, "t"_a,
           R"(The torque F (g cm^2 s^-2) at the dimensionless radii x (0 <= x <= 1, r = r_out_disk x^(4l))
and the times t (s). The result has the shape t.shape + x.shape: out[j, k] for t[j], x[k].
F is the viscous torque over 2 pi, vanishing at the centre r = 0 (not at the marginally stable orbit):
Mdot = 2 pi dF/dh, a steady disc has F = Mdot h / (2 pi), and each face radiates (3/4) F Omega / r^2.)")
      .def("surface_density",
           [](const Disc& d, const vector_input& r, const vector_input& t) {
             return per_time_and_point(d, r, t, &disc_model::surface_density);
           },
           "r"_a, "t"_a,
           R"(The surface density Sigma (g/cm^2) at the radii r (cm, 0 < r <= r_out_disk) and the times
t (s), from F = 3/2 nu Sigma h. The result has the shape t.shape + r.shape: out[j, k] for t[j], r[k].)")
      .def(
          "modes_needed",
          [](const Disc& d, const vector_input& t) {
            py::array_t<std::size_t> out(shape_of(t));
            for (py::ssize_t j = 0; j < t.size(); ++j) out.mutable_data()[j] = d.model().modes_needed(t.data()[j]);
            return out;
          },
          "t"_a, "The number of Bessel modes the rate's sums take at times t (s): what a call of mdot costs per time.")
      .def(py::pickle(&state_of, &disc_of_state))
      // Every protocol, 0 and 1 included, rebuilds a Disc as protocol 2 does:
      // a new instance given the state by __setstate__.
      .def("__reduce__",
           [](const py::object& self) {
             return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"), py::make_tuple(py::type::of(self)),
                                   self.attr("__getstate__")());
           })
      .def("output_times", &output_times,
           "The program's output times (s) of a model read from a parameter file: NUM_TIME times from MIN_TIME "
           "to MAX_TIME texp, spaced logarithmically.")
      .def_property_readonly("parameters", &parameters_of,
                             "The parameters as given (a dict of the file's keywords, in its units).")
      .def_property_readonly("run_settings", &run_settings_of,
                             "The run's keywords of the parameter file (MIN_TIME, MAX_TIME in texp, NUM_TIME, save, "
                             "fast, name), or None for a model not read from a file.")
      .def_property_readonly("texp_seconds", [](const Disc& d) { return d.model().texp_seconds(); },
                             "The viscous time (s): the e-folding time of the first mode.")
      .def_property_readonly("nu0", [](const Disc& d) { return d.model().nu0(); },
                             "The viscosity coefficient (cgs) of nu = nu0 r^(2 - 0.5/l).")
      .def_property_readonly("kappa", [](const Disc& d) { return d.model().kappa(); },
                             "The viscosity constant in the angular-momentum variable (cgs), derived from texp.")
      .def_property_readonly("hout", [](const Disc& d) { return d.model().hout(); },
                             "The specific angular momentum at the outer edge (cm^2/s), sqrt(G mass r_out_disk).")
      .def_property_readonly("initial_mass", [](const Disc& d) { return d.model().initial_mass(); },
                             "The disc's mass at t = 0 (g).")
      .def("__repr__", &repr);
  velmora_python::bind_observables(m, [](py::handle d) -> const disc_model& { return d.cast<const Disc&>().model(); });
}
