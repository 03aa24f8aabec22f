// Plausibility warnings; see plausibility.h.
//
// Each likely meant value is the given number read in the other unit:
// solar masses (1.989e33 g), solar masses per year (6.30e25 g/s), km (1e5 cm),
// seconds (1/86400 days), cm (1/r_out_disk in units of r_out_disk). For texp
// derived from kappa, texp = (kappa / z_0)^2 (G mass r_out_disk)^(1/(2 l)),
// z_0 the first zero of J_(l-1) (the kappa relation of the set-up with nu0
// eliminated).
#include "exact/plausibility.h"

#include <cmath>
#include <cstdio>
#include <exception>

#include "exact/bessel_modes.h"
#include "exact/errors.h"
#include "model/constants.h"
#include "model/keywords.h"

namespace velmora {

namespace {

constexpr double SOLAR_MASS = 1.989e33;                                // g
constexpr double SECONDS_PER_YEAR = 3.15576e7;                         // s, Julian year
constexpr double SOLAR_MASS_PER_YEAR = SOLAR_MASS / SECONDS_PER_YEAR;  // g/s
constexpr double CM_PER_KM = 1e5;

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

// texp (days) that kappa gives; NaN where it cannot be formed.
double texp_from_kappa(const disc_parameters& p) {
  try {
    check_order(p.l);
    const double z0 = bessel_zeros(p.l, 1).at(0);
    const double days = std::pow(p.kappa / z0, 2) * std::pow(phys::G * p.mass * p.r_out_disk, 0.5 / p.l) /
                        phys::seconds_per_day;
    return days;
  } catch (const std::exception&) {
    return NAN;
  }
}

}  // namespace

std::vector<std::string> plausibility_warnings(const disc_parameters& p) {
  std::vector<std::string> w;
  if (finite_positive(p.mass) && p.mass < PLAUSIBLE_MASS_MIN)
    w.push_back(message_text("%s = %g g is below %g g: solar masses? %g solar masses is %.4g g", keyword::mass, p.mass,
                             PLAUSIBLE_MASS_MIN, p.mass, p.mass * SOLAR_MASS));
  if (finite_positive(p.mdisk) && p.mdisk < PLAUSIBLE_MDISK_MIN)
    w.push_back(message_text("%s = %g g is below %g g: solar masses? %g solar masses is %.4g g", keyword::mdisk,
                             p.mdisk, PLAUSIBLE_MDISK_MIN, p.mdisk, p.mdisk * SOLAR_MASS));
  if (finite_positive(p.r_out_disk) && p.r_out_disk < PLAUSIBLE_R_OUT_DISK_MIN)
    w.push_back(message_text("%s = %g cm is below %g cm: km? %g km is %.4g cm", keyword::r_out_disk, p.r_out_disk,
                             PLAUSIBLE_R_OUT_DISK_MIN, p.r_out_disk, p.r_out_disk * CM_PER_KM));
  if (finite_positive(p.r_out_disk) && std::isfinite(p.r_ign_out) && p.r_ign_out > PLAUSIBLE_R_IGN_OUT_MAX)
    w.push_back(message_text("%s = %g %s is beyond the disc's edge (1 %s): cm? %g cm is %.4g %s", keyword::r_ign_out,
                             p.r_ign_out, keyword::r_out_disk, keyword::r_out_disk, p.r_ign_out,
                             p.r_ign_out / p.r_out_disk, keyword::r_out_disk));
  if (std::isfinite(p.texp) && p.texp > PLAUSIBLE_TEXP_MAX)
    w.push_back(message_text("%s = %g days is above %g days: seconds? %g s is %.4g days", keyword::texp, p.texp,
                             PLAUSIBLE_TEXP_MAX, p.texp, p.texp / phys::seconds_per_day));
  if (p.texp == 0.0 && finite_positive(p.kappa) && finite_positive(p.mass) && finite_positive(p.r_out_disk)) {
    const double days = texp_from_kappa(p);
    if (std::isfinite(days) && (days > PLAUSIBLE_TEXP_MAX || days < PLAUSIBLE_TEXP_MIN))
      w.push_back(message_text("%s = %g (cgs) gives %s = %g days, outside %g to %g days: another unit? %s scales "
                               "as sqrt(%s): %s %g gives %g days",
                               keyword::kappa, p.kappa, keyword::texp, days, PLAUSIBLE_TEXP_MIN, PLAUSIBLE_TEXP_MAX,
                               keyword::kappa, keyword::texp, keyword::kappa, p.kappa * std::sqrt(30.0 / days), 30.0));
  }
  if (p.flag_outer == 1 && finite_positive(p.mdot_out) && p.mdot_out < PLAUSIBLE_MDOT_OUT_MIN)
    w.push_back(message_text("%s = %g g/s is below %g g/s: solar masses per year? %g solar masses per year is %.4g g/s",
                             keyword::mdot_out, p.mdot_out, PLAUSIBLE_MDOT_OUT_MIN, p.mdot_out,
                             p.mdot_out * SOLAR_MASS_PER_YEAR));
  return w;
}

}  // namespace velmora
