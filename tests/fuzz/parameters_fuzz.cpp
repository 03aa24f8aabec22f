// libFuzzer target: the parameter-file reader, the derivation of the model
// constants, the set-up validation, `velmora --check`, the opening of the
// run's data files, and the reader of supply tables, on arbitrary bytes.
//
// An input that starts with "#table" is a supply table; any other input is a
// parameter file. Refusals are taken through the reporting forms of the
// reader and the checks (the program's own forms stop with exit status 3);
// an order out of range is refused before its zeros are computed, as in the
// program. The oracles, each of which fails by aborting (libFuzzer reports it, as it
// reports any stop on the way):
//   - --check gives the status the set-up gives (0, 3, or 100 for a supply
//     table that a data file would overwrite);
//   - an accepted model has finite, positive derived constants and a finite
//     initial torque on the radial mesh;
//   - the values --check prints, written back as a parameter file, give the
//     same model;
//   - its data files open, lock and are put in place in the working folder
//     (a temporary one) under exactly their own names;
//   - the plausibility warnings of an accepted model each name a keyword;
//   - a supply table is refused with the reader's own error, or gives a
//     supply history of contiguous pieces from t = 0 on with finite rates
//     within MAX_SUPPLY_RATE and a supplied mass that never decreases and
//     stays within MAX_SUPPLIED_MASS to the last row.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "exact/plausibility.h"
#include "exact/supply_history.h"
#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "output/data_file.h"
#include "output/fatal.h"
#include "output/registered_file.h"
#include "run/check.h"
#include "run/driver.h"
#include "run/exact_model.h"
#include "run/run_files.h"
#include "run/run_supply.h"
#include "run/validation.h"
#include "solver/initial_torque.h"
#include "tables/mesh.h"

namespace {

std::string work_folder;

void remove_work_folder() {
  std::error_code ec;
  std::filesystem::remove_all(work_folder, ec);
}

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

void write_bytes(const char* path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A model read from `text` the way a run reads it.
struct read_model {
  bool scanned = false;   // the reader accepted the file
  bool accepted = false;  // the set-up accepts the model
  int status = exit_status::invalid_model;  // the set-up's status when it does not
  parameter_values values{};
  gmodel mod{};
  double rms = 0.0;
};

read_model read_from(const char* path) {
  reset_run_settings();
  read_model m;
  FILE* in = std::fopen(path, "r");
  if (in == nullptr) std::abort();
  refusal_text why{};
  m.scanned = scan_parameter_entries(in, m.values, why);
  std::fclose(in);
  if (!m.scanned) return m;
  fill_run_record(m.values, &m.mod);
  if (!check_order_of_model(&m.mod, why)) return m;
  derive_model_constants(&m.mod, &m.rms);
  m.accepted = check_model(&m.mod, m.values, why);
  if (!m.accepted) return m;
  // Last, the set-up reads a supply table and keeps it from the data files.
  std::string table_problem;
  m.accepted = prepare_run_supply(&m.mod, &table_problem);
  if (m.accepted && !data_file_over_supply_table(&m.mod).empty()) {
    m.accepted = false;
    m.status = exit_status::file;
  }
  return m;
}

// velmora --check on the file `path`: its status and what it printed.
int run_check(const char* path, std::string* printed) {
  reset_run_settings();
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int out = open("check.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (saved < 0 || out < 0 || dup2(out, STDOUT_FILENO) < 0) std::abort();
  const int status = check_parameter_file(path);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(out);
  std::ifstream in("check.txt", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  *printed = ss.str();
  return status;
}

// The keyword lines of --check ("keyword = value unit") written to `path` as
// "value # keyword" entries; an empty text (name, supply_file) prints as "" and is left out.
void write_entries_from_check(const std::string& printed, const char* path) {
  std::ofstream out(path, std::ios::binary);
  std::istringstream lines(printed);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("# derived", 0) == 0) break;
    const size_t eq = line.find(" = ");
    if (line[0] == '#' || eq == std::string::npos) continue;
    const std::string keyword = line.substr(0, eq);
    const std::string value = line.substr(eq + 3, line.find(' ', eq + 3) - (eq + 3));
    if ((keyword == "name" || keyword == "supply_file") && value == "\"\"") continue;
    out << value << " # " << keyword << "\n";
  }
}

bool same_real(double a, double b, double tolerance) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  return std::fabs(a - b) <= tolerance * std::fmax(std::fabs(a), std::fabs(b));
}

void expect_finite_positive(const char* what, double v) {
  if (!(std::isfinite(v) && v > 0.0)) fail("accepted model with a derived constant that is not finite and positive", what);
}

// texp given in days is printed back as days from seconds: (t / 86400) * 86400
// may differ from t in the last bit, and so may everything derived from it.
constexpr double ROUND_TRIP = 1e-14;

void expect_same_model(const read_model& a, const read_model& b) {
  if (!b.accepted) fail("the values --check prints give a model the set-up refuses", "");
  gmodel x = a.mod, y = b.mod;
  const std::pair<double, double> reals[] = {
      {x.mass, y.mass},   {x.mdisk, y.mdisk}, {x.r_out_disk, y.r_out_disk}, {x.l, y.l},
      {x.r_ign_in, y.r_ign_in}, {x.r_ign_out, y.r_ign_out}, {x.sigma_index, y.sigma_index},
      {x.mdot_out, y.mdot_out}};
  for (const auto& [u, v] : reals)
    if (!same_real(u, v, 0.0)) fail("--check printed a value that reads back differently", std::to_string(u));
  const std::pair<double, double> derived[] = {{x.texp, y.texp}, {x.kappa, y.kappa}, {x.nu0, y.nu0}};
  for (const auto& [u, v] : derived)
    if (!same_real(u, v, ROUND_TRIP)) fail("--check printed texp or kappa that read back to another model", "");
  if (x.flag_outer != y.flag_outer) fail("flag_outer differs after --check", "");
}

// Opens, writes and closes the rate file and the initial profile the way a
// run does; the folder must then hold exactly those two names beside `keep`.
void write_data_files(const std::set<std::string>& keep) {
  const std::string rate = rate_file_name();
  const std::string initial = initial_profile_name();
  FILE* out = open_locked_file(rate.c_str());
  std::fputs("#rate\n", out);
  close_data_file(out, rate.c_str());
  pending_file profile = open_pending_file(initial.c_str());
  std::fputs("#profile\n", profile.stream);
  install_pending_file(profile);

  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (keep.count(name) == 0) found.insert(name);
  }
  if (found != std::set<std::string>{rate, initial}) fail("data files not where their names say", rate);
  for (const auto& name : found) std::filesystem::remove(name);
}

