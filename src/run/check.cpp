// velmora --check: the parameter file read, the constants derived and the
// model judged exactly as a run does it, then reported instead of computed.
#include "run/check.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model/gmodel.h"
#include "model/keywords.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "output/fatal.h"
#include "output/registered_file.h"
#include "run/driver.h"
#include "run/exact_model.h"
#include "run/run_files.h"
#include "run/run_supply.h"
#include "run/validation.h"

namespace {

constexpr int REAL_DIGITS = 17;  // %.17g: every double reads back to itself

std::string format_real(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", REAL_DIGITS, v);
  return text;
}

std::string format_value(const parameter_keyword& k, parameter_values* values) {
  const keyword_destination d = k.destination(values);
  if (auto* real = std::get_if<double*>(&d)) return format_real(**real);
  if (auto* integer = std::get_if<int*>(&d)) return std::to_string(**integer);
  const char* text = std::get<std::array<char, NAME_CAPACITY>*>(d)->data();
  return text[0] == '\0' ? std::string("\"\"") : std::string(text);
}

struct named_value {
  std::string name;
  std::string value;
  std::string unit;
};

void print_lines(const char* heading, const std::vector<named_value>& lines) {
  std::printf("# %s\n", heading);
  for (const named_value& v : lines) std::printf("%s = %s %s\n", v.name.c_str(), v.value.c_str(), v.unit.c_str());
}

void set_value(std::vector<named_value>& lines, const char* name, double v) {
  for (named_value& line : lines)
    if (line.name == name) line.value = format_real(v);
}

std::vector<named_value> derived_constants(const gmodel* mod, double rms) {
  const double b = 2.0 - 0.5 / mod->l;
  return {
      {"b", format_real(b), "1"},
      {"texp_s", format_real(mod->texp), "s"},
      {"nu0", format_real(mod->nu0), "cm^(2-b)/s"},
      {"nu_t_out", format_real(std::pow(mod->r_out_disk, b) * mod->nu0), "cm^2/s"},
      {"r_ign_in_cm", format_real(mod->r_ign_in), "cm"},
      {"r_ign_out_cm", format_real(mod->r_ign_out), "cm"},
      {"hout", format_real(hout_of(mod)), "cm^2/s"},
      {"r_ms", format_real(rms), "cm"},
      {"r_inner_dotM", format_real(r_inner_dotM), keyword::r_out_disk},
      {"r_inner_dotM_cm", format_real(r_inner_dotM * mod->r_out_disk), "cm"},
      {"MIN_TIME_s", format_real(MIN_TIME), "s"},
      {"MAX_TIME_s", format_real(MAX_TIME), "s"},
      {"len_Bessel", std::to_string(mod->len), "terms"},
  };
}

}  // namespace

int check_parameter_file(const char* name) {
  check_only = 1;
  set_run_context("the check of the parameter file", NAN);
  std::snprintf(filename.data(), filename.size(), "%s", name);
  gmodel mod{};

  FILE* IN = open_registered_file(filename.data(), "r");
  struct stat parameter_file {};
  const bool identified = fstat(fileno(IN), &parameter_file) == 0;
  std::vector<std::string> warnings;
  refusal_text why{};
  parameter_values values{};
  const bool accepted = scan_parameter_entries(IN, values, why, [&warnings, name](int line, const char* text) {
    warnings.push_back("warning: " + std::string(name) + " line " + std::to_string(line) + ": " + visible_text(text));
  });
  close_parameter_file(IN, name);

  std::vector<named_value> keywords;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) keywords.push_back({k.name, format_value(k, &values), k.unit});
  bool plausibility_judged = false;

  std::vector<named_value> derived;
  int status = exit_status::ok;
  if (!accepted) {
    status = exit_status::invalid_model;
  } else {
    fill_run_record(values, &mod);
    if (!check_order_of_model(&mod, why)) {
      status = exit_status::invalid_model;
    } else {
      double rms = 0.0;
      derive_model_constants(&mod, &rms);
      // The set-up derives texp from kappa when texp is 0, and kappa from texp always.
      if (values.texp == 0.0) set_value(keywords, keyword::texp, mod.texp / phys::seconds_per_day);
      set_value(keywords, keyword::kappa, mod.kappa);
      derived = derived_constants(&mod, rms);
      if (!check_model(&mod, values, why)) status = exit_status::invalid_model;
      plausibility_judged = status == exit_status::ok;
      const std::string clash = identified && status == exit_status::ok ? data_file_over_parameter_file(parameter_file) : "";
      std::string table_problem;
      if (!clash.empty()) {
        status = exit_status::file;
        refuse(why, "the data file %s is the parameter file %s: a run would not overwrite it", clash.c_str(), name);
      } else if (status == exit_status::ok && !prepare_run_supply(&mod, &table_problem)) {
        // a supply table is read as a run reads it
        status = exit_status::invalid_model;
        std::snprintf(why.data(), why.size(), "%s", table_problem.c_str());
      } else if (const std::string over = status == exit_status::ok ? data_file_over_supply_table(&mod) : "";
                 !over.empty()) {
        status = exit_status::file;
        refuse(why, "the data file %s is the supply table %s: a run would not overwrite it", over.c_str(),
               run_supply().name().c_str());
      }
    }
  }

  print_lines("keywords: the value the run uses, in the unit of the parameter file", keywords);
  if (!derived.empty()) print_lines("derived constants", derived);
  for (const std::string& w : warnings) std::printf("%s\n", w.c_str());
  if (plausibility_judged) print_plausibility_warnings(stdout, values);
  if (status == exit_status::ok)
    std::printf("verdict: ok\n");
  else
    std::printf("verdict: refused (status %d): %s\n", status & 0xff, why.data());
  return status;
}
