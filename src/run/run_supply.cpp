// The run's outer supply: built at set-up and handed down to the solver.
//
// The solver reaches the supply only through the model's two function
// pointers. For a table they point at table_supply_rate and
// table_supply_derivative, which read the history handed to the solver
// (solver/supply_source.h); the built-in law keeps its own functions
// (mdot_out_m94), so its runs are unchanged.
#include "run/run_supply.h"

#include <cstdio>
#include <sys/stat.h>

#include "model/gmodel.h"
#include "model/settings.h"
#include "output/fatal.h"
#include "run/run_files.h"
#include "solver/supply_law.h"

bool prepare_run_supply(gmodel* mod, std::string* why) {
  switch (mod->flag_outer) {
    case 1:
      set_run_supply(velmora::supply_history::constant(mod->mdot_out));
      return true;
    case 2:
      if (SUPPLY_FILE[0] == '\0') {
        set_run_supply(velmora::supply_history::builtin_law(texp_m94));
        return true;
      }
      try {
        const std::string path = velmora::supply_table_path(filename.data(), SUPPLY_FILE.data());
        set_run_supply(velmora::read_supply_table(path));
      } catch (const velmora::supply_table_error& e) {
        *why = std::string("Invalid supply_file: ") + e.what();
        return false;
      }
      mod->accr_out = &table_supply_rate;
      mod->d_accr_out_d_t = &table_supply_derivative;
      return true;
    default:
      set_run_supply(velmora::supply_history::none());
      return true;
  }
}

std::string data_file_over_supply_table(const gmodel* mod) {
  if (!supply_from_table(mod)) return "";
  struct stat table {};
  if (stat(run_supply().name().c_str(), &table) != 0) return "";
  return data_file_over_parameter_file(table);
}

void install_run_supply(gmodel* mod) {
  std::string why;
  if (!prepare_run_supply(mod, &why)) refuse_model("%s", why.c_str());
  if (supply_from_table(mod)) {
    const velmora::supply_history& s = run_supply();
    const std::string clash = data_file_over_supply_table(mod);
    if (!clash.empty()) {
      console_error_begins();
      std::printf("The data file %s is the supply table %s: refusing to overwrite it\n", clash.c_str(), s.name().c_str());
      err_m(exit_status::file);
    }
    std::printf("Supply at the outer edge from the table %s: %zu row%s\n", s.name().c_str(), s.rows(),
                s.rows() == 1 ? "" : "s");
  }
}
