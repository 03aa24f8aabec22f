// Storage of the run settings and utility globals, with their start values.
#include "run/settings.h"

double r_inner_dotM = 0.0;
double MAX_TIME = 0.0;
double MIN_TIME = 0.0;
int NUM_TIME = 0;
std::array<char, NAME_CAPACITY> filename{};
std::array<char, NAME_CAPACITY> NAME{};
int save = 0;
int fast = 0;
double texp_m94 = 2592000.0;

std::array<char, NAME_CAPACITY> __filename{};
std::array<char, REGISTRY_CAPACITY> __outfilenames{};
int verbose = 0;
