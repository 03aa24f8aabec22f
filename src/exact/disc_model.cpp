// The exact solution of the viscous disc model: construction, checks and the
// modal sums. See disc_model.h for the method.
#include "exact/disc_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

#include <gsl/gsl_sf_gamma.h>

#include "exact/errors.h"
#include "exact/projections.h"
#include "model/constants.h"
#include "model/keywords.h"
#include "model/parameter_values.h"
#include "model/settings.h"
#include "model/viscosity.h"

namespace velmora {

namespace {


// Right after a change of the supply (elapsed time below ASYMPTOTIC_SPAN
// z_0^2 texp) the change has not yet reached the centre: its influence there
// is below exp(-1 / (4 ASYMPTOTIC_SPAN)), and the centre rate follows the
// interior's Taylor series in the elapsed time instead of a modal sum.
constexpr double ASYMPTOTIC_SPAN = 1.0 / 200.0;
// The driven terms fall off as (z_i/z_0)^(l - 1.5 - 2K); summed until the
// rest is below this fraction of the first.
constexpr double DRIVEN_TOLERANCE = 1e-12;
constexpr int MAX_ORDERS = 10;  // quasi-static profiles f_1 .. f_K
// The infinite disc's closed form stands for the initial torque's share of
// the centre rate while the outer edge's reflection is negligible: its
// relative size is about E^k exp(-E), E = ((2 - x_out)^2 - x_in^2) z_0^2 / (4 t)
// (the image of the matter's outer edge in the edge against its inner edge;
// the power k, measured up to about 2.3 at l 0.4, is taken as l + 2), and it
// is used while E - (l + 2) ln E is at least this.
constexpr double IMAGE_EXPONENT = 40.0;
// Each term of a modal sum carries a relative rounding of about this; a sum
// whose terms add up in magnitude to more than MODAL_TRUST / MODAL_ROUNDING
// times the sum has cancelled beyond trust.
constexpr double MODAL_ROUNDING = 1e-15;
constexpr double MODAL_TRUST = 1e-9;
// The centre rate comes from the Laplace transform (laplace_rate.h) while
// E = z_0^2 / (4 t) is at least this, t the time since the start (the
// initial torque) or since the supply first differs from 0: there the modal
// sums of large orders cancel (their terms grow like z^(l + 1) before the
// exponential wins), while the parabola's integrand is of the size of the
// rate. Below it few modes carry the sums and they keep their digits.
constexpr double EARLY_EXPONENT = 2.0;
// Where the matter has arrived but the edge's reflection is felt, the
// initial torque's modal sum is still taken when it needs at most this many
// modes and its terms add up to at most EARLY_MODAL_TRUST / MODAL_ROUNDING
// times the sum (small orders: it keeps its digits there and costs a few
// multiplications, where the parabola costs a hundred complex Bessel
// functions); otherwise the parabola.
constexpr std::size_t EARLY_MODE_CAP = 256;
constexpr double EARLY_MODAL_TRUST = 1e-10;
// Beyond this E a share is below exp(-700) of its scale: 0 in double.
constexpr double NEGLIGIBLE_EXPONENT = 700.0;

void require_finite_positive(const char* name, double v) {
  if (!(std::isfinite(v) && v > 0.0)) refuse(name, message_text("%s = %.17g must be finite and positive", name, v));
}

void require_finite_non_negative(const char* name, double v) {
  if (!(std::isfinite(v) && v >= 0.0)) refuse(name, message_text("%s = %.17g must be finite and not negative", name, v));
}

double density_index(const disc_parameters& p) { return 2.0 + p.sigma_index; }

// ln Gamma(a, s), the upper incomplete gamma function, for a > 0, s >= 0,
// without underflow: GSL's regularised Q for s <= a + 1, else the continued
// fraction Gamma(a, s) = e^-s s^a / (s + 1 - a - 1 (1 - a) / (s + 3 - a - 2 (2 - a) / ...))
// by the modified Lentz method, which converges in a few terms there.
double log_upper_gamma(double a, double s) {
  if (std::isinf(s)) return -std::numeric_limits<double>::infinity();  // Gamma(a, inf) = 0
  if (s <= a + 1.0) return gsl_sf_lngamma(a) + std::log(gsl_sf_gamma_inc_Q(a, s));
  constexpr double TINY = 1e-300;
  double b = s + 1.0 - a, c = 1.0 / TINY, d = 1.0 / b, h = d;
  for (int i = 1; i < 1000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < TINY) d = TINY;
    c = b + an / c;
    if (std::fabs(c) < TINY) c = TINY;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return -s + a * std::log(s) + std::log(h);
}

// ln gamma(a, s), the lower incomplete gamma function, for a > 0, s >= 0 (-inf
// at 0), without underflow: s^a e^-s sum_k s^k / (a (a+1) ... (a+k)), whose
// terms fall from k > s - a on.
double log_lower_gamma(double a, double s) {
  if (s == 0.0) return -std::numeric_limits<double>::infinity();
  double term = 1.0 / a, sum = term;
  for (int k = 1; k < 100000; ++k) {
    term *= s / (a + k);
    sum += term;
    if (k > s - a && term < 1e-17 * sum) break;
  }
  return a * std::log(s) - s + std::log(sum);
}

// 1 - (r_ign_in / r_out_disk)^(2 + sigma_index): the normalisation of the
// initial surface density over r_ign_in .. r_out_disk.
double density_norm(const disc_parameters& p) { return 1.0 - std::pow(p.r_ign_in, density_index(p)); }

struct derived {
  double texp, nu0, kappa, hout;
};

derived derive(const disc_parameters& p, double z0) {
  const viscous_constants v =
      derive_viscous_constants(p.l, p.mass, p.r_out_disk, p.texp * phys::seconds_per_day, p.kappa, z0);
  return {v.texp, v.nu0, v.kappa, std::sqrt(phys::G * p.mass * p.r_out_disk)};
}


// ---- derived quantities out of range, blamed on the quantity given ----------
//
// texp, nu0, kappa, hout and the initial torque are products of powers of the
// given quantities. When one of them leaves the range of a double, the
// refusal names the given quantity that pushed it there: each given quantity
// contributes its exponent times ln(value / reference) to the logarithm of
// the derived one, the reference being an ordinary X-ray nova (the disc of
// examples/default.par), so an ordinary value contributes about nothing; an
// overflow is blamed on the largest contribution, an underflow to 0 on the
// most negative, a nan on the largest in size.

constexpr double REFERENCE_MASS = 1.989e34;       // g, 10 solar masses
constexpr double REFERENCE_RADIUS = 1e11;         // cm
constexpr double REFERENCE_DISC_MASS = 1e25;      // g
constexpr double REFERENCE_TEXP = 30.0 * phys::seconds_per_day;  // s

struct share {
  const char* name;  // the given quantity (a keyword)
  double value;      // its value, as given
  double log;        // its contribution to the logarithm of the derived quantity
};

struct shares {
  std::vector<share> of;
  shares& add(const char* name, double value, double log) {
    for (share& s : of)
      if (std::string(s.name) == name) {
        s.log += log;
        return *this;
      }
    of.push_back({name, value, log});
    return *this;
  }
  shares& add(const shares& other, double factor) {
    for (const share& s : other.of) add(s.name, s.value, factor * s.log);
    return *this;
  }
};

// The given quantity to blame for a derived quantity that is `overflow`ing
// (true), underflowing to 0 (false), or nan (largest contribution in size).
const share& culprit(const shares& s, double derived_value) {
  const share* best = &s.of.front();
  for (const share& c : s.of) {
    if (std::isnan(derived_value) ? std::fabs(c.log) > std::fabs(best->log)
                                  : derived_value == 0.0 ? c.log < best->log : c.log > best->log)
      best = &c;
  }
  return *best;
}

void require_in_range(const char* derived_name, double v, const shares& s) {
  if (std::isfinite(v) && v > 0.0) return;
  const share& c = culprit(s, v);
  refuse(c.name, message_text("%s = %.17g is out of range: the derived %s is %.17g", c.name, c.value, derived_name, v));
}

void check_derived(const disc_parameters& p, double z0, const derived& d, double norm) {
  const double l = p.l;
  const double radius = std::log(p.r_out_disk / REFERENCE_RADIUS);
  const double mass = std::log(p.mass / REFERENCE_MASS);
  // texp: as given, or (l/z_0)^2 (16/3) r_out^(0.5/l) 3 kappa^2 (G mass)^(0.5/l) / (16 l^2).
  shares texp;
  if (p.texp != 0.0) {
    texp.add(keyword::texp, p.texp, std::log(p.texp * phys::seconds_per_day / REFERENCE_TEXP));
  } else {
    const double reference_kappa =
        derive_viscous_constants(l, REFERENCE_MASS, REFERENCE_RADIUS, REFERENCE_TEXP, 0.0, z0).kappa;
    texp.add(keyword::r_out_disk, p.r_out_disk, 0.5 / l * radius)
        .add(keyword::kappa, p.kappa, 2.0 * std::log(p.kappa / reference_kappa))
        .add(keyword::mass, p.mass, 0.5 / l * mass);
  }
  require_in_range("texp (s)", d.texp, texp);
  // nu0 = (l/z_0)^2 (16/3) r_out^(0.5/l) / texp
  shares nu0;
  nu0.add(keyword::r_out_disk, p.r_out_disk, 0.5 / l * radius).add(texp, -1.0);
  require_in_range("nu0", d.nu0, nu0);
  // kappa = (16 l^2 / (3 nu0 (G mass)^(0.5/l)))^(1/2)
  shares kappa;
  kappa.add(nu0, -0.5).add(keyword::mass, p.mass, -0.25 / l * mass);
  require_in_range(keyword::kappa, d.kappa, kappa);
  // hout = (G mass r_out)^(1/2)
  shares hout;
  hout.add(keyword::mass, p.mass, 0.5 * mass).add(keyword::r_out_disk, p.r_out_disk, 0.5 * radius);
  require_in_range("hout", d.hout, hout);
  if (p.mdisk == 0.0) return;
  // The initial torque, (hout / 2 pi) (mdisk / texp) 8 l^2 (2 + sigma_index) / (z_0^2 norm) x^q
  // on the initial matter, q = 4 l (2 + sigma_index) + 2 l - 2, at its largest: at the matter's
  // outer edge for q >= 0, else at its inner edge (not inside MINX, where the meshes end).
  const double index = density_index(p);
  const double q = 4.0 * l * index + 2.0 * l - 2.0;
  const bool inner = q < 0.0;
  const double edge = inner ? std::max(p.r_ign_in, std::pow(MINX, 4.0 * l)) : std::min(1.0, p.r_ign_out);
  const double log_peak = std::log(d.hout / phys::two_pi) + std::log(p.mdisk) - std::log(d.texp) +
                          std::log(std::fabs(8.0 * l * l * index / (z0 * z0 * norm))) + q * 0.25 / l * std::log(edge);
  if (std::isfinite(log_peak) && log_peak < std::log(std::numeric_limits<double>::max()) && std::isfinite(p.mdisk / d.texp))
    return;
  shares torque;
  torque.add(hout, 1.0)
      .add(keyword::mdisk, p.mdisk, std::log(p.mdisk / REFERENCE_DISC_MASS))
      .add(texp, -1.0)
      .add(keyword::sigma_index, p.sigma_index, std::log(std::fabs(index / norm)))
      .add(inner ? keyword::r_ign_in : keyword::r_ign_out, inner ? p.r_ign_in : p.r_ign_out,
           q * 0.25 / l * std::log(edge));
  const share& c = culprit(torque, std::isnan(log_peak) ? NAN : INFINITY);
  refuse(c.name, message_text("%s = %.17g is out of range: the initial torque would reach 10^%.1f g cm^2/s^2", c.name,
                              c.value, log_peak / std::log(10.0)));
}

}  // namespace

namespace {

// The checks, with z_0, the first zero of J_(l-1), already known.
void check_with_first_zero(const disc_parameters& p, double z0) {
  if (p.flag_outer < 0 || p.flag_outer > 2)
    refuse(keyword::flag_outer, message_text("%s = %d must be 0, 1 or 2", keyword::flag_outer, p.flag_outer));
  require_finite_positive(keyword::mass, p.mass);
  require_finite_positive(keyword::r_out_disk, p.r_out_disk);
  require_finite_non_negative(keyword::mdisk, p.mdisk);
  require_finite_non_negative(keyword::r_ign_in, p.r_ign_in);
  if (!(p.r_ign_in < 1.0))
    refuse(keyword::r_ign_in, message_text("%s = %.17g must be below 1 (the disc's edge, in units of %s)",
                                           keyword::r_ign_in, p.r_ign_in, keyword::r_out_disk));
  if (!(std::isfinite(p.r_ign_out) && p.r_ign_out > p.r_ign_in))
    refuse(keyword::r_ign_out,
           message_text("%s = %.17g must be finite and above %s = %.17g (the initial matter lies between them)",
                        keyword::r_ign_out, p.r_ign_out, keyword::r_ign_in, p.r_ign_in));
  if (!std::isfinite(p.sigma_index))
    refuse(keyword::sigma_index, message_text("%s = %.17g must be finite", keyword::sigma_index, p.sigma_index));
  const double norm = density_norm(p);
  if (!std::isfinite(norm) || norm == 0.0)
    refuse(keyword::sigma_index,
           message_text("%s = %.17g: the initial surface density cannot be normalised: 1 - %s^(2 + %s) = %.17g "
                        "(%s = %.17g)",
                        keyword::sigma_index, p.sigma_index, keyword::r_ign_in, keyword::sigma_index, norm,
                        keyword::r_ign_in, p.r_ign_in));
  if (!(std::isfinite(p.texp) && p.texp >= 0.0))
    refuse(keyword::texp, message_text("%s = %.17g must be finite and positive (days), or 0 to derive it from %s",
                                       keyword::texp, p.texp, keyword::kappa));
  if (p.texp == 0.0 && !(std::isfinite(p.kappa) && p.kappa > 0.0))
    refuse(keyword::kappa, message_text("%s = %.17g must be finite and positive when %s is 0", keyword::kappa, p.kappa,
                                        keyword::texp));
  const derived d = derive(p, z0);
  check_derived(p, z0, d, norm);
  if (p.flag_outer == 1) {
    require_finite_non_negative(keyword::mdot_out, p.mdot_out);
    if (p.mdot_out > MAX_SUPPLY_RATE)
      refuse(keyword::mdot_out, message_text("%s = %.17g g/s is above %g g/s, the most a supply may carry",
                                             keyword::mdot_out, p.mdot_out, MAX_SUPPLY_RATE));
  }
}

}  // namespace

disc_parameters disc_parameters_of(const parameter_values& v) {
  disc_parameters p;
  p.mass = v.mass;
  p.mdisk = v.mdisk;
  p.r_out_disk = v.r_out_disk;
  p.l = v.l;
  p.r_ign_in = v.r_ign_in;
  p.r_ign_out = v.r_ign_out;
  p.sigma_index = v.sigma_index;
  p.texp = v.texp;
  p.kappa = v.kappa;
  p.flag_outer = v.flag_outer;
  p.mdot_out = v.mdot_out;
  return p;
}

parameter_values parameter_values_of(const disc_parameters& p) {
  parameter_values v{};
  v.mass = p.mass;
  v.mdisk = p.mdisk;
  v.r_out_disk = p.r_out_disk;
  v.l = p.l;
  v.r_ign_in = p.r_ign_in;
  v.r_ign_out = p.r_ign_out;
  v.sigma_index = p.sigma_index;
  v.texp = p.texp;
  v.kappa = p.kappa;
  v.flag_outer = p.flag_outer;
  v.mdot_out = p.mdot_out;
  return v;
}

void check_parameters(const disc_parameters& p) {
  check_order(p.l);
  check_with_first_zero(p, bessel_zeros(p.l, 1)[0]);
}

// ---- the initial torque's projections, shared by models of one shape -------

struct disc_model::shape {
  double l, x_in, x_out, sigma_index;  // what they depend on
  double m;                            // power of x in the projection integrand
  double norm;                         // unit initial profile f0 / (mdisk/texp) = norm x^(m - 1 + l)
  std::mutex mutex;
  std::shared_ptr<const std::vector<double>> projections;

