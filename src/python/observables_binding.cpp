// velmora.Disc's observables: temperatures, fluxes, magnitudes and count
// rates over numpy arrays of times, computed with the GIL released.
#include "python/observables_binding.h"

#include <pybind11/numpy.h>

#include <string>
#include <utility>
#include <vector>

#include "exact/errors.h"
#include "exact/observables.h"
#include "model/constants.h"
#include "python/interruptible.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace velmora_python {

namespace {

using velmora::disc_model;
using model_getter = std::function<const disc_model&(py::handle)>;
using vector_input = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<py::ssize_t> shape_of(const vector_input& a) { return {a.shape(), a.shape() + a.ndim()}; }

py::object result(py::array_t<double> out) {
  if (out.ndim() == 0) return py::float_(*out.data());
  return std::move(out);
}

// A table given as an (n, 2) array of (keV, value) rows, or as a pair of
// sequences (energies, values).
velmora::spectral_table table_of(const py::object& value, const char* keyword) {
  velmora::spectral_table table;
  try {
    py::module_ np = py::module_::import("numpy");
    py::array_t<double, py::array::c_style | py::array::forcecast> a;
    if (py::isinstance<py::tuple>(value) && py::len(value) == 2) {
      auto e = np.attr("asarray")(value[py::int_(0)], "dtype"_a = "float64").cast<vector_input>();
      auto v = np.attr("asarray")(value[py::int_(1)], "dtype"_a = "float64").cast<vector_input>();
      if (e.ndim() != 1 || v.ndim() != 1) throw py::value_error("");
      table.energy.assign(e.data(), e.data() + e.size());
      table.value.assign(v.data(), v.data() + v.size());
      return table;
    }
    a = np.attr("asarray")(value, "dtype"_a = "float64").cast<vector_input>();
    if (a.ndim() != 2 || a.shape(1) != 2) throw py::value_error("");
    for (py::ssize_t i = 0; i < a.shape(0); ++i) {
      table.energy.push_back(a.at(i, 0));
      table.value.push_back(a.at(i, 1));
    }
  } catch (const py::error_already_set&) {
    throw velmora::invalid_parameter(keyword, std::string(keyword) + " = " + py::repr(value).cast<std::string>() +
                                                  ": expected an (n, 2) array of (keV, value) rows or a pair "
                                                  "(energies, values)");
  } catch (const py::value_error&) {
    throw velmora::invalid_parameter(keyword, std::string(keyword) + " = " + py::repr(value).cast<std::string>() +
                                                  ": expected an (n, 2) array of (keV, value) rows or a pair "
                                                  "(energies, values)");
  }
  return table;
}

// One value per time: compute(t, n, out) with the GIL released.
template <class Compute>
py::object per_time(const vector_input& t, Compute compute) {
  py::array_t<double> out(shape_of(t));
  per_time_blocks(t.data(), static_cast<std::size_t>(t.size()), out.mutable_data(), compute);
  return result(std::move(out));
}

// An observable at one frequency (Hz) and times t (s), as the core computes
// it: flux_density, ab_magnitude.
using at_frequency = void (*)(const disc_model&, const double* t, std::size_t nt, double frequency,
                              const velmora::viewing&, const velmora::surface&, double* out);

// Binds `compute` as the method `name` of Disc: (t, frequency, *, distance,
// inclination, f_col=1.0, c_irr=0.0), one value per time.
void bind_at_frequency(py::object& cls, const model_getter& model_of, const char* name, at_frequency compute,
                       const std::string& doc) {
  cls.attr(name) = py::cpp_function(
      [model_of, compute](py::handle self, const vector_input& t, double frequency, double distance,
                          double inclination, double f_col, double c_irr) {
        const disc_model& model = model_of(self);
        return per_time(t, [&](const double* tt, std::size_t n, double* out) {
          compute(model, tt, n, frequency, {distance, inclination}, {f_col, c_irr}, out);
        });
      },
      py::name(name), py::is_method(cls), "t"_a, "frequency"_a, py::kw_only(), "distance"_a, "inclination"_a,
      "f_col"_a = 1.0, "c_irr"_a = 0.0, doc.c_str());
}

constexpr const char* F_NOTE = R"(
The disc radiates from r_ms = 6 G M / c^2 to r_out_disk. The model's torque F
(the torque over 2 pi, g cm^2 s^-2, which vanishes at the centre r = 0) is
moved to vanish at r_ms by the quasi-static shift F - Mdot_in(t) h_ms / (2 pi),
h_ms = sqrt(G M r_ms): exact for a steady disc, elsewhere a change of relative
size h_ms / h. Each face radiates sigma T^4 = (3/4) F Omega_K / r^2 of the
shifted F (0 where it is negative), plus c_irr Mdot_in c^2 / (4 pi r^2) with
c_irr > 0 (irradiation by the central source).)";

constexpr const char* VIEW_NOTE = R"(
distance is in cm, inclination in degrees (0 face-on, below 90); fluxes are
(2 pi cos i / d^2) int r dr I, I the intensity f_col^-4 B(f_col T) of a
colour-corrected blackbody. Returns an array of t's shape (t in s).)";

}  // namespace

