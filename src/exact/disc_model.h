// The exact solution of the viscous disc model, re-entrant.
//
// A disc model is built from the quantities of a parameter file, in its
// units; it keeps no global state, prints nothing and never ends the
// process: a quantity it cannot use raises invalid_parameter naming it.
// Models are immutable once built and may be evaluated from several threads
// at once; models made from one another with `with` share the Bessel modes
// of their order and, where the disc's shape is the same, the projections
// of its initial torque.
//
// The method. The torque F(x, t), in units where the inner accretion rate
// is its slope at the centre, f = (2 pi / hout) F and Mdot_in = df/dxi at
// xi = x^(2l) = 0, obeys f_t = (1/z_0^2) L f with L = x^(2l-1) d/dx x^(1-2l)
// d/dx (time in units of texp), f(0) = 0 and df/dxi = M(t) at the edge,
// M(t) the outer supply. Where M is smooth, write
//   f = sum_{k=1..K} M^(k-1)(t) f_k(x) + u,
// with the quasi-static profiles f_1 = xi (the steady disc) and
// L f_(k+1) = z_0^2 f_k (closed forms in powers of x^2 times x^(2l), f_k(0) = 0,
// zero slope at the edge for k > 1). Then u has homogeneous boundary
// conditions and is a sum of the eigenmodes x^l J_l(z_i x), decaying as
// exp(-(z_i/z_0)^2 t); it is driven only by M^(K) (zero on the linear pieces
// of the supply, a closed form on its exponential pieces), and where the
// supply passes from one piece to the next u takes the difference of the two
// particular solutions. Each mode is summed until the sum no longer changes;
// K grows with l so that the driven terms converge fast at every order.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "exact/bessel_modes.h"
#include "exact/laplace_rate.h"
#include "exact/supply_history.h"

struct parameter_values;  // model/parameter_values.h

namespace velmora {

// The quantities of a parameter file, in its units.
struct disc_parameters {
  double mass = 0.0;         // g, central mass
  double mdisk = 0.0;        // g, initial disc mass between r_ign_in and r_out_disk
  double r_out_disk = 0.0;   // cm, outer radius of the disc
  double l = 0.0;            // viscosity index: nu ~ r^(2 - 0.5/l)
  double r_ign_in = 0.0;     // inner edge of the initial matter, units of r_out_disk
  double r_ign_out = 0.0;    // outer edge of the initial matter, units of r_out_disk
  double sigma_index = 0.0;  // initial surface density ~ r^sigma_index
  double texp = 0.0;         // days, viscous time (e-folding time of the first mode); 0: from kappa
  double kappa = 0.0;        // cgs, viscosity constant, used when texp is 0
  int flag_outer = 0;        // 0 no supply, 1 constant mdot_out, 2 the supply history below
  double mdot_out = 0.0;     // g/s, constant supply of flag_outer 1
  std::shared_ptr<const supply_history> supply;  // flag_outer 2; null: the built-in supply law
};

// The model's quantities among the values a parameter file gives, in its
// units. No supply table is read: with flag_outer 2 and a supply_file the
// caller hands the table's history over in `supply`.
disc_parameters disc_parameters_of(const parameter_values& v);
// The inverse: the model quantities of a record, its run settings left at 0.
parameter_values parameter_values_of(const disc_parameters& p);

// Throws invalid_parameter for the first quantity the model cannot use: the
// given quantities each in their own range first, then the derived ones
// (texp, nu0, kappa, hout, the initial torque), a derived one out of range
// blamed on the given quantity that pushed it there.
void check_parameters(const disc_parameters& p);

class disc_model {
 public:
  explicit disc_model(const disc_parameters& p);
  // A model with other parameters that shares what it can with this one.
  disc_model with(const disc_parameters& p) const;

  const disc_parameters& parameters() const { return p_; }
  double texp_seconds() const { return texp_; }
  double nu0() const { return nu0_; }      // cgs, nu = nu0 r^(2 - 0.5/l)
  double kappa() const { return kappa_; }  // cgs
  double hout() const { return hout_; }    // cm^2/s, specific angular momentum at r_out_disk
  double initial_mass() const;             // g, the disc's mass at t = 0

  // Each takes times t in s (t > 0, any order) and writes one value per time.
  void mdot_in(const double* t, std::size_t n, double* out) const;        // g/s, rate at the centre
  double mdot_in(double t) const;
  // The number of Bessel modes the rate's sums need at time t (s): the most
  // any of its sums takes.
  std::size_t modes_needed(double t) const;
  void mdot_fit(const double* t, std::size_t n, double* out) const;       // g/s, five-point fit at xi = 0.05..0.13
  void disc_mass(const double* t, std::size_t n, double* out) const;      // g
  void accreted_mass(const double* t, std::size_t n, double* out) const;  // g, through the centre since t = 0
  void supplied_mass(const double* t, std::size_t n, double* out) const;  // g, at the edge since t = 0
  // Torque F (g cm^2 s^-2) at the dimensionless radii x (0 <= x <= 1,
  // r = r_out_disk x^(4l)) and times t: out[j * nx + k] for t[j], x[k].
  void torque(const double* x, std::size_t nx, const double* t, std::size_t nt, double* out) const;
  // Surface density (g/cm^2) at radii r (cm, 0 < r <= r_out_disk): out[j * nr + k].
  void surface_density(const double* r, std::size_t nr, const double* t, std::size_t nt, double* out) const;

  struct shape;   // projections of the initial torque, shared between models
  struct supply;  // the supply in units of texp
  struct plan;    // the modes a set of times needs

 private:
  disc_model(const disc_parameters& p, std::shared_ptr<const order_modes> order, std::shared_ptr<shape> shape);
  plan prepare(const double* t, std::size_t n, bool centre) const;
  // `decay`, if given, holds exp(-decay_i tau) of the modes the sum takes,
  // made once per epoch by a caller that sums at many radii.
  double sum(double tau, const plan& pl, const double* mode_weight, const double* profile_weight, bool centre,
             const double* decay = nullptr) const;
  void profile_values(double x, double* out) const;  // f_k(x), k = 1..K
  // The supply's share of the sum at tau, added to v in two parts: the
  // particular solution of the piece in force, then each change's decaying
  // difference and the driven terms of exponential pieces. With `magnitude`
  // the sizes of the terms are gathered too, and add_changes tells whether
  // the modes at hand complete the sum (false: they do not, v is partial).
  void add_particular(double tau, const double* profile_weight, double& v, double* magnitude) const;
  bool add_changes(double tau, const plan& pl, const double* mode_weight, const double* profile_weight, bool centre,
                   double& v, double* magnitude) const;
  // Whether the outer edge's reflection is negligible at the centre at tau
  // (texp) for the initial torque, and that torque's centre rate (g/s) in a
  // disc without an edge.
  bool infinite_disc_holds(double tau) const;
  double infinite_disc_rate(double tau) const;
  // Whether the centre rate at tau (texp) takes the initial torque's share,
  // or the supply's, from the Laplace transform instead of the modes; and
  // the supply's share from there.
  bool initial_share_early(double tau) const;
  bool supply_share_early(double tau) const;
  double early_supply_rate(double tau) const;

  disc_parameters p_;
  double texp_ = 0.0, nu0_ = 0.0, kappa_ = 0.0, hout_ = 0.0, z0_ = 0.0;
  double scale_ = 0.0;  // mdisk / texp, g/s
  std::shared_ptr<const order_modes> order_;
  std::shared_ptr<shape> shape_;
  std::shared_ptr<const supply> supply_;
  std::shared_ptr<const laplace_rate> laplace_;
};

}  // namespace velmora
