// The run's outer supply history as the solver keeps it; see supply_source.h.
#include "solver/supply_source.h"

#include <utility>

#include "model/gmodel.h"

namespace {

struct kept_supply {
  std::shared_ptr<const velmora::supply_history> history =
      std::make_shared<const velmora::supply_history>(velmora::supply_history::none());
  unsigned long version = 0;
};

kept_supply& kept() {
  static kept_supply k;
  return k;
}

}  // namespace

const velmora::supply_history& run_supply() { return *kept().history; }

std::shared_ptr<const velmora::supply_history> shared_run_supply() { return kept().history; }

void set_run_supply(velmora::supply_history supply) {
  kept().history = std::make_shared<const velmora::supply_history>(std::move(supply));
  ++kept().version;
}

unsigned long run_supply_version() { return kept().version; }

double table_supply_rate(double t) { return run_supply().rate(t); }

double table_supply_derivative(double t) { return run_supply().derivative(t); }

bool supply_from_table(const gmodel* mod) { return mod->accr_out == &table_supply_rate; }
