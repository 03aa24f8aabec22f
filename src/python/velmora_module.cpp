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
#include "exact/output_times.h"
#include "exact/plausibility.h"
#include "exact/supply_history.h"
#include "model/constants.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "python/interruptible.h"
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

// The model keyword whose value is a file, the supply table: the one model
// keyword of text in the table.
const parameter_keyword& table_keyword() {
  static const parameter_keyword* const keyword = [] {
    for (const parameter_keyword& k : PARAMETER_KEYWORDS)
      if (k.model && kind_of(k) == keyword_kind::text) return &k;
    throw std::logic_error("the keyword table has no model keyword of text (the supply table)");
  }();
  return *keyword;
}

// A supply table read from a file, with the name it was given by. The
// history keeps the rows it was built from, so that a copy of the model
// (a pickle) carries the table itself, not a path to read again.
struct supply_table {
  std::string path;
  std::shared_ptr<const velmora::supply_history> history;
};

supply_table read_table(const std::string& path) {
  const char* name = table_keyword().name;
  try {
    return {path, std::make_shared<const velmora::supply_history>(velmora::read_supply_table(path))};
  } catch (const velmora::supply_table_error& e) {
    throw invalid_parameter(name, std::string(name) + " = " + path + ": " + e.what());
  }
}

// A supply table rebuilt from its rows (s, g/s): the same pieces as the file gave.
supply_table table_of_rows(const std::string& path, std::vector<double> t_s, std::vector<double> rate) {
  const char* name = table_keyword().name;
  try {
    return {path, std::make_shared<const velmora::supply_history>(
                      velmora::supply_history::from_table(std::move(t_s), std::move(rate), path))};
  } catch (const std::invalid_argument& e) {
    throw invalid_parameter(name, std::string(name) + " = " + path + ": " + e.what());
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

// Text of the system (file names, quoted tokens) as Python text for a
// message: UTF-8 where it is, other bytes as \xNN, so a message never fails
// to form; and a character that would not show (a byte-order mark or another
// format character, a control character other than a line break or a tab,
// a space other than ' ') escaped as repr() escapes it, so that a quoted
// value shows all it holds ('\ufeff1e34', not what looks like '1e34').
py::str text_of(const std::string& bytes) {
  PyObject* decoded = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "backslashreplace");
  if (!decoded) throw py::error_already_set();
  const py::str text = py::reinterpret_steal<py::str>(decoded);
  if (PyObject_IsTrue(text.attr("isprintable")().ptr()) == 1) return text;
  const Py_ssize_t n = PyUnicode_GET_LENGTH(text.ptr());
  std::string shown;
  bool escaped = false;
  for (Py_ssize_t i = 0; i < n; ++i) {
    const Py_UCS4 c = PyUnicode_READ_CHAR(text.ptr(), i);
    if (Py_UNICODE_ISPRINTABLE(c) || c == '\n' || c == '\t') {
      PyObject* one = PyUnicode_FromOrdinal(static_cast<int>(c));
      if (!one) throw py::error_already_set();
      shown += py::reinterpret_steal<py::str>(one).cast<std::string>();
      continue;
    }
    char code[16];
    std::snprintf(code, sizeof code, c < 0x100 ? "\\x%02x" : c < 0x10000 ? "\\u%04x" : "\\U%08x", static_cast<unsigned>(c));
    shown += code;
    escaped = true;
  }
  return escaped ? py::str(shown) : text;
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

}  // namespace

// Every argument or self of type Disc is checked to be constructed: an instance
// made by Disc.__new__ alone (or by a subclass whose __init__ does not call
// Disc.__init__) has no Disc, and pybind11 hands out fresh uninitialised memory
// for it: mdot() crashed, parameters aborted, texp_seconds read garbage.
namespace pybind11::detail {
template <>
class type_caster<Disc> : public type_caster_base<Disc> {
 public:
  bool load(handle src, bool convert) {
    if (src && isinstance<Disc>(src)) {
      auto* self = reinterpret_cast<instance*>(src.ptr());
      if (!self->get_value_and_holder(get_type_info(typeid(Disc))).holder_constructed())
        throw type_error("velmora.Disc: this instance was never constructed (Disc.__new__ without __init__, or a "
                         "subclass whose __init__ does not call Disc.__init__): make one with velmora.Disc(...), "
                         "Disc.from_file or replace()");
    }
    return type_caster_base<Disc>::load(src, convert);
  }
};
}  // namespace pybind11::detail

namespace {

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
  if (table) velmora::check_supply_file_mode(table->path, p.flag_outer);
  p.supply = table ? table->history : nullptr;
  return p;
}

// A number argument: anything Python takes as a float (int, float, numpy
// scalars), never a str; another type raises TypeError naming the parameter.
double real_argument(const py::handle& value, const char* name) {
  // An array of one element converts to a float too (numpy's __float__): one number is meant.
  const bool array = py::isinstance<py::array>(value) && py::reinterpret_borrow<py::array>(value).ndim() > 0;
  if (!array && !PyUnicode_Check(value.ptr()) && !PyBytes_Check(value.ptr())) {
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

// ---- the model's keywords, as the parameter file's table gives them ------------
//
// The table addresses each keyword's value in the reader's record
// (parameter_values) in the file's units. The model's parameters pass through
// such a record on their way in and out of Python, so that the table alone
// says which keywords a Disc takes, of which kind and in which order.


// The model's parameters of a record in the file's units (the supply table apart).

// A model keyword of the table whose value is a number (the supply table's is a path).
bool numeric_model_keyword(const parameter_keyword& k) { return k.model && kind_of(k) != keyword_kind::text; }

// A keyword argument of the constructor or of replace(): a model keyword, or a
// TypeError as Python gives one, with the keyword meant.
const parameter_keyword& model_keyword(const std::string& word, const char* function) {
  const parameter_keyword* k = word.find('\0') == std::string::npos ? find_keyword(word.c_str()) : nullptr;
  if (k != nullptr && k->model) return *k;
  std::string text = std::string(function) + "() got an unexpected keyword argument '" + word + "'";
  const parameter_keyword* near = k != nullptr ? nullptr : nearest_keyword(word.c_str());
  if (k != nullptr) text += ": a setting of the run, not of the model (see Disc.from_file)";
  else if (near != nullptr && near->model) text += std::string(" (did you mean '") + near->name + "'?)";
  throw py::type_error(text);
}

// Sets a numeric model keyword of the record, checking the argument's type by name.
void set_model_value(const parameter_keyword& k, parameter_values& m, const py::handle& value) {
  const keyword_destination d = k.destination(&m);
  if (auto* real = std::get_if<double*>(&d)) **real = real_argument(value, k.name);
  else if (auto* integer = std::get_if<int*>(&d)) **integer = integer_argument(value, k.name);
}

// A keyword's value in a record, as Python gets it: a float, an int, or a
// text as a file name (os.fsdecode).
py::object keyword_value(const parameter_keyword& k, parameter_values& m) {
  const keyword_destination d = k.destination(&m);
  if (auto* real = std::get_if<double*>(&d)) return py::float_(**real);
  if (auto* integer = std::get_if<int*>(&d)) return py::int_(**integer);
  return file_name_of(std::get<std::array<char, NAME_CAPACITY>*>(d)->data());
}

// The model of keyword arguments given on top of `base` and its table: every
// keyword named by the table, the supply table's by its path (None: none).
struct model_arguments {
  disc_parameters parameters;
  std::optional<supply_table> table;
};

model_arguments arguments_of(const py::dict& given, const disc_parameters& base, std::optional<supply_table> table,
                             const char* function) {
  parameter_values m = velmora::parameter_values_of(base);
  std::optional<std::optional<std::string>> new_path;  // a table named here (a path, or None: none)
  for (const auto& item : given) {
    const std::string word = py::str(item.first).cast<std::string>();
    const parameter_keyword& k = model_keyword(word, function);
    if (numeric_model_keyword(k)) set_model_value(k, m, item.second);
    else new_path = path_of(py::reinterpret_borrow<py::object>(item.second), k.name);
  }
  disc_parameters p = velmora::disc_parameters_of(m);
  if (new_path) {
    // The mode first, as the program checks it before it opens the table: a table given with
    // flag_outer 0 or 1 is refused for the mode, whatever the file holds or whether it exists.
    if (*new_path) velmora::check_supply_file_mode(**new_path, p.flag_outer);
    table = *new_path ? std::optional<supply_table>(read_table(**new_path)) : std::nullopt;
  }
  return {with_table(p, table), std::move(table)};
}

Disc make_disc(const py::kwargs& given) {
  model_arguments a = arguments_of(given, disc_parameters{}, std::nullopt, "Disc");
  warn_implausible(a.parameters);
  py::gil_scoped_release release;
  return Disc(make_model(a.parameters), std::move(a.table), std::nullopt);
}

// The keyword a refusal of the reader names: "...: <keyword> = <value> ...".
std::string keyword_of_refusal(const std::string& why) {
  const auto colon = why.find(": ");
  const auto equals = why.find(" = ");
  if (colon == std::string::npos || equals == std::string::npos || equals < colon + 2) return "";
  return why.substr(colon + 2, equals - colon - 2);
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
  parameter_values read{};
  run_settings run;
  py::dict values;
  std::vector<std::pair<int, std::string>> warnings;
};

// Scans a parameter file with the program's own reader, which returns the
// values and writes no global. A file that cannot be opened or read (a
// directory) raises OSError; one the reader refuses, ParameterError naming
// the keyword.
scanned_file scan_file(const std::string& path) {
  errno = 0;
  file_owner in(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!in) raise_os_error(errno, path);
  scanned_file out;
  refusal_text why{};
  errno = 0;
  const bool accepted = scan_parameter_entries(in.get(), out.read, why, [&out](int line, const char* text) {
    out.warnings.emplace_back(line, text);
  });
  const int read_error = std::ferror(in.get()) ? (errno != 0 ? errno : EIO) : 0;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) out.values[k.name] = keyword_value(k, out.read);
  out.run.min_time = out.read.min_time;
  out.run.max_time = out.read.max_time;
  out.run.num_time = out.read.num_time;
  out.run.save = out.read.save;
  out.run.fast = out.read.fast;
  out.run.name = out.read.name.data();
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
  run_settings run = file.run;
  run.texp_seconds = phys::seconds_per_day * file.read.texp;  // as the program's set-up converts it
  const disc_parameters p = velmora::disc_parameters_of(file.read);
  const std::string supply_file = file.read.supply_file.data();
  velmora::check_supply_file_mode(supply_file, p.flag_outer);  // before the table is read, as the program does
  const std::string supply_path = velmora::supply_table_path(path, supply_file);  // as the program finds it
  std::optional<supply_table> table;
  if (!supply_path.empty()) table = read_table(supply_path);
  warn_implausible(p);
  py::gil_scoped_release release;
  const disc_model model = make_model(with_table(p, table));
  velmora::check_output_times(run.min_time, run.max_time, run.num_time, model.texp_seconds());
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
    if (value.is_none()) return "";  // no file, as Disc.parameters gives it: left out
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
// file names: the system's bytes). An empty text (or None) is left out: a
// missing keyword reads as empty.
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
  model_arguments a = arguments_of(changes, d.model().parameters(), d.table(), "replace");
  py::gil_scoped_release release;
  return Disc(d.model().with(a.parameters), std::move(a.table), d.run());
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
  velmora_python::per_time_blocks(t.data(), static_cast<std::size_t>(t.size()), out.mutable_data(),
                                  [&](const double* tb, std::size_t n, double* o) { (model.*method)(tb, n, o); });
  return result(std::move(out));
}

py::object per_time_and_point(const Disc& d, const vector_input& points, const vector_input& t, grid_method method) {
  std::vector<py::ssize_t> shape = shape_of(t);
  const std::vector<py::ssize_t> point_shape = shape_of(points);
  shape.insert(shape.end(), point_shape.begin(), point_shape.end());
  py::array_t<double> out(shape);
  const disc_model& model = d.model();
  velmora_python::grid_blocks(
      points.data(), static_cast<std::size_t>(points.size()), t.data(), static_cast<std::size_t>(t.size()),
      out.mutable_data(), [&](const double* x, std::size_t nx, const double* tb, std::size_t nt, double* o) {
        (model.*method)(x, nx, tb, nt, o);
      });
  return result(std::move(out));
}

// The model keywords in the table's order, in the file's units; the supply
// table by the path it was given (None: none).
py::dict parameters_of(const Disc& d) {
  parameter_values m = velmora::parameter_values_of(d.model().parameters());
  py::dict out;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
    if (numeric_model_keyword(k)) out[k.name] = keyword_value(k, m);
    else if (k.model) out[k.name] = d.table() ? py::object(file_name_of(d.table()->path)) : py::object(py::none());
  }
  return out;
}

// The run's keywords in the table's order, as a parameter file gives them.
py::object run_settings_of(const Disc& d) {
  if (!d.run()) return py::none();
  const run_settings& r = *d.run();
  parameter_values values{};
  values.min_time = r.min_time;
  values.max_time = r.max_time;
  values.num_time = r.num_time;
  values.save = r.save;
  values.fast = r.fast;
  std::snprintf(values.name.data(), values.name.size(), "%s", r.name.c_str());  // a file's name: it fits
  py::dict out;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS)
    if (!k.model) out[k.name] = keyword_value(k, values);
  return out;
}

