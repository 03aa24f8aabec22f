// Bessel rows ahead of the solver; see node_prefetch.h.
#include "solver/node_prefetch.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include <gsl/gsl_integration.h>

#include "model/gmodel.h"
#include "model/settings.h"
#include "numerics/helper_thread.h"
#include "solver/bessel_memo.h"

namespace {

// The Kronrod abscissae x_k of the 15-point rule as GSL holds them, read off
// the rule itself: on [-1, 1] it samples f at 0 and at -/+ 1 * x_k.
struct kronrod_nodes {
  std::array<double, 7> x{};  // in the order the rule samples them
  kronrod_nodes() {
    std::vector<double> seen;
    gsl_function f;
    f.function = [](double s, void* p) {
      static_cast<std::vector<double>*>(p)->push_back(s);
      return 0.0;
    };
    f.params = &seen;
    double result, abserr, resabs, resasc;
    gsl_integration_qk15(&f, -1.0, 1.0, &result, &abserr, &resabs, &resasc);
    // seen: 0, then the pairs (-x_k, +x_k)
    for (std::size_t k = 0; k < x.size() && 2 * k + 2 < seen.size(); ++k) x[k] = seen[2 * k + 2];
  }
};

const kronrod_nodes& nodes() {
  static const kronrod_nodes n;
  return n;
}

std::uint64_t bits_of(double v) {
  std::uint64_t b = 0;
  std::memcpy(&b, &v, sizeof v);
  return b;
}

struct interval {
  double a, b;
  bool left;               // the left half of its parent: its sibling follows it
  double sibling_a, sibling_b;  // the right half, for a left half
};

struct radial_state {
  bool active = false;
  int n = 0;
  std::shared_ptr<const gmodel> model;        // the helper's own copy
  std::unordered_map<std::uint64_t, interval> by_centre;  // intervals the rule may visit next
};

radial_state& radial() {
  static radial_state s;
  return s;
}

int series_terms(double t, const gmodel* mod) { return (t > mod->texp) ? LATE_SERIES_TERMS : mod->len; }

// The fifteen source points of the rule on [a, b], in its order.
std::array<double, 15> rule_points(double a, double b) {
  const double center = 0.5 * (a + b);
  const double half_length = 0.5 * (b - a);
  std::array<double, 15> p{};
  p[0] = center;
  const kronrod_nodes& k = nodes();
  for (std::size_t j = 0; j < k.x.size(); ++j) {
    const double abscissa = half_length * k.x[j];
    p[1 + 2 * j] = center - abscissa;
    p[2 + 2 * j] = center + abscissa;
  }
  return p;
}

// One task per row, so that integrals the solver waits for (which go ahead
// of any queued prefetch) never wait behind a long list of rows.
void post_row(double s, int n, const std::shared_ptr<const gmodel>& model) {
  post_prefetch([s, n, model] { prefetch_bessel_row(s, n, model.get()); });
}

// From the rule's last point back: when the solver reaches the interval
// before the helper is through, it takes the points from the front itself
// instead of waiting for each one in turn.
void post_rows(const std::array<double, 15>& points, int n, const std::shared_ptr<const gmodel>& model) {
  for (auto s = points.rbegin(); s != points.rend(); ++s) post_row(*s, n, model);
}

void remember(radial_state& s, const interval& i) { s.by_centre[bits_of(0.5 * (i.a + i.b))] = i; }

}  // namespace

void begin_radial_prefetch(double a, double b, double x, double t, const gmodel* mod) {
  radial_state& s = radial();
  s.active = helper_available();
  if (!s.active) return;
  s.n = series_terms(t, mod);
  if (s.n < 1 || s.n > MAX_SERIES_TERMS) {
    s.active = false;
    return;
  }
  s.model = std::make_shared<const gmodel>(*mod);
  s.by_centre.clear();
  remember(s, interval{a, b, false, 0.0, 0.0});
  // The field point and the edge come first in every evaluation.
  post_row(x, s.n, s.model);
  post_row(mod->a, s.n, s.model);
  // The whole interval comes first; the helper takes its points from the back.
  post_rows(rule_points(a, b), s.n, s.model);
}

void radial_node_seen(double x1) {
  radial_state& s = radial();
  if (!s.active) return;
  auto it = s.by_centre.find(bits_of(x1));
  if (it == s.by_centre.end()) return;
  const interval entered = it->second;
  s.by_centre.erase(it);
  // Bisected as qag bisects: a1 = a, b1 = (a + b)/2, a2 = b1, b2 = b.
  const double mid = 0.5 * (entered.a + entered.b);
  remember(s, interval{entered.a, mid, true, mid, entered.b});
  remember(s, interval{mid, entered.b, false, 0.0, 0.0});
  if (entered.left) post_rows(rule_points(entered.sibling_a, entered.sibling_b), s.n, s.model);
}

void prefetch_field_rows(const double* x, int count, double t, const gmodel* mod) {
  if (!helper_available() || fast >= 1) return;  // the fast torque takes no rows from the memo
  const int n = series_terms(t, mod);
  if (n < 1 || n > MAX_SERIES_TERMS) return;
  const auto model = std::make_shared<const gmodel>(*mod);
  // From the last point back: the solver works forwards and computes what
  // it meets first itself, so the two meet in the middle.
  for (int j = count - 1; j >= 0; --j) post_row(x[j], n, model);
}