  std::shared_ptr<const std::vector<double>> at_least(const mode_values& modes, std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t have = projections ? projections->size() : 0;
    if (have >= n) return projections;
    auto P = std::make_shared<std::vector<double>>(projections ? *projections : std::vector<double>{});
    P->resize(n);
    tabulated_projections(modes.grid, m, x_in, x_out, modes.z.data() + have, n - have, P->data() + have);
    for (std::size_t i = have; i < n; ++i) (*P)[i] *= norm;
    projections = P;
    return projections;
  }
};

// ---- the supply in units of texp, and the quasi-static profiles ------------

struct disc_model::supply {
  struct piece {
    bool exponential;
    double start, end;   // texp
    double rate;         // g/s at start
    double slope;        // g/s per texp
    double theta;        // decay time, texp
    // k-th derivative (per texp^k) at tau
    double derivative(double tau, int k) const {
      if (exponential) return rate * std::exp(-(tau - start) / theta) * std::pow(-1.0 / theta, k);
      if (k == 0) return rate + slope * (tau - start);
      return k == 1 ? slope : 0.0;
    }
  };
  int K = 1;                      // profiles f_1 .. f_K carried
  std::vector<piece> pieces;      // contiguous from 0
  std::vector<double> break_time; // where u takes the difference of the particular solutions (0 first)
  std::vector<double> jump;       // M^(k-1) before minus after at break b: jump[b K + k - 1], k = 1..K
  std::array<std::array<double, MAX_ORDERS>, MAX_ORDERS> a{};  // f_k = sum_j a[k-1][j] x^(2l+2j)
  double first_change = 0.0;       // texp: before it the supply is 0
  bool any() const { return !pieces.empty(); }

