// What a telescope sees of the disc. See observables.h for the physics.
//
// The numerics. A light curve needs the torque at many radii and epochs;
// the model's torque costs one modal sum per radius and epoch. So the torque
// is sampled at a few radii and interpolated: F = (hout / 2 pi) xi G(y) with
// xi = x^(2l) = sqrt(r / r_out_disk) and y = x^2, where G is an entire
// function of y (every mode x^l J_l(z x) and every quasi-static profile is
// x^(2l) times a power series in x^2) and G(0) = Mdot_in. G is interpolated
// in y on [0, 1] at Chebyshev-Lobatto points, the point y = 0 taken from the
// rate itself (so the inner disc, at y of 1e-5 and below, is the rate's to
// rounding), the number of points doubled per epoch until the last
// Chebyshev coefficients fall below 1e-11 of G.
//
// The radial integral runs over two panels of Gauss-Legendre rules: from
// the inner edge to 9 r_ms in w, where h / h_ms = s0 + w^4 (so the
// temperature, which rises as (h - h_0)^(1/4) from the edge h_0 = s0 h_ms,
// is smooth in w; s0 = 1 unless the shifted torque turns positive only
// beyond r_ms), and from there to r_out_disk in ln r. The inner rule grows with the steepness of the band's Wien tail at
// the epoch's hottest ring, E / (k f_col T_max): a band deep in the tail sees
// a narrow peak in radius, of width ~ (E / k T_max)^(-1/2).
#include "exact/observables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <string>

#include "exact/errors.h"
#include "model/constants.h"
#include "model/keywords.h"

namespace velmora {

namespace {

constexpr double SERIES_TOLERANCE = 1e-11;     // Chebyshev tail of G, relative to its largest value
constexpr std::size_t FIRST_POINTS = 8;        // Chebyshev intervals of the first try
constexpr std::size_t MAX_POINTS = 2048;       // beyond this the torque is not resolved
constexpr double INNER_PANEL = 9.0;            // outer end of the inner panel, units of r_ms
constexpr std::size_t MIN_INNER_NODES = 24;    // enough for bands up to E ~ 20 k T_max to 1e-10
constexpr double INNER_NODES_PER_ROOT = 6.5;   // nodes per sqrt(E / k T_max) in the Wien tail
constexpr std::size_t MAX_INNER_NODES = 256;   // E / k T_max ~ 1500: e^-1500 underflows anyway
constexpr std::size_t MIN_OUTER_NODES = 16;
constexpr double OUTER_NODES_PER_E_FOLD = 3.0;  // in ln r
constexpr double PLANCK_SPLIT = 2.0;           // x below: Bernoulli series; above: Wien series

// ---- the blackbody ------------------------------------------------------------

// int_0^x u^3 / (e^u - 1) du = sum_n B_n x^(n+3) / (n! (n+3)), for x <= 2
// (the terms fall as (x / 2 pi)^n).
double planck_lower(double x) {
  // B_2k / ((2k)! (2k + 3)), k = 1..17, from the Bernoulli numbers' exact fractions.
  static const std::array<double, 17> coefficient = [] {
    constexpr std::array<double, 17> numerator = {
        1.0, -1.0, 1.0, -1.0, 5.0, -691.0, 7.0, -3617.0, 43867.0, -174611.0, 854513.0, -236364091.0, 8553103.0,
        -23749461029.0, 8615841276005.0, -7709321041217.0, 2577687858367.0};
    constexpr std::array<double, 17> denominator = {
        6.0, 30.0, 42.0, 30.0, 66.0, 2730.0, 6.0, 510.0, 798.0, 330.0, 138.0, 2730.0, 6.0, 870.0, 14322.0, 510.0, 6.0};
    std::array<double, 17> c{};
    double factorial = 1.0;
    for (int k = 1; k <= 17; ++k) {
      factorial *= (2.0 * k - 1.0) * (2.0 * k);
      c[k - 1] = numerator[k - 1] / (denominator[k - 1] * factorial * (2.0 * k + 3.0));
    }
    return c;
  }();
  const double x2 = x * x;
  double sum = 0.0;
  for (int k = 16; k >= 0; --k) sum = sum * x2 + coefficient[k];
  return x * x2 * (1.0 / 3.0 - x / 8.0 + x2 * sum);
}

// int_x^inf u^3 / (e^u - 1) du = sum_n e^(-n x) (x^3/n + 3x^2/n^2 + 6x/n^3 + 6/n^4), for x >= 2:
// one exponential and at most 20 terms, exact to rounding (a table in x
// with interpolation cost as much here, and loses digits in narrow bands).
constexpr std::size_t WIEN_TERMS = 40;
constexpr std::array<double, WIEN_TERMS + 1> reciprocals() {  // 1/n, rounded as the division would round it
  std::array<double, WIEN_TERMS + 1> r{};
  for (std::size_t n = 1; n <= WIEN_TERMS; ++n) r[n] = 1.0 / static_cast<double>(n);
  return r;
}
constexpr std::array<double, WIEN_TERMS + 1> RECIPROCAL = reciprocals();

double planck_upper(double x) {
  if (!std::isfinite(x)) return 0.0;
  const double q = std::exp(-x);
  double power = q, sum = 0.0;
  for (std::size_t n = 1; n <= WIEN_TERMS && power > 1e-17 * q; ++n) {
    const double inv = RECIPROCAL[n];
    sum += power * inv * (x * x * x + inv * (3.0 * x * x + inv * (6.0 * x + inv * 6.0)));
    power *= q;
  }
  return sum;
}

// ---- Gauss-Legendre rules -----------------------------------------------------

struct rule {
  std::vector<double> node, weight;  // on [-1, 1]
};

rule gauss_legendre(std::size_t n) {
  rule g;
  g.node.resize(n);
  g.weight.resize(n);
  for (std::size_t i = 0; i < (n + 1) / 2; ++i) {
    double z = std::cos(phys::pi * (static_cast<double>(i) + 0.75) / (static_cast<double>(n) + 0.5));
    double dp = 0.0;
    for (int iteration = 0; iteration < 100; ++iteration) {
      double p0 = 1.0, p1 = z;
      for (std::size_t k = 2; k <= n; ++k) {
        const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / static_cast<double>(k);
        p0 = p1;
        p1 = p2;
      }
      dp = static_cast<double>(n) * (z * p1 - p0) / (z * z - 1.0);
      const double step = p1 / dp;
      z -= step;
      if (std::fabs(step) < 1e-16) break;
    }
    g.node[i] = -z;
    g.node[n - 1 - i] = z;
    g.weight[i] = g.weight[n - 1 - i] = 2.0 / ((1.0 - z * z) * dp * dp);
  }
  return g;
}

// The rules of each size, made once per process and shared: every light
// curve of every model asks for the same few sizes, and finding the nodes
// by Newton's method on the Legendre recurrence costs more than the
// curve's own sums. Entries are never changed or removed once made, so a
// reference handed out stays valid.
const rule& gauss_rule(std::size_t n) {
  static std::mutex lock;
  static std::map<std::size_t, rule> made;
  const std::lock_guard<std::mutex> hold(lock);
  auto it = made.find(n);
  if (it == made.end()) it = made.emplace(n, gauss_legendre(n)).first;
  return it->second;
}

// ---- the torque, interpolated ------------------------------------------------

// For each epoch, the Chebyshev coefficients of G(y) on [0, 1] (argument
// 2y - 1) and the rate G(0) = Mdot_in.
struct torque_series {
  std::vector<std::vector<double>> coefficients;
  std::vector<double> mdot;

