// The Python module velmora._velmora: the exact solution of the disc model
// (src/exact) as the class Disc, and the program's parameter-file reader.
//
// Every evaluation converts its arguments to contiguous arrays of doubles,
// allocates the result, and computes with the GIL released: the models are
// immutable and the core keeps no global state, so two threads evaluate two
// models (or one) at once. Errors of the core become Python exceptions:
// invalid_parameter a ParameterError (a ValueError with the parameter's
// name as the attribute `parameter`), solution_error a RuntimeError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <gsl/gsl_errno.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
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
#include "exact/supply_history.h"
#include "run/constants.h"
#include "run/model.h"
#include "run/parameters.h"
#include "run/settings.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

using velmora::disc_model;
using velmora::disc_parameters;
using velmora::invalid_parameter;

// The exception type velmora.ParameterError (a ValueError); created once,
// kept for the life of the process.
PyObject* parameter_error_type = nullptr;

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

// A path argument: str, bytes or os.PathLike.
std::optional<std::string> path_of(const py::object& value) {
  if (value.is_none()) return std::nullopt;
  py::object path = py::module_::import("os").attr("fsdecode")(value);
  return path.cast<std::string>();
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
  if (const auto path = path_of(supply_file)) table = read_table(*path);
  p = with_table(p, table);
  py::gil_scoped_release release;
  return Disc(make_model(p), std::move(table), std::nullopt);
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

// Reads a parameter file with the program's own reader. The reader fills the
// run settings, which are globals of this module's copy of the program's
// code: it runs with the GIL held (never concurrently), and the globals are
// reset before and after, so nothing carries over from one file to the next.
Disc from_file(const py::object& path_argument) {
  const std::string path = *path_of(path_argument);
  errno = 0;
  FILE* in = std::fopen(path.c_str(), "r");
  if (!in) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  gmodel mod{};
  refusal_text why{};
  run_settings run;
  reset_run_settings();
  const bool accepted = scan_parameters(in, &mod, why);  // closes the file
  run.min_time = MIN_TIME;
  run.max_time = MAX_TIME;
  run.num_time = NUM_TIME;
  run.save = save;
  run.fast = fast;
  run.name = NAME.data();
  run.texp_seconds = mod.texp;
  const std::string supply_path = velmora::supply_table_path(path, SUPPLY_FILE.data());  // as the program finds it
  reset_run_settings();
  if (!accepted) throw invalid_parameter(keyword_of_refusal(why.data()), path + ": " + why.data());

  // The reader gives radii in cm and texp in s; the model takes the file's
  // units back, as the program's column 5 does.
  disc_parameters p;
  p.mass = mod.mass;
  p.mdisk = mod.mdisk;
  p.r_out_disk = mod.r_out_disk;
  p.l = mod.l;
  p.r_ign_in = mod.r_ign_in / mod.r_out_disk;
  p.r_ign_out = mod.r_ign_out / mod.r_out_disk;
  p.sigma_index = mod.sigma_index;
  p.texp = mod.texp / phys::seconds_per_day;
  p.kappa = mod.kappa;
  p.flag_outer = mod.flag_outer;
  p.mdot_out = mod.mdot_out;
  std::optional<supply_table> table;
  if (!supply_path.empty()) table = read_table(supply_path);
  py::gil_scoped_release release;
  const disc_model model = make_model(with_table(p, table));
  check_run_settings(run, model.texp_seconds());
  return Disc(model, std::move(table), run);
}

Disc replace(const Disc& d, const py::kwargs& changes) {
  disc_parameters p = d.model().parameters();
  std::optional<supply_table> table = d.table();
  for (const auto& item : changes) {
    const std::string key = item.first.cast<std::string>();
    const py::handle value = item.second;
    if (key == "mass") p.mass = value.cast<double>();
    else if (key == "mdisk") p.mdisk = value.cast<double>();
    else if (key == "r_out_disk") p.r_out_disk = value.cast<double>();
    else if (key == "l") p.l = value.cast<double>();
    else if (key == "r_ign_in") p.r_ign_in = value.cast<double>();
    else if (key == "r_ign_out") p.r_ign_out = value.cast<double>();
    else if (key == "sigma_index") p.sigma_index = value.cast<double>();
    else if (key == "texp") p.texp = value.cast<double>();
    else if (key == "kappa") p.kappa = value.cast<double>();
    else if (key == "flag_outer") p.flag_outer = value.cast<int>();
    else if (key == "mdot_out") p.mdot_out = value.cast<double>();
    else if (key == "supply_file") {
      const auto path = path_of(py::reinterpret_borrow<py::object>(value));
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
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const invalid_parameter& e) {
      // The message names the parameter ("texp: nu0 = inf ..." where the core names a derived constant).
      std::string message = e.what();
      if (!e.parameter().empty() && message.find(e.parameter() + " = ") == std::string::npos)
        message = e.parameter() + ": " + message;
      py::object error = py::reinterpret_borrow<py::object>(parameter_error_type)(message);
      error.attr("parameter") = e.parameter().empty() ? py::object(py::none()) : py::object(py::str(e.parameter()));
      PyErr_SetObject(parameter_error_type, error.ptr());
    } catch (const velmora::solution_error& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    }
  });

  m.def("_seconds_per_exponential", &seconds_per_exponential, "n"_a,
        "Seconds per std::exp over n calls, for bench/python_speed.py.");

  py::class_<Disc>(m, "Disc", DISC_DOC)
      .def(py::init(&make_disc), py::kw_only(), "mass"_a = 0.0, "mdisk"_a = 0.0, "r_out_disk"_a = 0.0, "l"_a = 0.0,
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
and the times t (s). The result has the shape t.shape + x.shape: out[j, k] for t[j], x[k].)")
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
}
