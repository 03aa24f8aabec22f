// Storage of the run settings and utility globals, with their start values.
#include "model/settings.h"

double r_inner_dotM = 0.0;
double MAX_TIME = 0.0;
double MIN_TIME = 0.0;
int NUM_TIME = 0;
std::array<char, NAME_CAPACITY> filename{};
std::array<char, NAME_CAPACITY> NAME{};
std::array<char, NAME_CAPACITY> SUPPLY_FILE{};
int save = 0;
int fast = 0;
double texp_m94 = SUPPLY_TIME_START;
int check_only = 0;

std::array<char, NAME_CAPACITY> __filename{};
std::array<char, REGISTRY_CAPACITY> __outfilenames{};
int verbose = 0;

void reset_run_settings() {
  r_inner_dotM = 0.0;
  MAX_TIME = 0.0;
  MIN_TIME = 0.0;
  NUM_TIME = 0;
  filename.fill('\0');
  NAME.fill('\0');
  SUPPLY_FILE.fill('\0');
  save = 0;
  fast = 0;
  texp_m94 = SUPPLY_TIME_START;
  check_only = 0;
  __filename.fill('\0');
  __outfilenames.fill('\0');
  verbose = 0;
}