  // The piece in force at tau >= 0: the last one starting at or before it.
  std::size_t piece_at(double tau) const {
    const auto after = std::upper_bound(break_time.begin(), break_time.end(), tau);
    return after == break_time.begin() ? 0 : static_cast<std::size_t>(after - break_time.begin()) - 1;
  }
};

namespace {

std::shared_ptr<const disc_model::supply> make_supply(const disc_parameters& p, double texp, double z0) {
  auto s = std::make_shared<disc_model::supply>();
  supply_history local = supply_history::none();
  if (p.flag_outer == 1) local = supply_history::constant(p.mdot_out);
  else if (p.flag_outer == 2 && !p.supply) local = supply_history::builtin_law();
  const supply_history& h = (p.flag_outer == 2 && p.supply) ? *p.supply : local;
  bool exponential = false;
  s->pieces.reserve(h.pieces().size());
  for (const supply_piece& q : h.pieces()) {
    disc_model::supply::piece r{};
    r.exponential = q.kind == supply_piece::shape::exponential;
    r.start = q.start / texp;
    r.end = q.end / texp;
    r.rate = q.rate;
    r.slope = q.slope * texp;
    r.theta = q.decay_time / texp;
    if (r.end <= r.start) continue;
    exponential = exponential || r.exponential;
    s->pieces.push_back(r);
  }
  s->first_change = std::numeric_limits<double>::infinity();
  for (const disc_model::supply::piece& q : s->pieces)
    if (q.rate != 0.0 || (!q.exponential && q.slope != 0.0)) {
      s->first_change = q.start;
      break;
    }
  const double l = p.l;
  // Enough profiles that the driven terms fall off as (z/z_0)^-9 at least.
  s->K = exponential ? std::min(MAX_ORDERS, static_cast<int>(std::ceil((l + 7.5) / 2.0))) : 2;
  auto& a = s->a;
  a[0][0] = 1.0;
  for (int k = 1; k < s->K; ++k) {
    double sum = 0.0;
    for (int j = 0; j < k; ++j) {
      a[k][j + 1] = z0 * z0 * a[k - 1][j] / ((2.0 * l + 2.0 * j + 2.0) * (2.0 * j + 2.0));
      sum += a[k - 1][j] / (2.0 * j + 2.0);
    }
    a[k][0] = -(z0 * z0 / (2.0 * l)) * sum;
  }
  s->break_time.reserve(s->pieces.size());
  s->jump.reserve(s->pieces.size() * s->K);
  for (std::size_t j = 0; j < s->pieces.size(); ++j) {
    const double tb = s->pieces[j].start;
    for (int k = 0; k < s->K; ++k) {
      const double before = j == 0 ? 0.0 : s->pieces[j - 1].derivative(tb, k);
      s->jump.push_back(before - s->pieces[j].derivative(tb, k));
    }
    s->break_time.push_back(tb);
  }
  return s;
}

}  // namespace

// ---- construction ------------------------------------------------------------

disc_model::disc_model(const disc_parameters& p) : disc_model(p, nullptr, nullptr) {}

disc_model::disc_model(const disc_parameters& p, std::shared_ptr<const order_modes> order, std::shared_ptr<shape> sh)
    : p_(p) {
  order_ = (order && order->order() == p.l) ? order : std::make_shared<const order_modes>(p.l);
  z0_ = order_->at_least(1)->z[0];
  check_with_first_zero(p, z0_);
  const derived d = derive(p, z0_);
  texp_ = d.texp;
  nu0_ = d.nu0;
  kappa_ = d.kappa;
  hout_ = d.hout;
  scale_ = p.mdisk / texp_;
  const double l = p.l;
  const double x_in = std::pow(p.r_ign_in, 0.25 / l);
  const double x_out = std::pow(std::min(1.0, p.r_ign_out), 0.25 / l);
  if (sh && sh->l == l && sh->x_in == x_in && sh->x_out == x_out && sh->sigma_index == p.sigma_index) {
    shape_ = std::move(sh);
  } else {
    shape_ = std::make_shared<shape>();
    shape_->l = l;
    shape_->x_in = x_in;
    shape_->x_out = x_out;
    shape_->sigma_index = p.sigma_index;
    const double idx = density_index(p);
    shape_->m = 4.0 * l * idx + l - 1.0;
    shape_->norm = 8.0 * l * l * idx / (z0_ * z0_ * density_norm(p));
  }
  supply_ = make_supply(p, texp_, z0_);
  laplace_ = std::make_shared<const laplace_rate>(l, z0_, shape_->m, x_in, x_out);
}

disc_model disc_model::with(const disc_parameters& p) const { return disc_model(p, order_, shape_); }

double disc_model::initial_mass() const {
  const double idx = density_index(p_);
  return p_.mdisk * (std::pow(std::min(1.0, p_.r_ign_out), idx) - std::pow(p_.r_ign_in, idx)) / density_norm(p_);
}

// ---- the modal sums ------------------------------------------------------------

struct disc_model::plan {
  std::shared_ptr<const mode_values> modes;
  std::shared_ptr<const std::vector<double>> projections;  // of the initial torque, unit mdisk/texp
  std::size_t driven = 0;                                   // modes of the driven terms
  std::size_t used = 0;                                     // the most modes any sum of the times takes
};

namespace {

// Number of modes whose decay over `span` (texp) still matters; count() + 1
// when the table is too short to tell.
std::size_t modes_for(const mode_values& m, double span) {
  const auto it = std::partition_point(m.span.begin(), m.span.end(), [span](double s) { return s > span; });
  if (it == m.span.end()) return m.count() + 1;
  return static_cast<std::size_t>(it - m.span.begin()) + 1;
}

// Whether the elapsed time `span` since a change is too short for the change
// to reach the point `reach` (units of x) from where it happened.
bool not_yet_arrived(double span, double reach, double z0) { return span < ASYMPTOTIC_SPAN * reach * reach * z0 * z0; }

double check_time(double t) {
  if (!(std::isfinite(t) && t > 0.0)) throw invalid_parameter("t", message_text("t = %.17g s must be finite and positive", t));
  return t;
}

}  // namespace

disc_model::plan disc_model::prepare(const double* t, std::size_t n, bool centre) const {
  const supply& s = *supply_;
  // The shortest span each kind of term must resolve.
  double initial_span = std::numeric_limits<double>::infinity();
  double break_span = std::numeric_limits<double>::infinity();
  double early_span = std::numeric_limits<double>::infinity();  // early times the modes may still serve
  double early_change_span = std::numeric_limits<double>::infinity();  // the same for the supply's changes
  bool driven = false;
  for (std::size_t j = 0; j < n; ++j) {
    const double tau = check_time(t[j]) / texp_;
    if (scale_ != 0.0 && !(centre && (not_yet_arrived(tau, shape_->x_in, z0_) || initial_share_early(tau))))
      initial_span = std::min(initial_span, tau);
    else if (scale_ != 0.0 && centre && initial_share_early(tau) && !not_yet_arrived(tau, shape_->x_in, z0_) &&
             !infinite_disc_holds(tau))
      early_span = std::min(early_span, tau);
    for (const supply::piece& q : s.pieces) driven = driven || (q.exponential && q.start < tau);
    // The supply's share at early times may come from the modes too, as far
    // as EARLY_MODE_CAP of them reach (none while the supply is still 0).
    const bool early_supply = centre && supply_share_early(tau);
    if (early_supply && !(tau > s.first_change)) continue;
    double& changes = early_supply ? early_change_span : break_span;
    for (std::size_t b = 0; b < s.break_time.size() && s.break_time[b] <= tau; ++b) {
      const double span = tau - s.break_time[b];
      if (span > 0.0 && !(centre && not_yet_arrived(span, 1.0, z0_))) changes = std::min(changes, span);
    }
  }
  plan pl;
  // The driven terms fall off as (z/z_0)^(-e), e = 2K + 1.5 - l: summed up
  // to z_N / z_0 = (N / DRIVEN_TOLERANCE)^(1/(e-1)), with N ~ z_N / pi.
  double driven_ratio = 0.0;
  if (driven) {
    const double e = 2.0 * s.K + 1.5 - p_.l;
    driven_ratio = std::pow(z0_ / (phys::pi * DRIVEN_TOLERANCE), 1.0 / (e - 1.0));
  }
  const double span = std::min(initial_span, break_span);
  std::size_t want = 1;
  for (;;) {
    pl.modes = order_->at_least(want);
    const mode_values& m = *pl.modes;
    std::size_t need = std::isfinite(span) ? modes_for(m, span) : 1;
    if (driven) {
      const auto it = std::lower_bound(m.z.begin(), m.z.end(), driven_ratio * z0_);
      need = std::max(need, it == m.z.end() ? m.count() + 1 : static_cast<std::size_t>(it - m.z.begin()) + 1);
    }
    if (need <= m.count()) break;
    if (m.count() >= MAX_MODES)
      throw solution_error(message_text("the solution at t = %.17g s needs more than %zu Bessel modes (a time too close to 0 "
                                "or to a change of the supply)", span * texp_, MAX_MODES));
    want = need;
  }
  if (driven) {
    const auto it = std::lower_bound(pl.modes->z.begin(), pl.modes->z.end(), driven_ratio * z0_);
    pl.driven = static_cast<std::size_t>(it - pl.modes->z.begin()) + 1;
  }
  // The early times' modal sums, as far as EARLY_MODE_CAP modes reach.
  std::size_t early_modes = 0;
  for (;;) {
    const std::size_t need = std::isfinite(early_span) ? std::min(modes_for(*pl.modes, early_span), EARLY_MODE_CAP) : 0;
    const std::size_t changes =
        std::isfinite(early_change_span) ? std::min(modes_for(*pl.modes, early_change_span), EARLY_MODE_CAP) : 0;
    if (std::max(need, changes) <= pl.modes->count()) {
      early_modes = need;
      break;
    }
    pl.modes = order_->at_least(std::max(need, changes));
  }
  std::size_t projected = early_modes;
  if (std::isfinite(initial_span)) projected = std::max(projected, std::min(pl.modes->count(), modes_for(*pl.modes, initial_span)));
  if (projected > 0) pl.projections = shape_->at_least(*pl.modes, projected);
  // The shared table may hold far more modes than these times need (an
  // earlier evaluation closer to 0 grew it): weights are made for these only.
  pl.used = std::max(pl.driven, pl.projections ? pl.projections->size() : 0);
  if (std::isfinite(break_span)) pl.used = std::max(pl.used, std::min(modes_for(*pl.modes, break_span), pl.modes->count()));
  return pl;
}

void disc_model::profile_values(double x, double* out) const {
  const supply& s = *supply_;
  for (int k = 0; k < s.K; ++k) {
    double v = 0.0;
    for (int j = 0; j <= k; ++j) v += s.a[k][j] * std::pow(x, 2.0 * p_.l + 2.0 * j);
    out[k] = v;
  }
}

namespace {

// The initial torque's modal sum over the first N modes at tau (texp), per
// unit of its scale; `magnitude` gathers the sizes of its terms, by which
// the caller judges how far it cancelled.
double initial_modal_sum(const mode_values& m, std::size_t N, double tau, const double* w, const double* P,
                         const double* decay, double& magnitude) {
  double acc = 0.0;
  for (std::size_t i = 0; i < N; ++i) {
    const double term = w[i] * P[i] * (decay ? decay[i] : std::exp(-m.decay[i] * tau));
    acc += term;
    magnitude += std::fabs(term);
  }
  return acc;
}

}  // namespace

double disc_model::sum(double tau, const plan& pl, const double* w, const double* profile, bool centre,
                       const double* decay) const {
  const supply& s = *supply_;
  const mode_values& m = *pl.modes;
  double v = 0.0;
  // Early at the centre, each share from the Laplace transform where its
  // modes would cancel: the initial torque's as the disc without an edge plus
  // the edge's reflection, the supply's as the centre's answer to each change.
  // Where few modes carry a share and keep their digits, the modes instead.
  const bool early_initial = centre && initial_share_early(tau);
  const bool early_supply = centre && supply_share_early(tau);
  if (early_initial && scale_ != 0.0) {
    bool done = false;
    if (infinite_disc_holds(tau)) {
      v += infinite_disc_rate(tau);
      done = true;
    } else if (pl.projections && !not_yet_arrived(tau, shape_->x_in, z0_)) {
      const std::size_t N = modes_for(m, tau);
      if (N <= pl.projections->size()) {
        double magnitude = 0.0;
        const double acc = initial_modal_sum(m, N, tau, w, pl.projections->data(), nullptr, magnitude);
        if (MODAL_ROUNDING * magnitude <= EARLY_MODAL_TRUST * std::fabs(acc)) {
          v += scale_ * acc;
          done = true;
        }
      }
    }
    if (!done) v += infinite_disc_rate(tau) + scale_ * shape_->norm * laplace_->reflection(tau);
  }
  // (Before the supply first differs from 0 its share is 0.)
  if (early_supply && tau > s.first_change) {
    double share = 0.0, magnitude = 0.0;
    add_particular(tau, profile, share, &magnitude);
    const bool complete = add_changes(tau, pl, w, profile, centre, share, &magnitude);
    if (complete && MODAL_ROUNDING * magnitude <= EARLY_MODAL_TRUST * std::fabs(share)) v += share;
    else v += early_supply_rate(tau);
  }
  if (!early_supply) add_particular(tau, profile, v, nullptr);
  // The initial torque, less nothing: its own modes. At the centre, before
  // the edge's reflection matters, the infinite disc's closed form where the
  // modes have not been summed (the matter has not yet arrived) or their sum
  // has cancelled beyond trust.
  const bool infinite = centre && scale_ != 0.0 && !early_initial && infinite_disc_holds(tau);
  if (!early_initial && scale_ != 0.0 && !(centre && not_yet_arrived(tau, shape_->x_in, z0_))) {
    const std::size_t N = std::min(modes_for(m, tau), pl.projections->size());
    double magnitude = 0.0;
    const double acc = initial_modal_sum(m, N, tau, w, pl.projections->data(), decay, magnitude);
    if (infinite && MODAL_ROUNDING * magnitude > MODAL_TRUST * std::fabs(acc)) v += infinite_disc_rate(tau);
    else v += scale_ * acc;
  } else if (infinite) {
    v += infinite_disc_rate(tau);
  }
  if (!early_supply) add_changes(tau, pl, w, profile, centre, v, nullptr);
  return v;
}

void disc_model::add_particular(double tau, const double* profile, double& v, double* magnitude) const {
  const supply& s = *supply_;
  if (!s.any()) return;
  const supply::piece& q = s.pieces[s.piece_at(tau)];
  for (int k = 0; k < s.K; ++k) {
    const double term = q.derivative(tau, k) * profile[k];
    v += term;
    if (magnitude) *magnitude += std::fabs(term);
  }
}

bool disc_model::add_changes(double tau, const plan& pl, const double* w, const double* profile, bool centre, double& v,
                             double* magnitude) const {
  const supply& s = *supply_;
  const mode_values& m = *pl.modes;
  // Each change of the supply: the difference of the particular solutions
  // before and after it, left to decay.
  for (std::size_t b = 0; b < s.break_time.size() && s.break_time[b] <= tau; ++b) {
    const double span = tau - s.break_time[b];
    const double* d = &s.jump[b * s.K];
    if (span == 0.0 || (centre && not_yet_arrived(span, 1.0, z0_))) {
      // Not yet felt here: the profile difference, evolved by its Taylor
      // series (L'^j f_k = f_(k-j)); at the centre exact to exp(-50).
      for (int k = 0; k < s.K; ++k) {
        double term = 0.0, power = 1.0;
        for (int j = 0; j <= k; ++j) {
          term += power * (centre ? s.a[k - j][0] : (j == 0 ? profile[k] : 0.0));
          power *= span / (j + 1);
        }
        v += d[k] * term;
        if (magnitude) *magnitude += std::fabs(d[k] * term);
      }
      continue;
    }
    const std::size_t need = modes_for(m, span);
    if (magnitude && need > m.count()) return false;  // a candidate sum must be complete
    const std::size_t N = std::min(need, m.count());
    double acc = 0.0;
    for (std::size_t i = 0; i < N; ++i) {
      const double rho = -1.0 / m.decay[i];
      double g = 0.0, power = 1.0;
      for (int k = 0; k < s.K; ++k) {
        g += d[k] * power;
        power *= rho;
      }
      const double term = w[i] * m.steady[i] * g * std::exp(-m.decay[i] * span);
      acc += term;
      if (magnitude) *magnitude += std::fabs(term);
    }
    v += acc;
  }
  // The K-th derivative of the supply drives u on its exponential pieces:
  // int_0^U exp(-u/theta) exp(-lambda (U - u)) du = (e^(-U/theta) - e^(-lambda U)) / (lambda - 1/theta),
  // then exp(-lambda after) once the piece has ended.
  for (const supply::piece& q : s.pieces) {
    if (!q.exponential || !(q.start < tau)) continue;
    if (magnitude && pl.driven == 0) return false;
    const double U = std::min(tau, q.end) - q.start;
    const double after = tau - q.start - U;
    const double piece_decay = std::exp(-U / q.theta);
    double acc = 0.0, size = 0.0;
    for (std::size_t i = 0; i < pl.driven; ++i) {
      const double lambda = m.decay[i];
      const double d = (lambda - 1.0 / q.theta) * U;
      double H;
      if (d > 0.0) H = piece_decay * -std::expm1(-d) / d;
      else if (d < 0.0) H = std::exp(-lambda * U) * -std::expm1(d) / -d;
      else H = piece_decay;
      if (after > 0.0) H *= std::exp(-lambda * after);
      double power = 1.0;  // (-1/lambda)^(K-1)
      for (int k = 1; k < s.K; ++k) power *= -1.0 / lambda;
      const double term = w[i] * m.steady[i] * power * H;
      acc += term;
      size += std::fabs(term);
    }
    const double factor = q.rate * std::pow(-1.0 / q.theta, s.K) * U;
    v -= factor * acc;
    if (magnitude) *magnitude += std::fabs(factor) * size;
  }
  return true;
}

bool disc_model::infinite_disc_holds(double tau) const {
  const double image = 2.0 - shape_->x_out;
  const double E = (image * image - shape_->x_in * shape_->x_in) * z0_ * z0_ / (4.0 * tau);
  return E > 1.0 && E - (p_.l + 2.0) * std::log(E) >= IMAGE_EXPONENT;
}

bool disc_model::initial_share_early(double tau) const {
  // The closed form of the disc without an edge needs a = (m + l + 1) / 2 > 0 at every time.
  return shape_->m + p_.l + 1.0 > 0.0 && z0_ * z0_ / (4.0 * tau) >= EARLY_EXPONENT;
}

bool disc_model::supply_share_early(double tau) const {
  const double since = tau - supply_->first_change;
  return since <= 0.0 || z0_ * z0_ / (4.0 * since) >= EARLY_EXPONENT;
}

// The supply's share of the centre rate as the sum of the centre's answers
// to each change of the supply: where piece j starts, its rate, slope or
// exponential is switched on, and the previous piece's continued from there
// switched off.
double disc_model::early_supply_rate(double tau) const {
  const supply& s = *supply_;
  double v = 0.0;
  for (std::size_t j = 0; j < s.pieces.size() && s.pieces[j].start < tau; ++j) {
    const double T = s.pieces[j].start, span = tau - T;
    if (z0_ * z0_ / (4.0 * span) > NEGLIGIBLE_EXPONENT) continue;
    double step = 0.0, ramp = 0.0;
    std::array<double, 2> amplitude{}, rate{};
    std::size_t n = 0;
    auto add = [&](const supply::piece& q, double sign) {
      if (q.exponential) {
        amplitude[n] = sign * q.rate * std::exp(-(T - q.start) / q.theta);
        rate[n++] = 1.0 / q.theta;
      } else {
        step += sign * (q.rate + q.slope * (T - q.start));
        ramp += sign * q.slope;
      }
    };
    add(s.pieces[j], 1.0);
    if (j > 0) add(s.pieces[j - 1], -1.0);
    if (step == 0.0 && ramp == 0.0 && (n == 0 || (n == 2 && rate[0] == rate[1] && amplitude[0] + amplitude[1] == 0.0)))
      continue;
    laplace_rate::supply_change change;
    change.step = step;
    change.ramp = ramp;
    change.amplitude = amplitude.data();
    change.rate = rate.data();
    change.n = n;
    v += laplace_->supply_response(span, change);
  }
  return v;
}

// The centre rate of the initial torque f0 = (mdisk/texp) norm x^p on
// [x_in, x_out] in a disc without an outer edge. Its Green's function (Weber's
// integral over the Hankel modes x^l J_l(k x)) is, at the centre,
// x'^(2l) exp(-x'^2/c) / (c^l (c/2) Gamma(l+1)) with c = 4 t / z_0^2 and the
// weight x'^(1-2l), so the rate is
//   (mdisk/texp) norm c^(a-l-1) / Gamma(l+1) [Gamma(a, x_in^2/c) - Gamma(a, x_out^2/c)],
// a = (p + 2)/2: incomplete gamma functions, to relative precision at any time.
double disc_model::infinite_disc_rate(double tau) const {
  const double l = p_.l;
  const double a = 0.5 * (shape_->m + l + 1.0);  // p = m - 1 + l
  const double c = 4.0 * tau / (z0_ * z0_);
  const double s_in = shape_->x_in * shape_->x_in / c, s_out = shape_->x_out * shape_->x_out / c;
  // So early (tau near the smallest doubles) that x_in^2 / c overflows: the matter's inner edge has
  // not reached the centre by exp(-s_in), 0 in doubles (the branches below would take -inf - -inf).
  if (std::isinf(s_in)) return 0.0;
  // ln [Gamma(a, s_in) - Gamma(a, s_out)] = ln int_{s_in}^{s_out} y^(a-1) e^-y dy, from
  // whichever incomplete function is the smaller at both ends, so that the
  // difference never cancels: the lower one while the matter has not spread
  // (s_out <= a + 1), the upper one once it has passed the centre (s_in >= a + 1),
  // and across the peak of the integrand both ends of Gamma(a) taken apart.
  double log_share;
  if (a <= 0.0) {
    // A surface density as steep as r^-2.5 or steeper: only the upper function exists.
    const double inner = log_upper_gamma(a, s_in);
    log_share = inner + std::log(-std::expm1(log_upper_gamma(a, s_out) - inner));
  } else if (s_out <= a + 1.0) {
    const double outer = log_lower_gamma(a, s_out);
    log_share = outer + std::log(-std::expm1(log_lower_gamma(a, s_in) - outer));
  } else if (s_in >= a + 1.0) {
    const double inner = log_upper_gamma(a, s_in);
    log_share = inner + std::log(-std::expm1(log_upper_gamma(a, s_out) - inner));
  } else {
    log_share = gsl_sf_lngamma(a) + std::log1p(-std::exp(log_lower_gamma(a, s_in) - gsl_sf_lngamma(a)) -
                                               std::exp(log_upper_gamma(a, s_out) - gsl_sf_lngamma(a)));
  }
  return scale_ * shape_->norm * std::exp((a - l - 1.0) * std::log(c) + log_share - gsl_sf_lngamma(l + 1.0));
}

void disc_model::mdot_in(const double* t, std::size_t n, double* out) const {
  const plan pl = prepare(t, n, true);
  std::array<double, MAX_ORDERS> profile{};
  for (int k = 0; k < supply_->K; ++k) profile[k] = supply_->a[k][0];
  // The true rate is never negative (the torque is not negative and 0 at the
  // centre); where the sums' rounding noise would make it so, 0 is nearer the
  // truth. A nan stays a nan.
  for (std::size_t j = 0; j < n; ++j) {
    if (t[j] / texp_ == 0.0)  // a time below about 1e-318 texp: the dimensionless time underflows
      throw solution_error(message_text("the solution at t = %.17g s: t / texp = %.17g s / %.17g s underflows to 0, "
                                        "too close to the start for the model's times", t[j], t[j], texp_));
    const double v = sum(t[j] / texp_, pl, pl.modes->centre.data(), profile.data(), true);
    out[j] = v < 0.0 ? 0.0 : v;
  }
}

double disc_model::mdot_in(double t) const {
  double out = 0.0;
  mdot_in(&t, 1, &out);
  return out;
}

std::size_t disc_model::modes_needed(double t) const {
  const plan pl = prepare(&t, 1, true);
  const double tau = t / texp_;
  std::size_t n = pl.driven;
  if (pl.projections) n = std::max(n, std::min(modes_for(*pl.modes, tau), pl.projections->size()));
  for (double b : supply_->break_time)
    if (b < tau && !not_yet_arrived(tau - b, 1.0, z0_)) n = std::max(n, std::min(modes_for(*pl.modes, tau - b), pl.modes->count()));
  return n;
}

void disc_model::disc_mass(const double* t, std::size_t n, double* out) const {
  const plan pl = prepare(t, n, false);
  const mode_values& m = *pl.modes;
  std::vector<double> w(pl.used);
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = m.centre[i] / m.decay[i];
  // Mass of f_k per unit supply derivative: (z_0^2 / 2l) int x^(1-2l) f_k dx.
  std::array<double, MAX_ORDERS> profile{};
  for (int k = 0; k < supply_->K; ++k) {
    double v = 0.0;
    for (int j = 0; j <= k; ++j) v += supply_->a[k][j] / (2.0 * j + 2.0);
    profile[k] = z0_ * z0_ / (2.0 * p_.l) * v;
  }
  for (std::size_t j = 0; j < n; ++j) out[j] = texp_ * sum(t[j] / texp_, pl, w.data(), profile.data(), false);
}

void disc_model::supplied_mass(const double* t, std::size_t n, double* out) const {
  for (std::size_t j = 0; j < n; ++j) {
    const double tau = check_time(t[j]) / texp_;
    double total = 0.0;
    for (const supply::piece& q : supply_->pieces) {
      if (!(q.start < tau)) break;
      const double u = std::min(tau, q.end) - q.start;
      total += q.exponential ? q.rate * q.theta * -std::expm1(-u / q.theta) : (q.rate + 0.5 * q.slope * u) * u;
    }
    out[j] = texp_ * total;
  }
}

void disc_model::accreted_mass(const double* t, std::size_t n, double* out) const {
  std::vector<double> held(n), fed(n);
  disc_mass(t, n, held.data());
  supplied_mass(t, n, fed.data());
  const double m0 = initial_mass();
  for (std::size_t j = 0; j < n; ++j) out[j] = m0 + fed[j] - held[j];
}

void disc_model::torque(const double* x, std::size_t nx, const double* t, std::size_t nt, double* out) const {
  for (std::size_t k = 0; k < nx; ++k)
    if (!(x[k] >= 0.0 && x[k] <= 1.0)) throw invalid_parameter("x", message_text("x = %.17g must lie in [0, 1]", x[k]));
  const plan pl = prepare(t, nt, false);
  const mode_values& m = *pl.modes;
  std::vector<double> w(pl.used);
  std::array<double, MAX_ORDERS> profile{};
  const double to_torque = hout_ / phys::two_pi;
  // The modes' decay factors of each epoch, shared by all radii (a light
  // curve asks for dozens of radii at once): epoch j's are at decay[start[j]].
  std::vector<std::size_t> start(nt + 1, 0);
  std::vector<double> decay;
  for (std::size_t j = 0; j < nt; ++j) {
    const double tau = t[j] / texp_;
    const std::size_t N = scale_ != 0.0 && pl.projections ? std::min(modes_for(m, tau), pl.projections->size()) : 0;
    for (std::size_t i = 0; i < N; ++i) decay.push_back(std::exp(-m.decay[i] * tau));
    start[j + 1] = decay.size();
  }
  for (std::size_t k = 0; k < nx; ++k) {
    const double xl = std::pow(x[k], p_.l);
    for (std::size_t i = 0; i < w.size(); ++i)
      w[i] = x[k] == 0.0 ? 0.0 : 2.0 * xl * m.grid->J(m.z[i] * x[k]) / (m.J_edge[i] * m.J_edge[i]);
    profile_values(x[k], profile.data());
    for (std::size_t j = 0; j < nt; ++j)
      out[j * nx + k] = to_torque * sum(t[j] / texp_, pl, w.data(), profile.data(), false, decay.data() + start[j]);
  }
}

void disc_model::surface_density(const double* r, std::size_t nr, const double* t, std::size_t nt, double* out) const {
  std::vector<double> x(nr);
  for (std::size_t k = 0; k < nr; ++k) {
    if (!(r[k] > 0.0 && r[k] <= p_.r_out_disk))
      throw invalid_parameter("r", message_text("r = %.17g cm must lie in (0, r_out_disk = %.17g]", r[k], p_.r_out_disk));
    x[k] = std::pow(r[k] / p_.r_out_disk, 0.25 / p_.l);
  }
  torque(x.data(), nr, t, nt, out);
  // F = (3/2) nu Sigma h with nu = nu0 r^(2 - 0.5/l), h = sqrt(G mass r).
  for (std::size_t k = 0; k < nr; ++k) {
    const double nu = nu0_ * std::pow(r[k], 2.0 - 0.5 / p_.l);
    const double h = std::sqrt(phys::G * p_.mass * r[k]);
    for (std::size_t j = 0; j < nt; ++j) out[j * nr + k] /= 1.5 * nu * h;
  }
}

void disc_model::mdot_fit(const double* t, std::size_t n, double* out) const {
  constexpr std::array<double, 5> xi = {0.05, 0.07, 0.09, 0.11, 0.13};
  std::array<double, 5> x{};
  for (int k = 0; k < 5; ++k) x[k] = std::pow(xi[k], 0.5 / p_.l);
  std::vector<double> F(5 * n);
  torque(x.data(), 5, t, n, F.data());
  // Least squares F = c1 xi through the origin; the rate is 2 pi c1 / hout.
  double xx = 0.0;
  for (double v : xi) xx += v * v;
  for (std::size_t j = 0; j < n; ++j) {
    double xf = 0.0;
    for (int k = 0; k < 5; ++k) xf += xi[k] * F[j * 5 + k];
    out[j] = phys::two_pi / hout_ * xf / xx;
  }
}

}  // namespace velmora
