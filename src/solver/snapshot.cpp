// Torque profile at one output time, the file named by the driver
// ("F_x<ti>.dat"), put in place only when
// complete (a run stopped meanwhile leaves the earlier file of that name).
//
// Writes the model header, a seven-column legend and one line per point of
// the 99-point linear mesh from MINX a to a (the mesh of the initial profile):
// index, x, radius r = r_out_vis x^(4l) (cm), specific angular momentum
// h = hout x^(2l) (cm^2/s), F(x, t), the initial torque zero_interp at the
// same point, and t (s). Each point is a full torque integral, in mesh
// order. Called by the evolution run at every output time when `save` is
// set. With the helper thread on, the Bessel rows of the field points are
// computed ahead of the loop, from before the file is opened.
#include "solver/snapshot.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/gmodel.h"
#include "model/settings.h"
#include "output/data_file.h"
#include "output/model_header.h"
#include "output/registered_file.h"
#include "solver/node_prefetch.h"
#include "solver/torque.h"
#include "tables/mesh.h"

namespace {

constexpr char snapshot_legend[] = "#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0\n#7=t\n";
static_assert(sizeof snapshot_legend - 1 == 39, "legend of a snapshot is 39 bytes");

}  // namespace

void save_F_t(double t, gmodel* mod, const std::string& name) {
  std::printf("\nsave_F_t begins\n");

  std::array<double, NUM_COOR> x{};
  make_mesh(MINX * mod->a, mod->a, NUM_COOR, MESH_LINEAR, x.data());
  prefetch_field_rows(x.data() + 1, NUM_COOR - 1, t, mod);

  pending_file file = open_pending_file(name.c_str());
  FILE* OUT = file.stream;
  write_model(OUT, mod);
  std::fputs(snapshot_legend, OUT);
  std::printf("Save F(x,t) distribution to %s\n", name.c_str());

  const double hout = hout_of(mod);
  for (int j = 0; j < NUM_COOR; ++j) {
    const double r = mod->r_out_vis * std::pow(x[j], 4.0 * mod->l);
    const double h = hout * std::pow(x[j], 2.0 * mod->l);
    const double F = F_x_t(x[j], t, mod);
    std::fprintf(OUT, "%d\t%e\t%e\t%e\t%e\t%e\t%e\n", j, x[j], r, h, F, mod->zero_interp[j], t);
  }
  install_pending_file(file);
}