void fuzz_parameter_file(const uint8_t* data, size_t size) {
  write_bytes("in.par", data, size);
  std::string printed;
  const int check_status = run_check("in.par", &printed);

  const read_model m = read_from("in.par");
  const int status = m.accepted ? exit_status::ok : m.status;
  if (check_status != status)
    fail("--check and the set-up disagree", std::to_string(check_status) + " vs " + std::to_string(status));
  if (!m.accepted) return;

  expect_finite_positive("texp", m.mod.texp);
  expect_finite_positive("nu0", m.mod.nu0);
  expect_finite_positive("kappa", m.mod.kappa);
  expect_finite_positive("hout", hout_of(&m.mod));
  expect_finite_positive("r_inner_dotM", r_inner_dotM);
  gmodel mod = m.mod;
  std::array<double, NUM_COOR> x{};
  make_mesh(MINX * mod.a, mod.a, NUM_COOR, MESH_LINEAR, x.data());
  for (int j = 0; j < NUM_COOR; ++j) {
    const double F = F_initial(x[j], &mod);
    if (!std::isfinite(F)) fail("accepted model gives a non-finite initial torque", std::to_string(x[j]));
  }
  for (const std::string& w : velmora::plausibility_warnings(velmora::disc_parameters_of(m.values))) {
    const size_t eq = w.find(" = ");
    if (eq == std::string::npos || find_keyword(w.substr(0, eq).c_str()) == nullptr)
      fail("a plausibility warning that names no keyword", w);
  }
  write_data_files({"in.par", "check.txt", "back.par", "table.txt"});  // NAME: this model's, read last

  write_entries_from_check(printed, "back.par");
  expect_same_model(m, read_from("back.par"));
}

void fuzz_supply_table(const uint8_t* data, size_t size) {
  write_bytes("table.txt", data, size);
  try {
    const velmora::supply_history h = velmora::read_supply_table("table.txt");
    const auto& pieces = h.pieces();
    if (pieces.empty() || !(pieces.front().start <= 0.0) || pieces.back().end != INFINITY)
      fail("supply history does not cover t >= 0", "");
    double mass = 0.0;
    for (size_t k = 0; k < pieces.size(); ++k) {
      if (k + 1 < pieces.size() && pieces[k].end != pieces[k + 1].start) fail("supply pieces not contiguous", "");
      const double t = std::fmax(pieces[k].start, 0.0);
      const double rate = h.rate(t);
      if (!(std::isfinite(rate) && rate >= 0.0 && rate <= velmora::MAX_SUPPLY_RATE))
        fail("supply rate not finite, non-negative and within the bound", std::to_string(t));
      const double m = h.supplied_mass(t);
      if (!(std::isfinite(m) && m >= mass * (1.0 - 1e-12))) fail("supplied mass decreases", std::to_string(t));
      // From t = 0 to a row: at most the table's own trapezoids up to that row.
      if (m > velmora::MAX_SUPPLIED_MASS * (1.0 + 1e-12)) fail("supplied mass above the bound", std::to_string(t));
      mass = m;
    }
  } catch (const velmora::supply_table_error&) {
    // the reader's own refusal
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The zero-table lookup prints progress lines; keep the fuzzer's console readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  std::string folder = (std::filesystem::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) std::abort();
  work_folder = folder;
  std::atexit(remove_work_folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr char TABLE[] = "#table";
  if (size >= sizeof TABLE - 1 && std::memcmp(data, TABLE, sizeof TABLE - 1) == 0)
    fuzz_supply_table(data, size);
  else
    fuzz_parameter_file(data, size);
  return 0;
}
