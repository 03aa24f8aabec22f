// The initial state of the disc.
//
// The initial surface density is a power law in radius, Sigma ~ r^sigma_index,
// between r_mass_in and r_mass_out, normalised so that the integral of
// 2 pi r Sigma over that range is mdisk. The torque it implies at a point x of
// the dimensionless radius (r = r_out_vis x^(4l), h = sqrt(G mass r)) is
//
//   F = Sigma(r) * 8 (l/kappa)^2 * h^(1 - 1/l) * r^2,
//
// which with the set-up's relation between kappa and nu0 is (3/2) nu Sigma h.
// Matter exists only inside the ignition zone [r_ign_in, r_ign_out] (both
// bounds belong to it); outside it the torque is 0.
//
// F_initial is evaluated for every abscissa of the torque integral, so it
// always evaluates the formula (five pow and one sqrt) and never touches a
// table. set_initial_F runs once before the time loop: it writes the initial
// profile on the 99-point mesh to the file the driver names, "F_x_<NAME>.dat"
// (put in place when
// complete) and keeps it in zero_interp for the snapshots. Units: CGS.
#include "solver/initial_torque.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/constants.h"
#include "model/gmodel.h"
#include "model/settings.h"
#include "output/data_file.h"
#include "output/model_header.h"
#include "output/registered_file.h"
#include "tables/mesh.h"

namespace {

constexpr char initial_profile_legend[] =
    "#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0 (shifted on x!)\n#7=t\n";
static_assert(sizeof initial_profile_legend - 1 == 55, "legend of the initial profile is 55 bytes");

double radius_at(double x, const gmodel* mod) { return mod->r_out_vis * std::pow(x, 4.0 * mod->l); }

bool inside_ignition_zone(double r, const gmodel* mod) {
  if (mod->r_ign_in > r) return false;
  if (r > mod->r_ign_out) return false;
  return true;
}

}  // namespace

double sigma_init_r(double r, gmodel* mod) {
  const double index = 2.0 + mod->sigma_index;
  const double R1 = mod->r_mass_in;
  const double R2 = mod->r_mass_out;
  return (0.5 * mod->mdisk / phys::pi) / (r * r) *
         (index * std::pow(r / R2, index) / (1.0 - std::pow(R1 / R2, index)));
}

void calc_F_init(gmodel* mod, int nbins, double* F_init, double* x1) {
  const double l_over_kappa = mod->l / mod->kappa;
  for (int j = 0; j < nbins; ++j) {
    const double r = radius_at(x1[j], mod);
    const double h = std::sqrt(phys::G * mod->mass * r);
    F_init[j] = sigma_init_r(r, mod) * 8.0 * (l_over_kappa * l_over_kappa) * std::pow(h, 1.0 - 1.0 / mod->l) *
                (r * r);
  }
}

double F_initial(double x, gmodel* mod) {
  double F = 0.0;
  calc_F_init(mod, 1, &F, &x);
  const double r = radius_at(x, mod);
  return inside_ignition_zone(r, mod) ? F : 0.0;
}

void set_initial_F(gmodel* mod, const std::string& name) {
  std::printf("Begin set_initial_F ()\n");

  std::array<double, NUM_COOR> x1{};
  make_mesh(MINX * mod->a, mod->a, NUM_COOR, MESH_LINEAR, x1.data());

  std::array<double, NUM_COOR> g_init{};
  calc_F_init(mod, NUM_COOR, g_init.data(), x1.data());
  for (int j = 0; j < NUM_COOR; ++j) {
    if (!inside_ignition_zone(radius_at(x1[j], mod), mod)) g_init[j] = 0.0;
  }

  std::printf("\nsave initial F begins\n");
  pending_file file = open_pending_file(name.c_str());
  FILE* OUT = file.stream;
  write_model(OUT, mod);
  std::fputs(initial_profile_legend, OUT);
  std::printf("Save F(x,t) distribution to %s\n", name.c_str());

  const double hout = hout_of(mod);
  for (int j = 0; j < NUM_COOR; ++j) {
    std::fprintf(OUT, "%d\t%e\t%e\t%e\t%e\t%e\n", j, x1[j], radius_at(x1[j], mod),
                 hout * std::pow(x1[j], 2.0 * mod->l), g_init[j], mod->zero_interp[j]);
  }
  install_pending_file(file);

  mod->zero_interp = g_init;
}