  double value(std::size_t j, double y) const {  // Clenshaw
    const std::vector<double>& c = coefficients[j];
    const double u = 2.0 * y - 1.0;
    double b1 = 0.0, b2 = 0.0;
    for (std::size_t k = c.size() - 1; k >= 1; --k) {
      const double b0 = 2.0 * u * b1 - b2 + c[k];
      b2 = b1;
      b1 = b0;
    }
    return u * b1 - b2 + c[0];
  }
};

torque_series interpolate_torque(const disc_model& m, const double* t, std::size_t nt) {
  const double l = m.parameters().l;
  const double to_G = phys::two_pi / m.hout();
  torque_series s;
  s.mdot.resize(nt);
  m.mdot_in(t, nt, s.mdot.data());
  s.coefficients.resize(nt);
  // values[j][i]: G at y_i = (1 + cos(pi i / n)) / 2, i = 0..n (y_n = 0).
  std::vector<std::vector<double>> values(nt);
  std::vector<std::size_t> pending(nt);
  for (std::size_t j = 0; j < nt; ++j) pending[j] = j;
  std::size_t n = FIRST_POINTS;
  std::vector<double> x, tj, F, cosines;
  for (;;) {
    // The points new at this n: every point at the first, the odd ones after.
    const bool first = n == FIRST_POINTS;
    x.clear();
    for (std::size_t i = first ? 0 : 1; i < n; i += first ? 1 : 2)
      x.push_back(std::sqrt(0.5 * (1.0 + std::cos(phys::pi * static_cast<double>(i) / static_cast<double>(n)))));
    tj.clear();
    for (std::size_t j : pending) tj.push_back(t[j]);
    F.resize(x.size() * tj.size());
    m.torque(x.data(), x.size(), tj.data(), tj.size(), F.data());
    cosines.resize(2 * n);
    for (std::size_t i = 0; i < 2 * n; ++i) cosines[i] = std::cos(phys::pi * static_cast<double>(i) / static_cast<double>(n));
    std::vector<std::size_t> still;
    for (std::size_t p = 0; p < pending.size(); ++p) {
      const std::size_t j = pending[p];
      std::vector<double> v(n + 1);
      for (std::size_t i = 0; i < n; ++i) {
        const bool is_new = first || i % 2 == 1;
        if (is_new) {
          const std::size_t q = first ? i : i / 2;
          v[i] = to_G * F[p * x.size() + q] / std::pow(x[q], 2.0 * l);
        } else {
          v[i] = values[j][i / 2];
        }
      }
      v[n] = s.mdot[j];
      // Chebyshev coefficients through the discrete cosine transform.
      std::vector<double> c(n + 1);
      double largest = 0.0;
      for (double g : v) largest = std::max(largest, std::fabs(g));
      for (std::size_t k = 0; k <= n; ++k) {
        double sum = 0.5 * (v[0] + ((k % 2 == 0) ? v[n] : -v[n]));
        for (std::size_t i = 1; i < n; ++i) sum += v[i] * cosines[(i * k) % (2 * n)];
        c[k] = sum * 2.0 / static_cast<double>(n);
      }
      c[0] *= 0.5;
      c[n] *= 0.5;
      const double tail = std::max({std::fabs(c[n]), std::fabs(c[n - 1]), std::fabs(c[n - 2])});
      // The coefficients below rounding of the largest value add nothing.
      while (c.size() > 2 && std::fabs(c.back()) < 1e-15 * largest) c.pop_back();
      values[j] = std::move(v);
      s.coefficients[j] = std::move(c);
      if (!(tail <= SERIES_TOLERANCE * largest) && largest > 0.0) still.push_back(j);
    }
    if (still.empty()) break;
    if (2 * n > MAX_POINTS)
      throw solution_error(message_text("the torque at t = %.17g s is not resolved by %zu radii (a time too close to 0 or to a "
                                "change of the supply)", t[still.front()], n + 1));
    pending = std::move(still);
    n *= 2;
  }
  return s;
}

// ---- the disc's rings --------------------------------------------------------

// One panel of the radial quadrature: per node, the radius, its place in
// the interpolation, and the coefficients of sigma T^4.
struct rings {
  std::vector<double> r;         // cm
  std::vector<double> y;         // (r / r_out_disk)^(1 / 2l)
  std::vector<double> s_minus1;  // h / h_ms - 1
  std::vector<double> weight;    // r dr of the rule, cm^2
  std::vector<double> viscous;   // T^4 = viscous (s_minus1 G(y) + G(y) - G(0)) + irradiated Mdot
  std::vector<double> irradiated;
  std::vector<double> basis;     // T_k(2y - 1) at ring i: basis[k * size + i], for shared panels
};

struct geometry {
  double mass, r_out, l, r_ms, h_ms, s_b;
  double hottest_per_rate;  // T^4 / Mdot (K^4 s/g) of a steady disc's hottest ring
};

geometry geometry_of(const disc_model& m) {
  geometry g{};
  const disc_parameters& p = m.parameters();
  g.mass = p.mass;
  g.r_out = p.r_out_disk;
  g.l = p.l;
  g.r_ms = marginally_stable_radius(m);
  if (!(g.r_out > g.r_ms))
    refuse(keyword::r_out_disk,
           message_text("%s = %.17g cm must lie outside the marginally stable orbit, 6 G M / c^2 = %.17g cm, for the "
                        "disc to radiate",
                        keyword::r_out_disk, g.r_out, g.r_ms));
  g.h_ms = std::sqrt(phys::G * g.mass * g.r_ms);
  g.s_b = std::sqrt(std::min(INNER_PANEL, g.r_out / g.r_ms));
  const double r_hot = 49.0 / 36.0 * g.r_ms;
  g.hottest_per_rate = 3.0 * phys::G * g.mass / (4.0 * phys::two_pi * r_hot * r_hot * r_hot) / 7.0 / phys::sigma_sb;
  return g;
}

void add_ring(rings& R, const geometry& g, double r, double s_minus1, double weight, double c_irr) {
  const double omega = std::sqrt(phys::G * g.mass / (r * r * r));
  R.r.push_back(r);
  R.y.push_back(std::pow(r / g.r_out, 0.5 / g.l));
  R.s_minus1.push_back(s_minus1);
  R.weight.push_back(weight);
  R.viscous.push_back(0.75 * g.h_ms / phys::two_pi * omega / (r * r) / phys::sigma_sb);
  R.irradiated.push_back(c_irr * phys::c_light * phys::c_light / (2.0 * phys::two_pi * r * r) / phys::sigma_sb);
}

std::size_t outer_nodes(const geometry& g) {
  const double span = std::log(g.r_out / (g.r_ms * g.s_b * g.s_b));
  return MIN_OUTER_NODES + static_cast<std::size_t>(std::ceil(OUTER_NODES_PER_E_FOLD * span));
}

// The inner panel, from h / h_ms = s0 (1, or where the shifted torque of
// an epoch turns positive) to s_b: s = s0 + w^4, r = r_ms s^2,
// r dr = 8 r_ms^2 s^3 w^3 dw.
rings inner_rings(const geometry& g, const rule& a, double s0, double c_irr) {
  rings R;
  for (auto* v : {&R.r, &R.y, &R.s_minus1, &R.weight, &R.viscous, &R.irradiated}) v->reserve(a.node.size());
  const double w_b = std::pow(g.s_b - s0, 0.25);
  for (std::size_t i = 0; i < a.node.size(); ++i) {
    const double w = 0.5 * w_b * (a.node[i] + 1.0);
    const double w4 = w * w * w * w;
    const double s = s0 + w4;
    add_ring(R, g, g.r_ms * s * s, (s0 - 1.0) + w4, 0.5 * w_b * a.weight[i] * 8.0 * g.r_ms * g.r_ms * s * s * s * w * w * w,
             c_irr);
  }
  return R;
}

// The outer panel, from s_b^2 r_ms to r_out_disk in ln r: r dr = r^2 d ln r.
rings outer_rings(const geometry& g, double c_irr) {
  rings R;
  const double r_b = g.r_ms * g.s_b * g.s_b;
  if (!(g.r_out > r_b * (1.0 + 1e-12))) return R;
  const std::size_t n = outer_nodes(g);
  const rule& b = gauss_rule(n);
  const double lo = std::log(r_b), hi = std::log(g.r_out);
  for (std::size_t i = 0; i < n; ++i) {
    const double r = std::exp(lo + 0.5 * (hi - lo) * (b.node[i] + 1.0));
    add_ring(R, g, r, std::sqrt(r / g.r_ms) - 1.0, 0.5 * (hi - lo) * b.weight[i] * r * r, c_irr);
  }
  return R;
}

// Where the shifted torque of epoch j turns positive, as s = h / h_ms: 1
// when it is positive at r_ms (a steady or growing inner disc). In a
// decaying disc the rate falls outwards and F - Mdot_in h_ms / (2 pi) is
// slightly negative at r_ms; the ring from r_ms to its zero is dark, and the
// inner panel starts at the zero so that its rule sees no kink.
double inner_edge(const geometry& g, const torque_series& S, std::size_t j) {
  const double mdot = S.mdot[j];
  auto shifted = [&](double s) { return s * S.value(j, std::pow(g.r_ms * s * s / g.r_out, 0.5 / g.l)) - mdot; };
  double a = 1.0, fa = shifted(a);
  if (!(fa < 0.0)) return 1.0;
  double b = g.s_b, fb = shifted(b);
  if (!(fb > 0.0)) return 1.0;  // dark across the panel: no edge to place
  // Secant steps from s = 1 and the zero of s G(y_ms) - G(0), kept inside
  // the bracket; G hardly changes over the step, so a few steps reach rounding.
  double s_prev = a, f_prev = fa;
  double s_next = std::clamp(mdot / (mdot - fa), a, b);
  for (int i = 0; i < 60; ++i) {
    if (!(s_next > a && s_next < b)) s_next = 0.5 * (a + b);
    const double f_next = shifted(s_next);
    if (f_next < 0.0) a = s_next, fa = f_next;
    else b = s_next, fb = f_next;
    if (b - a <= 1e-14 * b || f_next == 0.0) break;
    const double step = f_next * (s_next - s_prev) / (f_next - f_prev);
    s_prev = s_next;
    f_prev = f_next;
    s_next -= step;
    if (std::fabs(step) <= 1e-14 * s_prev) {
      // Converged from one side: close the bracket on the other.
      const double other = s_next + (f_next < 0.0 ? 1e-14 : -1e-14) * s_prev;
      if (shifted(other) < 0.0) a = std::max(a, other);
      else b = std::min(b, other);
      break;
    }
  }
  return a;
}

// T^4 (K^4) of the ring k at epoch j.
double fourth_power(const rings& R, std::size_t k, double G, double mdot) {
  const double heating = std::max(0.0, R.viscous[k] * (R.s_minus1[k] * G + (G - mdot)));
  return heating + R.irradiated[k] * std::max(0.0, mdot);
}

// T^4 of every ring of R at epoch j, into out. Panels shared by many epochs
// carry their Chebyshev polynomials T_k(2y - 1) (a sum over k per ring,
// which vectorises); the others are summed by Clenshaw's recurrence.
void fourth_powers(const rings& R, const torque_series& S, std::size_t j, double* out) {
  const std::size_t n = R.r.size();
  const std::vector<double>& c = S.coefficients[j];
  const double mdot = S.mdot[j];
  if (R.basis.size() >= c.size() * n) {
    std::vector<double> G(n, 0.0);
    for (std::size_t k = 0; k < c.size(); ++k) {
      const double* T = &R.basis[k * n];
      const double ck = c[k];
      for (std::size_t i = 0; i < n; ++i) G[i] += ck * T[i];
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = fourth_power(R, i, G[i], mdot);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = fourth_power(R, i, S.value(j, R.y[i]), mdot);
}

// The Chebyshev polynomials T_0 .. T_(order-1) at the rings of R.
void add_basis(rings& R, std::size_t order) {
  const std::size_t n = R.r.size();
  R.basis.assign(order * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double u = 2.0 * R.y[i] - 1.0;
    double before = 1.0, now = u;
    for (std::size_t k = 0; k < order; ++k) {
      R.basis[k * n + i] = k == 0 ? 1.0 : now;
      if (k >= 1) {
        const double next = 2.0 * u * now - before;
        before = now;
        now = next;
      }
    }
  }
}

// ---- checks ------------------------------------------------------------------

void check_viewing(const viewing& v) {
  if (!(std::isfinite(v.distance) && v.distance > 0.0))
    refuse("distance", message_text("distance = %.17g cm must be finite and positive", v.distance));
  if (!(v.inclination >= 0.0 && v.inclination < 90.0))
    refuse("inclination", message_text("inclination = %.17g degrees must lie in [0, 90) (0: face-on)", v.inclination));
}

void check_c_irr(double c_irr) {
  if (!(std::isfinite(c_irr) && c_irr >= 0.0))
    refuse("c_irr", message_text("c_irr = %.17g must be finite and not negative", c_irr));
  // The irradiating flux c_irr Mdot c^2 / (4 pi r^2) on each face: above 1 the disc would absorb more
  // than the rest-mass energy accreted in every factor e of radius (c_irr = 1e300 overflowed the
  // temperatures to inf and the fluxes to nan).
  if (c_irr > 1.0)
    refuse("c_irr", message_text("c_irr = %.17g must not exceed 1: the disc would absorb more than the rest-mass "
                                 "energy Mdot c^2 accreted (observed values are near 1e-3)", c_irr));
}

void check_surface(const surface& s) {
  if (!(std::isfinite(s.f_col) && s.f_col > 0.0))
    refuse("f_col", message_text("f_col = %.17g must be finite and positive", s.f_col));
  check_c_irr(s.c_irr);
}

void check_band(double e_min, double e_max) {
  if (!(std::isfinite(e_min) && e_min >= 0.0))
    refuse("e_min", message_text("e_min = %.17g keV must be finite and not negative", e_min));
  if (!(e_max > e_min)) refuse("e_max", message_text("e_max = %.17g keV must lie above e_min = %.17g keV", e_max, e_min));
}

void check_table(const char* keyword, const spectral_table& table, double e_min, double e_max) {
  const std::vector<double>& e = table.energy;
  if (e.size() != table.value.size())
    refuse(keyword, message_text("%s = a table of %zu energies and %zu values: one value per energy", keyword, e.size(),
                         table.value.size()));
  if (e.size() < 2) refuse(keyword, message_text("%s = a table of %zu rows: at least 2 are needed", keyword, e.size()));
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (!(std::isfinite(e[i]) && e[i] > 0.0))
      refuse(keyword, message_text("%s = a table whose energy %.17g keV (row %zu) is not finite and positive", keyword, e[i], i + 1));
    if (!(std::isfinite(table.value[i]) && table.value[i] >= 0.0))
      refuse(keyword, message_text("%s = a table whose value %.17g (row %zu) is not finite and non-negative", keyword,
                           table.value[i], i + 1));
    if (i > 0 && e[i] < e[i - 1])
      refuse(keyword, message_text("%s = a table whose energies fall at row %zu (%.17g after %.17g keV): they must ascend",
                           keyword, i + 1, e[i], e[i - 1]));
    if (i > 1 && e[i] == e[i - 2])
      refuse(keyword, message_text("%s = a table with three rows at %.17g keV (row %zu): a step takes two", keyword, e[i], i + 1));
  }
  if (!(e.front() <= e_min && e.back() >= e_max))
    refuse(keyword, message_text("%s = a table from %.17g to %.17g keV, which does not cover the band %.17g to %.17g keV",
                         keyword, e.front(), e.back(), e_min, e_max));
}

// ---- spectral weights: absorption and effective areas ------------------------

// The band-integrated colour-corrected blackbody with a weight in energy,
// Phi(T) = int w(E) f^-4 B_E(f T) dE, tabulated in ln T and interpolated.
class weighted_band {
 public:
  // Row i of a table covers energy[i] <= E < energy[i+1]; lookups stay inside one panel.
  struct table_view {
    const spectral_table* table = nullptr;
    bool power_law = false;
    double at(std::size_t i, double e) const {
      const double e0 = table->energy[i], e1 = table->energy[i + 1];
      const double v0 = table->value[i], v1 = table->value[i + 1];
      if (power_law && v0 > 0.0 && v1 > 0.0) return v0 * std::exp(std::log(v1 / v0) / std::log(e1 / e0) * std::log(e / e0));
      return v0 + (v1 - v0) * (e - e0) / (e1 - e0);
    }
    std::size_t row(double e) const {  // last row with energy <= e, below the last
      const auto& E = table->energy;
      const auto it = std::upper_bound(E.begin(), E.end(), e);
      const std::size_t i = it == E.begin() ? 0 : static_cast<std::size_t>(it - E.begin()) - 1;
      return std::min(i, E.size() - 2);
    }
  };

  weighted_band(double e_min, double e_max, double f_col, double nh, const spectral_table* cross_section,
                const spectral_table* area)
      : e_min_(e_min), e_max_(e_max), f_col_(f_col), nh_(nh) {
    if (nh > 0.0) sigma_ = table_view{cross_section, true};
    if (area) area_ = table_view{area, false};
    breaks_ = {e_min, e_max};
    for (const spectral_table* tb : {nh > 0.0 ? cross_section : nullptr, area})
      if (tb)
        for (double e : tb->energy)
          if (e > e_min && e < e_max) breaks_.push_back(e);
    std::sort(breaks_.begin(), breaks_.end());
    breaks_.erase(std::unique(breaks_.begin(), breaks_.end()), breaks_.end());
    gl_ = &gauss_rule(8);
  }

  // Tabulates ln Phi on [T_lo, T_hi].
  void tabulate(double T_lo, double T_hi) {
    lo_ = std::log(T_lo) - 3.0 * STEP;
    const std::size_t n = static_cast<std::size_t>(std::ceil((std::log(T_hi) - std::log(T_lo)) / STEP)) + 7;
    log_phi_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double phi = direct(std::exp(lo_ + STEP * static_cast<double>(i)));
      log_phi_[i] = phi > 0.0 ? std::log(phi) : -std::numeric_limits<double>::infinity();
    }
  }

  double operator()(double T) const {
    if (!(T > 0.0)) return 0.0;
    const double u = (std::log(T) - lo_) / STEP;
    const double first = std::floor(u) - 2.0;
    if (first < 0.0 || first + 5.0 >= static_cast<double>(log_phi_.size())) return direct(T);
    const std::size_t i0 = static_cast<std::size_t>(first);
    // Six-point Lagrange interpolation of ln Phi.
    double sum = 0.0;
    for (std::size_t a = 0; a < 6; ++a) {
      const double fa = log_phi_[i0 + a];
      if (!std::isfinite(fa)) return direct(T);
      double basis = 1.0;
      for (std::size_t b = 0; b < 6; ++b)
        if (b != a) basis *= (u - static_cast<double>(i0 + b)) / (static_cast<double>(a) - static_cast<double>(b));
      sum += basis * fa;
    }
    return std::exp(sum);
  }

  // Phi(T) by quadrature: Gauss-Legendre panels between the tables' rows,
  // none wider than 1/4 of their energy or 2 k f T, and nothing beyond
  // 40 k f T past where the Wien tail starts (e^-40 of the peak).
  double direct(double T) const {
    const double kT = phys::k_boltzmann * f_col_ * T / phys::keV;  // keV
    const double top = std::min(e_max_, std::max(e_min_, 4.0 * kT) + 40.0 * kT);
    const double prefactor = 2.0 / (phys::h_planck * phys::h_planck * phys::h_planck * phys::c_light * phys::c_light) /
                             (f_col_ * f_col_ * f_col_ * f_col_);
    double total = 0.0;
    for (std::size_t b = 0; b + 1 < breaks_.size() && breaks_[b] < top; ++b) {
      const double a0 = breaks_[b], a1 = std::min(breaks_[b + 1], top);
      const double mid = 0.5 * (a0 + a1);
      const std::size_t sigma_row = sigma_.table ? sigma_.row(mid) : 0;
      const std::size_t area_row = area_.table ? area_.row(mid) : 0;
      // Steps no longer than 1/4 of the energy or 2 k f T.
      for (double c0 = a0; c0 < a1;) {
        double step = 2.0 * kT;
        if (c0 > 0.0) step = std::min(step, 0.25 * c0);
        const double c1 = std::min(a1, c0 + std::max(step, 1e-6 * (a1 - a0)));
        for (std::size_t i = 0; i < gl_->node.size(); ++i) {
          const double e = 0.5 * (c0 + c1) + 0.5 * (c1 - c0) * gl_->node[i];  // keV
          const double x = e / kT;
          const double E = e * phys::keV;  // erg
          double w = 1.0;
          if (sigma_.table) w *= std::exp(-nh_ * sigma_.at(sigma_row, e));
          if (area_.table) w *= area_.at(area_row, e) / E;
          total += 0.5 * (c1 - c0) * phys::keV * gl_->weight[i] * w * prefactor * E * E * E / std::expm1(x);
        }
        c0 = c1;
      }
    }
    return total;
  }

 private:
  static constexpr double STEP = 0.02;  // in ln T
  double e_min_, e_max_, f_col_, nh_;
  table_view sigma_, area_;
  std::vector<double> breaks_;
  const rule* gl_ = nullptr;
  double lo_ = 0.0;
  std::vector<double> log_phi_;
};

// ---- light curves ------------------------------------------------------------

// Per epoch, the inner panel of its rule and T^4 on it and on the outer panel.
struct disc_light {
  rings outer;
  std::map<std::size_t, rings> rules;      // inner panels from r_ms, by node count
  std::deque<rings> own;                   // of epochs whose inner panel starts beyond r_ms
  std::vector<const rings*> inner_of;      // per epoch
  std::vector<std::vector<double>> T4;     // per epoch: inner rings, then outer
};

// The disc at each epoch on a rule sized for a band starting at x_low =
// E_low / (k f_col) kelvin (0: no Wien tail to resolve).
disc_light light_of(const disc_model& m, const double* t, std::size_t nt, double c_irr, double x_low) {
  const geometry g = geometry_of(m);
  const torque_series S = interpolate_torque(m, t, nt);
  disc_light D;
  D.inner_of.resize(nt);
  D.T4.resize(nt);
  std::size_t order = 0;  // the most Chebyshev coefficients of any epoch
  for (const auto& c : S.coefficients) order = std::max(order, c.size());
  D.outer = outer_rings(g, c_irr);
  add_basis(D.outer, order);
  rings& base = D.rules.emplace(MIN_INNER_NODES, inner_rings(g, gauss_rule(MIN_INNER_NODES), 1.0, c_irr)).first->second;
  add_basis(base, order);
  for (std::size_t j = 0; j < nt; ++j) {
    // The smallest rule, unless the band's Wien tail at the hottest ring
    // needs more nodes, or the shifted torque turns positive beyond r_ms.
    // The inner disc is quasi-steady: its hottest ring is the steady disc's,
    // at 49/36 r_ms, sigma T^4 = (3 G M Mdot / 8 pi r^3) (1 - sqrt(r_ms / r)).
    std::size_t n = MIN_INNER_NODES;
    const double hottest = S.mdot[j] * g.hottest_per_rate;
    if (x_low > 0.0 && hottest > 0.0) {
      const double steepness = x_low / std::sqrt(std::sqrt(hottest));
      const double wanted = std::ceil(INNER_NODES_PER_ROOT * std::sqrt(steepness) / 8.0) * 8.0;
      n = static_cast<std::size_t>(std::clamp(wanted, static_cast<double>(MIN_INNER_NODES),
                                              static_cast<double>(MAX_INNER_NODES)));
    } else if (x_low > 0.0) {
      n = MAX_INNER_NODES;  // no rate at the centre: no estimate of the hottest ring
    }
    const double s0 = inner_edge(g, S, j);
    const rings* R = &base;
    if (s0 != 1.0) {
      D.own.push_back(inner_rings(g, gauss_rule(n), s0, c_irr));
      R = &D.own.back();
    } else if (n != MIN_INNER_NODES) {
      auto it = D.rules.find(n);
      if (it == D.rules.end()) {
        it = D.rules.emplace(n, inner_rings(g, gauss_rule(n), 1.0, c_irr)).first;
        add_basis(it->second, order);
      }
      R = &it->second;
    }
    D.inner_of[j] = R;
    std::vector<double>& T4 = D.T4[j];
    T4.resize(R->r.size() + D.outer.r.size());
    fourth_powers(*R, S, j, T4.data());
    fourth_powers(D.outer, S, j, T4.data() + R->r.size());
  }
  return D;
}

double projection(const viewing& v) {
  return phys::two_pi * std::cos(v.inclination * phys::radians_per_degree) / (v.distance * v.distance);
}

// out[j] = 2 pi cos i / d^2 sum_k weight_k phi(T_k).
template <class Intensity>
void integrate(const disc_light& D, const viewing& v, Intensity phi, double* out) {
  const double to_flux = projection(v);
  for (std::size_t j = 0; j < D.T4.size(); ++j) {
    const rings& inner = *D.inner_of[j];
    const std::size_t n = inner.r.size();
    double sum = 0.0;
    for (std::size_t k = 0; k < D.T4[j].size(); ++k) {
      const double T4 = D.T4[j][k];
      if (T4 > 0.0) sum += (k < n ? inner.weight[k] : D.outer.weight[k - n]) * phi(T4);
    }
    out[j] = to_flux * sum;
  }
}

// A ring whose E_min / k f T exceeds that of the epoch's hottest ring by
// more than this plus twice ln(r_out_disk / r_ms) (its area can exceed the
// hottest ring's by at most (r_out_disk / r_ms)^2) gives less than e^-60 of
// that ring's light in the band, far below rounding of the epoch's flux.
constexpr double DARK_EXCESS = 60.0;

// Like integrate, but the rings too cool to matter in a band starting at
// x_low = E_min / (k f_col) kelvin are skipped before their blackbody is
// evaluated: late in an outburst most of the outer disc.
template <class Intensity>
void integrate_band(const disc_light& D, const geometry& g, const viewing& v, double x_low, Intensity phi, double* out) {
  const double to_flux = projection(v);
  const double excess = DARK_EXCESS + 2.0 * std::log(g.r_out / g.r_ms);
  for (std::size_t j = 0; j < D.T4.size(); ++j) {
    const rings& inner = *D.inner_of[j];
    const std::size_t n = inner.r.size();
    const std::vector<double>& T4 = D.T4[j];
    double peak = 0.0;
    for (double q : T4) peak = std::max(peak, q);
    // T below x_low / (x_low / T_peak + excess), raised to the fourth power.
    const double T_peak = std::sqrt(std::sqrt(peak));
    const double T_cut = x_low / (x_low / T_peak + excess);
    const double cut = std::max(0.0, T_cut * T_cut * T_cut * T_cut);
    double sum = 0.0;
    for (std::size_t k = 0; k < T4.size(); ++k)
      if (T4[k] > cut && T4[k] > 0.0) sum += (k < n ? inner.weight[k] : D.outer.weight[k - n]) * phi(T4[k]);
    out[j] = to_flux * sum;
  }
}

// The light curve of a weighted band: its blackbody tabulated once over the
// temperatures of the rings that matter. A ring whose E_min / k f T exceeds
// the coolest epoch's hottest ring's by 70 gives less than e^-70 of that
// epoch's light and is left out.
void integrate_weighted(const disc_light& D, const viewing& v, weighted_band& phi, double x_low, double* out) {
  double lo = std::numeric_limits<double>::infinity(), hi = 0.0, coolest_peak = std::numeric_limits<double>::infinity();
  for (const auto& T4 : D.T4) {
    double peak = 0.0;
    for (double q : T4)
      if (q > 0.0) lo = std::min(lo, q), hi = std::max(hi, q), peak = std::max(peak, q);
    if (peak > 0.0) coolest_peak = std::min(coolest_peak, peak);
  }
  if (!(hi > 0.0)) {
    integrate(D, v, [](double) { return 0.0; }, out);
    return;
  }
  double T_lo = std::sqrt(std::sqrt(lo));
  if (x_low > 0.0) T_lo = std::max(T_lo, x_low / (x_low / std::sqrt(std::sqrt(coolest_peak)) + 70.0));
  phi.tabulate(T_lo, std::sqrt(std::sqrt(hi)));
  integrate(D, v, [&phi, T_lo](double T4) {
    const double T = std::sqrt(std::sqrt(T4));
    return T < T_lo ? 0.0 : phi(T);
  }, out);
}

}  // namespace

double marginally_stable_radius(const disc_model& m) {
  return phys::six_G * m.parameters().mass / (phys::c_light * phys::c_light);
}

double planck_band_integral(double x1, double x2) {
  if (!(x2 > x1)) return 0.0;
  if (x2 <= PLANCK_SPLIT) return planck_lower(x2) - planck_lower(x1);
  if (x1 >= PLANCK_SPLIT) {
    // Q(x2) / Q(x1) < e^-(x2 - x1) (x2/x1)^3 <= e^-(x2 - x1 - 3 (x2/x1 - 1)): below rounding 45 on.
    if (x2 - x1 > 45.0 + 3.0 * (x2 / x1 - 1.0)) return planck_upper(x1);
    return planck_upper(x1) - planck_upper(x2);
  }
  return (planck_lower(PLANCK_SPLIT) - planck_lower(x1)) + (planck_upper(PLANCK_SPLIT) - planck_upper(x2));
}

void effective_temperature(const disc_model& m, const double* r, std::size_t nr, const double* t, std::size_t nt,
                           double c_irr, double* out) {
  check_c_irr(c_irr);
  const disc_parameters& p = m.parameters();
  std::vector<double> x(nr);
  for (std::size_t k = 0; k < nr; ++k) {
    if (!(r[k] > 0.0 && r[k] <= p.r_out_disk))
      refuse("r", message_text("r = %.17g cm must lie in (0, r_out_disk = %.17g]", r[k], p.r_out_disk));
    x[k] = std::pow(r[k] / p.r_out_disk, 0.25 / p.l);
  }
  std::vector<double> mdot(nt);
  m.mdot_in(t, nt, mdot.data());
  m.torque(x.data(), nr, t, nt, out);
  const double r_ms = marginally_stable_radius(m);
  const double shift = std::sqrt(phys::G * p.mass * r_ms) / phys::two_pi;  // h_ms / (2 pi)
  for (std::size_t k = 0; k < nr; ++k) {
    const double omega = std::sqrt(phys::G * p.mass / (r[k] * r[k] * r[k]));
    for (std::size_t j = 0; j < nt; ++j) {
      double& v = out[j * nr + k];
      if (r[k] < r_ms) {
        v = 0.0;
        continue;
      }
      const double heating = std::max(0.0, 0.75 * (v - mdot[j] * shift) * omega / (r[k] * r[k]));
      const double irradiation = c_irr * std::max(0.0, mdot[j]) * phys::c_light * phys::c_light / (2.0 * phys::two_pi * r[k] * r[k]);
      v = std::sqrt(std::sqrt((heating + irradiation) / phys::sigma_sb));
    }
  }
}

void bolometric_flux(const disc_model& m, const double* t, std::size_t nt, const viewing& v, double* out) {
  check_viewing(v);
  const disc_light D = light_of(m, t, nt, 0.0, 0.0);
  // int I dE = sigma T^4 / pi.
  integrate(D, v, [](double T4) { return phys::sigma_sb / phys::pi * T4; }, out);
}

void band_flux(const disc_model& m, const double* t, std::size_t nt, double e_min, double e_max, const viewing& v,
               const surface& s, const absorption& a, double* out) {
  check_viewing(v);
  check_surface(s);
  check_band(e_min, e_max);
  if (!(std::isfinite(a.nh) && a.nh >= 0.0)) refuse("nh", message_text("nh = %.17g cm^-2 must be finite and not negative", a.nh));
  if (a.nh > 0.0) {
    if (!a.cross_section)
      refuse("cross_section", message_text("cross_section = none: nh = %.17g cm^-2 needs a table of cross-sections", a.nh));
    check_table("cross_section", *a.cross_section, e_min, e_max);
  }
  const double x_low = e_min * phys::keV / (phys::k_boltzmann * s.f_col);  // K
  const disc_light D = light_of(m, t, nt, s.c_irr, x_low);
  if (a.nh > 0.0) {
    weighted_band phi(e_min, e_max, s.f_col, a.nh, a.cross_section, nullptr);
    integrate_weighted(D, v, phi, x_low, out);
    return;
  }
  // int_{E1}^{E2} f^-4 B_E(f T) dE = 2 (k T)^4 / (h^3 c^2) int_{x1}^{x2} u^3 / (e^u - 1) du, x = E / (k f T).
  const double c2h3 = phys::h_planck * phys::h_planck * phys::h_planck * phys::c_light * phys::c_light;
  const double k4 = 2.0 * std::pow(phys::k_boltzmann, 4) / c2h3;
  const double x_high = e_max * phys::keV / (phys::k_boltzmann * s.f_col);
  if (!(x_low > 0.0)) {
    integrate(D, v, [=](double T4) {
      const double T = std::sqrt(std::sqrt(T4));
      return k4 * T4 * planck_band_integral(x_low / T, x_high / T);
    }, out);
    return;
  }
  integrate_band(D, geometry_of(m), v, x_low, [=](double T4) {
    const double T = std::sqrt(std::sqrt(T4));
    return k4 * T4 * planck_band_integral(x_low / T, x_high / T);
  }, out);
}

void flux_density(const disc_model& m, const double* t, std::size_t nt, double frequency, const viewing& v,
                  const surface& s, double* out) {
  check_viewing(v);
  check_surface(s);
  if (!(std::isfinite(frequency) && frequency > 0.0))
    refuse("frequency", message_text("frequency = %.17g Hz must be finite and positive", frequency));
  const double x_low = phys::h_planck * frequency / (phys::k_boltzmann * s.f_col);  // K
  const disc_light D = light_of(m, t, nt, s.c_irr, x_low);
  // f^-4 B_nu(f T) = f^-4 2 h nu^3 / c^2 / (e^(h nu / k f T) - 1).
  const double B = 2.0 * phys::h_planck * frequency * frequency * frequency / (phys::c_light * phys::c_light) /
                   std::pow(s.f_col, 4);
  // Below about 1e-300 Hz both B and h nu / k f T underflow to 0: the Rayleigh-Jeans value, of
  // order nu^2 there, is 0 in doubles, not 0 / 0.
  integrate_band(D, geometry_of(m), v, x_low, [=](double T4) {
    const double e = std::expm1(x_low / std::sqrt(std::sqrt(T4)));
    return e > 0.0 ? B / e : 0.0;
  }, out);
}

void ab_magnitude(const disc_model& m, const double* t, std::size_t nt, double frequency, const viewing& v,
                  const surface& s, double* out) {
  flux_density(m, t, nt, frequency, v, s, out);
  for (std::size_t j = 0; j < nt; ++j)
    out[j] = out[j] > 0.0 ? -2.5 * std::log10(out[j]) - phys::ab_magnitude_offset : std::numeric_limits<double>::infinity();
}

void count_rate(const disc_model& m, const double* t, std::size_t nt, double e_min, double e_max,
                const spectral_table& effective_area, const viewing& v, const surface& s, const absorption& a,
                double* out) {
  check_viewing(v);
  check_surface(s);
  check_band(e_min, e_max);
  check_table("effective_area", effective_area, e_min, e_max);
  if (!(std::isfinite(a.nh) && a.nh >= 0.0)) refuse("nh", message_text("nh = %.17g cm^-2 must be finite and not negative", a.nh));
  if (a.nh > 0.0) {
    if (!a.cross_section)
      refuse("cross_section", message_text("cross_section = none: nh = %.17g cm^-2 needs a table of cross-sections", a.nh));
    check_table("cross_section", *a.cross_section, e_min, e_max);
  }
  const double x_low = e_min * phys::keV / (phys::k_boltzmann * s.f_col);
  const disc_light D = light_of(m, t, nt, s.c_irr, x_low);
  weighted_band phi(e_min, e_max, s.f_col, a.nh, a.cross_section, &effective_area);
  integrate_weighted(D, v, phi, x_low, out);
}

}  // namespace velmora