// The program's output times (exact/output_times.h), in s.
py::array_t<double> output_times(const Disc& d) {
  if (!d.run()) throw py::value_error("output_times(): this model was not read from a parameter file");
  const run_settings& r = *d.run();
  // The run scales the times by its own texp (s), the file's days times
  // 86400: the same number as the model's, or one rounding away.
  const double texp = r.texp_seconds != 0.0 ? r.texp_seconds : d.model().texp_seconds();
  const std::vector<double> t = velmora::output_times(r.min_time * texp, r.max_time * texp, r.num_time);
  py::array_t<double> out(static_cast<py::ssize_t>(t.size()));
  std::copy(t.begin(), t.end(), out.mutable_data());
  return out;
}

// The repr of an instance whose construction failed or never ran (a
// debugger or a test runner shows one beside the constructor's exception)
// says so instead of reading a model that is not there.
std::string repr(const py::handle& self) {
  auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
  if (!instance->get_value_and_holder().holder_constructed()) return "<velmora.Disc, not constructed>";
  const Disc& d = self.cast<const Disc&>();
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

// Pickling (multiprocessing pools that spawn): the parameters as given, the
// run settings of a file, and a supply table's rows with the name it was
// read from, so that the copy is the same model wherever it is unpickled
// and whatever became of the file. A state of two members (a pickle of an
// earlier version, which carried only the table's path) reads the table
// from its path again.
py::tuple state_of(const Disc& d) {
  py::object run = py::none();
  if (d.run()) {
    const run_settings& r = *d.run();
    run = py::make_tuple(r.min_time, r.max_time, r.num_time, r.save, r.fast, r.name, r.texp_seconds);
  }
  py::object rows = py::none();
  if (d.table()) {
    const velmora::supply_history& h = *d.table()->history;
    rows = py::make_tuple(py::bytes(d.table()->path), py::array_t<double>(h.row_times().size(), h.row_times().data()),
                          py::array_t<double>(h.row_rates().size(), h.row_rates().data()));
  }
  py::dict parameters = parameters_of(d);
  parameters[table_keyword().name] = py::none();
  return py::make_tuple(parameters, run, rows);
}

[[noreturn]] void refuse_state(const std::string& why) {
  throw py::value_error("velmora.Disc: the pickled state cannot be used (" + why + ")");
}

std::vector<double> doubles_of(const py::handle& a) {
  const auto v = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
  if (!v || v.ndim() != 1) refuse_state("the supply table's rows are not two columns of numbers");
  return {v.data(), v.data() + v.size()};
}

Disc disc_of_state(const py::tuple& state) {
  if (state.size() != 2 && state.size() != 3) refuse_state("a tuple of 2 or 3 members is expected");
  if (!py::isinstance<py::dict>(state[0])) refuse_state("its parameters are not a dict");
  py::dict given = py::dict(state[0]);
  const char* table_name = table_keyword().name;
  std::optional<supply_table> table;
  if (state.size() == 3 && !state[2].is_none()) {
    if (!py::isinstance<py::tuple>(state[2]) || py::len(state[2]) != 3) refuse_state("its supply table is not (name, times, rates)");
    const py::tuple rows = state[2].cast<py::tuple>();
    if (!py::isinstance<py::bytes>(rows[0])) refuse_state("the supply table's name is not bytes");
    table = table_of_rows(rows[0].cast<std::string>(), doubles_of(rows[1]), doubles_of(rows[2]));
    given.attr("pop")(table_name, py::none());  // the rows, not a path, give the table
  }
  model_arguments a = arguments_of(given, disc_parameters{}, table, "Disc");
  std::optional<run_settings> run;
  if (!state[1].is_none()) {
    if (!py::isinstance<py::tuple>(state[1])) refuse_state("its run settings are not a tuple");
    const py::tuple r = state[1].cast<py::tuple>();
    if (r.size() != 7) refuse_state("its run settings are not 7 values");
    run.emplace();
    try {
      run->min_time = r[0].cast<double>();
      run->max_time = r[1].cast<double>();
      run->num_time = r[2].cast<int>();
      run->save = r[3].cast<int>();
      run->fast = r[4].cast<int>();
      run->name = r[5].cast<std::string>();
      run->texp_seconds = r[6].cast<double>();
    } catch (const py::cast_error&) {
      refuse_state("its run settings are not numbers and a name");
    }
    if (run->name.size() >= NAME_CAPACITY || run->name.find('\0') != std::string::npos)
      refuse_state("its run name is not one a parameter file can give");
  }
  py::gil_scoped_release release;
  return Disc(make_model(a.parameters), std::move(a.table), std::move(run));
}

// The class's docstring: what a Disc is, then every model keyword of the
// parameter file's table with its line of help.
const char* disc_doc() {
  static const std::string doc = [] {
    std::string text = R"(A viscous accretion disc around a compact object, solved exactly.

The torque F(x, t) of the disc obeys the viscous diffusion equation with the
viscosity nu = nu0 r^(2 - 0.5/l); the solution is a sum of Bessel eigenmodes
plus closed-form profiles that carry the supply at the outer edge. A Disc is
immutable and may be evaluated from several threads at once (the GIL is
released while it computes; Ctrl-C interrupts a long evaluation).

Keyword arguments, as the keywords of a parameter file and in its units (a
missing one is 0, as in a file; a path of the supply table, None: none):
)";
    for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
      if (!k.model) continue;
      std::string name = k.name;
      name.resize(std::max<std::size_t>(name.size() + 1, 13), ' ');
      text += "  " + name + k.doc + "\n";
    }
    return text + R"(
A quantity the model cannot use raises ParameterError (a ValueError) naming
it. Times are in seconds since the start (t > 0, any order and shape).)";
  }();
  return doc.c_str();
}

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
      // The message names the parameter (the core's always start "<parameter> = "; others get it as a prefix).
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
file reads back to the same values; an empty text or None is left out. An unknown
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

  py::class_<Disc>(m, "Disc", disc_doc())
      .def(py::init(&make_disc))
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
            velmora_python::per_time_blocks(t.data(), static_cast<std::size_t>(t.size()), out.mutable_data(),
                                            [&](const double* tb, std::size_t n, std::size_t* o) {
                                              for (std::size_t j = 0; j < n; ++j) o[j] = d.model().modes_needed(tb[j]);
                                            });
            // An int for a scalar t, as the other methods give a float.
            return out.ndim() == 0 ? py::object(py::int_(*out.data())) : py::object(std::move(out));
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
