// get_zeroes: the wave numbers and coefficients of the Bessel series.
//
// For the model order l the solver sums its Green's function over the
// positive zeros z_k of J_(l-1); the outer-supply term also needs the two
// coefficients
//   constl1[k] = int_0^1 x^(3l-1) J_l(z_k x) dx / J_l(z_k)^2,
//   constl2[k] = int_0^1 x^(3l+1) J_l(z_k x) dx / J_l(z_k)^2.
//
// Twelve orders have constant tables computed at build time
// (generate_bessel_tables); their entries are copied as they are, so runs of
// those orders keep every digit they always had. Every order l in
// [MIN_ORDER, MAX_ORDER] (0.1 to 10, continuous) is served: what a table does
// not hold (other orders, a series longer than the table, the coefficients
// of the eight orders tabulated without them) is computed at the call, the
// zeros by velmora::bessel_zeros (Newton's method between the zeros of J_l),
// the integrals by velmora::power_projections (Gauss-Legendre panels).
// The zeros of a new order cost about 1.5 ms for a run's 50 terms, the
// coefficients ten times more; callers that do not need the coefficients
// pass null for them.
//
// Failures end the process with status -1 (255 in the shell): an order
// outside the range without a table (the start-up refuses those earlier,
// with status 3), or more entries asked for than the model record holds
// (than its table holds, for the tabulated order -1/3 outside the range).
#include "tables/bessel_zeros.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "exact/bessel_modes.h"
#include "exact/projections.h"
#include "generated/bessel_tables.h"
#include "model/settings.h"
#include "output/fatal.h"

namespace {

const bessel_tables::table* find_table(double order) {
  for (const bessel_tables::table& t : bessel_tables::supported) {
    if (t.order == order) return &t;
  }
  return nullptr;
}

void copy_entries(const double* from, int begin, int end, double* to) {
  for (int k = begin; k < end; ++k) to[k] = from[k];
}

// constl1 and constl2 of entries begin to end-1 from the zeros already in
// place. Only constl1 is integrated. With y = J_l(z x), the Bessel equation
// x^2 y'' + x y' + (z^2 x^2 - l^2) y = 0 times x^m, integrated by parts over
// [0, 1], gives for I(m) = int_0^1 x^m J_l(z x) dx
//   z^2 I(m+2) = (l^2 - (m+1)^2) I(m) + (m+1) J_l(z) - z J_l'(z),
// and at a zero of J_(l-1), z J_l'(z) = -l J_l(z). With m = 3l-1:
//   z^2 I(3l+1) = 4 l J_l(z) - 8 l^2 I(3l-1),
// so constl2 = (4 l / J_l(z) - 8 l^2 constl1) / z^2, as accurate as the
// quadrature of constl1 (1e-14 absolute, measured against the tables) and
// half the start-up cost of a second quadrature.
void compute_coefficients(double l, const double* zeroes, int begin, int end, double* constl1, double* constl2) {
  velmora::power_projections(l, 3.0 * l - 1.0, 0.0, 1.0, zeroes + begin, static_cast<std::size_t>(end - begin),
                             constl1 + begin);
  for (int k = begin; k < end; ++k) {
    const double z = zeroes[k];
    const double edge = velmora::bessel_J(l, z);
    constl1[k] /= edge * edge;
    constl2[k] = (4.0 * l / edge - 8.0 * l * l * constl1[k]) / (z * z);
  }
}

}  // namespace

bool order_in_range(double order) { return order >= velmora::MIN_ORDER && order <= velmora::MAX_ORDER; }

void get_zeroes(int size, double order, double* zeroes, double* constl1, double* constl2, bool quiet) {
  if (!quiet) {
    std::printf("\nBegin get_zeroes()\n");
    std::printf("Bessel order=%e  Series length=%d\n", order, size);
  }
  const bessel_tables::table* t = find_table(order);
  const bool computable = order_in_range(order);
  if (t == nullptr && !computable) {
    std::printf("Error in get_zeroes!\n");
    std::exit(exit_status::bessel_table);
  }
  if (size > (computable ? MAX_SERIES_TERMS : t->length)) {
    std::printf("size=%d\n", size);
    std::fflush(nullptr);
    std::printf(order == 1.0 / 3.0 ? "Error 1 in get_zeroes!\n" : "Error in get_zeroes!\n");
    std::exit(exit_status::bessel_table);
  }
  if (size <= 0) return;

  const int tabulated = t == nullptr ? 0 : std::min(size, t->length);
  if (t != nullptr) copy_entries(t->zeroes, 0, tabulated, zeroes);
  if (tabulated < size) {
    const std::vector<double> z = velmora::bessel_zeros(order, static_cast<std::size_t>(size));
    copy_entries(z.data(), tabulated, size, zeroes);
  }
  if (constl1 == nullptr || constl2 == nullptr) return;
  const int with_coefficients = t != nullptr && t->constl1 != nullptr ? tabulated : 0;
  if (with_coefficients > 0) {
    copy_entries(t->constl1, 0, with_coefficients, constl1);
    copy_entries(t->constl2, 0, with_coefficients, constl2);
  }
  if (computable && with_coefficients < size) compute_coefficients(order, zeroes, with_coefficients, size, constl1, constl2);
}