void bind_observables(py::module_& m, model_getter model_of) {
  // The radiation constants the observables use (model/constants.h), CGS.
  m.attr("h_planck") = phys::h_planck;
  m.attr("k_boltzmann") = phys::k_boltzmann;
  m.attr("keV") = phys::keV;
  m.attr("sigma_sb") = phys::sigma_sb;
  py::object cls = m.attr("Disc");

  const std::string temperature_doc = std::string(R"(The effective temperature (K) at radii r (cm, 0 < r <= r_out_disk) and times t (s).

The result has the shape t.shape + r.shape; 0 inside r_ms.)") + F_NOTE;
  cls.attr("effective_temperature") = py::cpp_function(
      [model_of](py::handle self, const vector_input& r, const vector_input& t, double c_irr) {
        const disc_model& model = model_of(self);
        std::vector<py::ssize_t> shape = shape_of(t);
        const auto r_shape = shape_of(r);
        shape.insert(shape.end(), r_shape.begin(), r_shape.end());
        py::array_t<double> out(shape);
        grid_blocks(r.data(), static_cast<std::size_t>(r.size()), t.data(), static_cast<std::size_t>(t.size()),
                    out.mutable_data(), [&](const double* rb, std::size_t nr, const double* tb, std::size_t nt, double* o) {
                      velmora::effective_temperature(model, rb, nr, tb, nt, c_irr, o);
                    });
        return result(std::move(out));
      },
      py::name("effective_temperature"), py::is_method(cls), "r"_a, "t"_a, "c_irr"_a = 0.0, temperature_doc.c_str());

  const std::string bolometric_doc =
      std::string(R"(The bolometric flux (erg/s/cm^2) at times t (s): cos i / (2 pi d^2) times the
luminosity of both faces, int 2 sigma T^4 2 pi r dr, of the viscous heating alone.)") +
      F_NOTE + VIEW_NOTE;
  cls.attr("bolometric_flux") = py::cpp_function(
      [model_of](py::handle self, const vector_input& t, double distance, double inclination) {
        const disc_model& model = model_of(self);
        return per_time(t, [&](const double* tt, std::size_t n, double* out) {
          velmora::bolometric_flux(model, tt, n, {distance, inclination}, out);
        });
      },
      py::name("bolometric_flux"), py::is_method(cls), "t"_a, py::kw_only(), "distance"_a, "inclination"_a,
      bolometric_doc.c_str());

  const std::string band_doc = std::string(R"(The flux (erg/s/cm^2) between e_min and e_max (keV) at times t (s).

f_col is the colour correction. With nh > 0 (cm^-2) the flux is absorbed by
exp(-nh sigma(E)), sigma from the table cross_section: an (n, 2) array of
(keV, cm^2 per hydrogen atom) rows, or a pair (energies, values), covering the
band, interpolated as a power law between rows.)") +
                               F_NOTE + VIEW_NOTE;
  cls.attr("band_flux") = py::cpp_function(
      [model_of](py::handle self, const vector_input& t, double e_min, double e_max, double distance,
                 double inclination, double f_col, double c_irr, double nh, const py::object& cross_section) {
        const disc_model& model = model_of(self);
        velmora::spectral_table sigma;
        const bool absorbed = !cross_section.is_none();
        if (absorbed) sigma = table_of(cross_section, "cross_section");
        return per_time(t, [&](const double* tt, std::size_t n, double* out) {
          velmora::band_flux(model, tt, n, e_min, e_max, {distance, inclination}, {f_col, c_irr},
                             {nh, absorbed ? &sigma : nullptr}, out);
        });
      },
      py::name("band_flux"), py::is_method(cls), "t"_a, "e_min"_a, "e_max"_a, py::kw_only(), "distance"_a,
      "inclination"_a, "f_col"_a = 1.7, "c_irr"_a = 0.0, "nh"_a = 0.0, "cross_section"_a = py::none(),
      band_doc.c_str());

  const std::string density_doc =
      std::string(R"(The flux density (erg/s/cm^2/Hz) at a frequency (Hz) and times t (s).)") + F_NOTE + VIEW_NOTE;
  bind_at_frequency(cls, model_of, "flux_density", velmora::flux_density, density_doc);

  const std::string magnitude_doc =
      std::string(R"(The AB magnitude -2.5 log10(f_nu) - 48.60 of flux_density (inf where it is 0).)") + F_NOTE +
      VIEW_NOTE;
  bind_at_frequency(cls, model_of, "ab_magnitude", velmora::ab_magnitude, magnitude_doc);

  const std::string count_doc = std::string(R"(Photons per second detected between e_min and e_max (keV) at times t (s).

effective_area is an (n, 2) array of (keV, cm^2) rows, or a pair (energies,
values), covering the band, linear between rows; nh and cross_section absorb
as in band_flux.)") + F_NOTE + VIEW_NOTE;
  cls.attr("count_rate") = py::cpp_function(
      [model_of](py::handle self, const vector_input& t, double e_min, double e_max, const py::object& effective_area,
                 double distance, double inclination, double f_col, double c_irr, double nh,
                 const py::object& cross_section) {
        const disc_model& model = model_of(self);
        const velmora::spectral_table area = table_of(effective_area, "effective_area");
        velmora::spectral_table sigma;
        const bool absorbed = !cross_section.is_none();
        if (absorbed) sigma = table_of(cross_section, "cross_section");
        return per_time(t, [&](const double* tt, std::size_t n, double* out) {
          velmora::count_rate(model, tt, n, e_min, e_max, area, {distance, inclination}, {f_col, c_irr},
                              {nh, absorbed ? &sigma : nullptr}, out);
        });
      },
      py::name("count_rate"), py::is_method(cls), "t"_a, "e_min"_a, "e_max"_a, "effective_area"_a, py::kw_only(),
      "distance"_a, "inclination"_a, "f_col"_a = 1.7, "c_irr"_a = 0.0, "nh"_a = 0.0, "cross_section"_a = py::none(),
      count_doc.c_str());
}

}  // namespace velmora_python
