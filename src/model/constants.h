// Physical constants of velmora, CGS units, each stated once.
//
// The gravitational constant is velmora's own value; it differs from GSL's
// (6.673e-8) by 1e-4, so GSL's constants must not be used anywhere.
#pragma once

namespace phys {

constexpr double G = 6.67428e-8;             // gravitational constant, cm^3 g^-1 s^-2
constexpr double six_G = 4.004568e-7;        // 6 G, for the marginally stable orbit
constexpr double c_light = 2.997925e10;      // speed of light, cm/s
constexpr double seconds_per_day = 86400.0;  // s
constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;
constexpr double sixteen_thirds = 5.333333333333333;  // 16/3 of the viscous-time relation

// Radiation: the SI-defined values of h, k and the electronvolt, in CGS.
constexpr double h_planck = 6.62607015e-27;    // Planck constant, erg s
constexpr double k_boltzmann = 1.380649e-16;   // Boltzmann constant, erg/K
constexpr double keV = 1.602176634e-9;         // erg per keV
// Stefan-Boltzmann constant, erg cm^-2 s^-1 K^-4: 2 pi^5 k^4 / (15 h^3 c^2)
// of the constants above and velmora's c, so that the Planck function
// integrates to sigma T^4 / pi exactly (2.8e-7 below the CODATA value, whose
// c is 2.99792458e10).
constexpr double sigma_sb = 2.0 * (pi * pi * pi * pi * pi) * (k_boltzmann * k_boltzmann * k_boltzmann * k_boltzmann) /
                            (15.0 * (h_planck * h_planck * h_planck) * (c_light * c_light));
// AB magnitudes: m_AB = -2.5 log10(f_nu / (erg s^-1 cm^-2 Hz^-1)) - 48.60.
constexpr double ab_magnitude_offset = 48.60;  // mag
constexpr double radians_per_degree = pi / 180.0;

static_assert(6.0 * G == six_G, "6 G must equal its written value exactly");
static_assert(2.0 * pi == two_pi, "2 pi must equal its written value exactly");

}  // namespace phys
