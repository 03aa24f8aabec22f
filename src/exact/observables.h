// What a telescope sees of the disc: temperatures, fluxes in bands, flux
// densities, count rates. Re-entrant like the model: no globals, nothing
// printed; an argument that cannot be used raises invalid_parameter naming
// its keyword.
//
// The disc is thin, Newtonian and radiates as a blackbody of its effective
// temperature, seen through a colour correction f_col (intensity
// f_col^-4 B(f_col T)). Its inner edge is the marginally stable orbit
// r_ms = 6 G M / c^2, where the torque vanishes. The model's torque F (the
// torque over 2 pi, g cm^2 s^-2) vanishes at the centre r = 0 instead; it is
// moved to vanish at r_ms by the quasi-static shift
//     F_ms(r, t) = F(r, t) - Mdot_in(t) h_ms / (2 pi),    h_ms = sqrt(G M r_ms),
// exact for a steady disc (F = Mdot h / (2 pi)) and, elsewhere, a change of
// relative size h_ms / h that neglects how the inner disc's torque departs
// from a steady one near r_ms. Each face then radiates
//     sigma T^4 = (3/4) F_ms Omega_K / r^2 + c_irr Mdot_in c^2 / (4 pi r^2),
// the second term (irradiation by the central source) only where c_irr > 0;
// where F_ms < 0 the viscous term is taken as 0.
//
// Fluxes at a distance d (cm) and an inclination i (degrees, 0 face-on):
//     (2 pi cos i / d^2) int_{r_ms}^{r_out_disk} r dr  I(T(r)),
// with I the colour-corrected intensity integrated over the band (or at
// one frequency); the bolometric flux is cos i / (2 pi d^2) times the
// luminosity of both faces, int 2 sigma T^4 2 pi r dr, from the viscous
// heating alone.
#pragma once

#include <cstddef>
#include <vector>

#include "exact/disc_model.h"

namespace velmora {

// Where the disc is seen from.
struct viewing {
  double distance = 0.0;     // cm, > 0
  double inclination = 0.0;  // degrees, 0 (face-on) <= i < 90
};

// How the disc's surface radiates.
struct surface {
  double f_col = 1.0;  // colour correction, > 0
  double c_irr = 0.0;  // irradiation parameter, >= 0
};

// A table of the user, interpolated between its rows: energies in keV,
// ascending (two equal energies make a step, such as an absorption edge).
struct spectral_table {
  std::vector<double> energy;  // keV
  std::vector<double> value;
};

// Photo-absorption on the line of sight: exp(-nh sigma(E)), with the
// cross-section table (keV, cm^2 per hydrogen atom) interpolated as a power
// law between its rows. nh = 0 needs no table.
struct absorption {
  double nh = 0.0;                                // cm^-2, column density of hydrogen
  const spectral_table* cross_section = nullptr;  // keV, cm^2 per H atom
};

// The radius of the marginally stable orbit, 6 G M / c^2 (cm).
double marginally_stable_radius(const disc_model& m);

// Effective temperature (K) at radii r (cm, 0 < r <= r_out_disk) and times t
// (s): out[j * nr + k] for t[j], r[k]; 0 inside r_ms.
void effective_temperature(const disc_model& m, const double* r, std::size_t nr, const double* t, std::size_t nt,
                           double c_irr, double* out);

// Bolometric flux (erg s^-1 cm^-2) of the viscous heating at times t (s).
void bolometric_flux(const disc_model& m, const double* t, std::size_t nt, const viewing& v, double* out);

// Flux (erg s^-1 cm^-2) between e_min and e_max (keV), absorbed by `a`.
void band_flux(const disc_model& m, const double* t, std::size_t nt, double e_min, double e_max, const viewing& v,
               const surface& s, const absorption& a, double* out);

// Flux density (erg s^-1 cm^-2 Hz^-1) at a frequency (Hz).
void flux_density(const disc_model& m, const double* t, std::size_t nt, double frequency, const viewing& v,
                  const surface& s, double* out);

// AB magnitude of that flux density: -2.5 log10(f_nu) - 48.60 (inf where f_nu is 0).
void ab_magnitude(const disc_model& m, const double* t, std::size_t nt, double frequency, const viewing& v,
                  const surface& s, double* out);

// Photons per second detected between e_min and e_max (keV) through the
// effective-area table (keV, cm^2; linear between rows), absorbed by `a`.
void count_rate(const disc_model& m, const double* t, std::size_t nt, double e_min, double e_max,
                const spectral_table& effective_area, const viewing& v, const surface& s, const absorption& a,
                double* out);

// int_{x1}^{x2} u^3 / (e^u - 1) du for 0 <= x1 <= x2 (x2 may be infinite):
// the blackbody's energy between two photon energies in units of kT, to
// relative rounding, in the Rayleigh-Jeans and the Wien limits alike.
double planck_band_integral(double x1, double x2);

}  // namespace velmora
