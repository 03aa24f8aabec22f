// libFuzzer target: the parameter-file reader, the derivation of the model
// constants and the set-up validation, on arbitrary bytes.
//
// Refusals are taken through the reporting forms of the reader and the
// checks (the program's own forms stop with exit status 3); an order out of
// range is refused before its zeros are computed, as in the program. Every accepted model must
// give a finite initial torque on the radial mesh.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "output/fatal.h"
#include "run/driver.h"
#include "run/model.h"
#include "run/parameters.h"
#include "run/settings.h"
#include "run/validation.h"
#include "solver/initial_torque.h"
#include "tables/mesh.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The zero-table lookup prints progress lines; keep the fuzzer's console readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reset_run_settings();
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  FILE* in = fmemopen(text.data(), size + 1, "r");
  if (in == nullptr) return 0;

  gmodel mod{};
  refusal_text why{};
  if (!scan_parameters(in, &mod, why)) return 0;
  if (!check_order_of_model(&mod, why)) return 0;

  double rms = 0.0;
  const time_range_in_file times = derive_model_constants(&mod, &rms);
  if (!check_model(&mod, times, why)) return 0;

  std::array<double, NUM_COOR> x{};
  std::array<double, NUM_COOR> F{};
  make_mesh(MINX * mod.a, mod.a, NUM_COOR, MESH_LINEAR, x.data());
  for (int j = 0; j < NUM_COOR; ++j) {
    F[j] = F_initial(x[j], &mod);
    if (!std::isfinite(F[j])) {
      std::fprintf(stderr, "accepted model gives a non-finite initial torque %g at x = %g\n", F[j], x[j]);
      std::abort();
    }
  }
  return 0;
}
