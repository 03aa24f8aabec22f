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

static_assert(6.0 * G == six_G, "6 G must equal its written value exactly");
static_assert(2.0 * pi == two_pi, "2 pi must equal its written value exactly");

}  // namespace phys
