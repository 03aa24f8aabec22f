// get_zeroes: the wave numbers and coefficients of the Bessel series.
//
// For the model order l the solver sums its Green's function over the
// positive zeros z_k of J_(l-1); for l = 0.25, 0.3125, 0.4 and 10 the
// outer-supply term also needs two coefficient tables (constl1, constl2).
// All values were computed at build time (generate_bessel_tables) and live in
// constant tables; this file only selects the table by the exact value of
// the order and copies its leading entries. Called by the start-up with the
// model record's 200-entry arrays.
//
// Failures end the process with status -1 (255 in the shell): an order that
// has no table, or more entries asked for than the table holds.
#include "tables/bessel_zeros.h"

#include <cstdio>
#include <cstdlib>

#include "generated/bessel_tables.h"
#include "output/fatal.h"
#include "run/settings.h"

namespace {

const bessel_tables::table* find_table(double order) {
  for (const bessel_tables::table& t : bessel_tables::supported) {
    if (t.order == order) return &t;
  }
  return nullptr;
}

void copy_entries(const double* from, int size, double* to) {
  for (int k = 0; k < size; ++k) to[k] = from[k];
}

}  // namespace

void get_zeroes(int size, double order, double* zeroes, double* constl1, double* constl2) {
  if (check_only == 0) {
    std::printf("\nBegin get_zeroes()\n");
    std::printf("Bessel order=%e  Series length=%d\n", order, size);
  }
  const bessel_tables::table* t = find_table(order);
  if (t == nullptr) {
    std::printf("Error in get_zeroes!\n");
    std::exit(exit_status::bessel_table);
  }
  if (size > t->length) {
    std::printf("size=%d\n", size);
    std::fflush(nullptr);
    std::printf(t->order == 1.0 / 3.0 ? "Error 1 in get_zeroes!\n" : "Error in get_zeroes!\n");
    std::exit(exit_status::bessel_table);
  }
  copy_entries(t->zeroes, size, zeroes);
  if (t->constl1 != nullptr) {
    copy_entries(t->constl1, size, constl1);
    copy_entries(t->constl2, size, constl2);
  }
}

int zero_table_length(double order) {
  const bessel_tables::table* t = find_table(order);
  return t == nullptr ? 0 : t->length;
}

bool has_supply_coefficients(double order) {
  const bessel_tables::table* t = find_table(order);
  return t != nullptr && t->constl1 != nullptr;
}
