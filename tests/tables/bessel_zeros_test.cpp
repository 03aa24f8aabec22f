// Bessel zero tables: every table against its printed leading values and
// against the mathematics that defines it, evaluated here by routes the
// generator does not use; orders and entries without a table, computed at
// the call, against the same mathematics and against the neighbouring
// tables; the size limits and the refusals.
#include <gtest/gtest.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_gamma.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "model/settings.h"
#include "numerics/gsl_owners.h"
#include "support/test_support.h"
#include "tables/bessel_zeros.h"

namespace {

using testing_support::near_rel;
using series = std::array<double, MAX_SERIES_TERMS>;

constexpr double SENTINEL = -7.25e300;  // marks entries get_zeroes must not write

// The printed tables carry ten significant digits, good to 1.1e-9 relative;
// the four printed order-10 coefficients sit 2.3-2.4e-9 above their rule.
constexpr double PRINTED = 1.1e-9;
constexpr double PRINTED_ORDER_10 = 3e-9;

struct order_case {
  const char* name;
  double order;
  int maximum;
  double zero0, zero1;
  double largest_min, largest_max;
  bool coefficients;
  double c1_0, c1_1, c2_0, c2_1;
  double coefficient_tolerance;
};

void PrintTo(const order_case& c, std::ostream* os) { *os << c.name; }
std::string case_name(const ::testing::TestParamInfo<order_case>& info) { return info.param.name; }

const order_case ORDER_CASES[] = {
    {"one_third", 0.3333333333333333, 96, 1.243046259, 4.429120677, 295, 305, false, 0, 0, 0, 0, 0},
    {"minus_one_third", -0.3333333333333333, 33, 0.0, 3.375610653, 95, 101, false, 0, 0, 0, 0, 0},
    {"one_half", 0.5, 63, 1.570796327, 4.71238898, 195, 209, false, 0, 0, 0, 0, 0},
    {"one_tenth", 0.1, 32, 0.6478308808, 4.016086589, 95, 101, false, 0, 0, 0, 0, 0},
    {"one_quarter", 0.25, 64, 1.058508259, 4.284053813, 195, 209, true, 1.582351381, 2.891494513, 0.4952569385,
     -0.2206844026, PRINTED},
    {"two_fifths", 0.4, 67, 1.379338954, 4.543460717, 195, 209, true, 1.1518864, 1.09171543, 0.4753656572,
     -0.2750149317, PRINTED},
    {"two_ninths", 0.2222222222222222, 63, 0.99217315, 4.23512791, 195, 209, false, 0, 0, 0, 0, 0},
    {"three_sixteenths", 0.1875, 64, 0.9046148467, 4.173542836, 195, 209, false, 0, 0, 0, 0, 0},
    {"five_sixteenths", 0.3125, 63, 1.198610438, 4.393085271, 195, 209, true, 1.356245662, 1.894800367, 0.486948788,
     -0.2473089787, PRINTED},
    {"nine_tenths", 0.9, 63, 2.248677139, 5.362716192, 195, 209, false, 0, 0, 0, 0, 0},
    {"two", 2.0, 63, 3.83170597, 7.01558667, 195, 209, false, 0, 0, 0, 0, 0},
    {"ten", 10.0, 62, 13.35430048, 17.24122038, 195, 209, true, 0.2195710115, -0.2085087339, 0.2041810563,
     -0.1962670633, PRINTED_ORDER_10},
};

struct filled {
  series zeroes, constl1, constl2;
  filled() {
    zeroes.fill(SENTINEL);
    constl1.fill(SENTINEL);
    constl2.fill(SENTINEL);
  }
};

// Runs get_zeroes with standard output sent to a temporary file; returns what it printed.
std::string call_get_zeroes(int size, double order, filled* t) {
  std::fflush(stdout);
  FILE* capture = std::tmpfile();
  const int saved = dup(STDOUT_FILENO);
  dup2(fileno(capture), STDOUT_FILENO);
  get_zeroes(size, order, t->zeroes.data(), t->constl1.data(), t->constl2.data());
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::rewind(capture);
  std::string text;
  for (int c = std::fgetc(capture); c != EOF; c = std::fgetc(capture)) text.push_back(static_cast<char>(c));
  std::fclose(capture);
  return text;
}

std::string header_lines(double order, int size) {
  std::array<char, 128> line{};
  std::snprintf(line.data(), line.size(), "\nBegin get_zeroes()\nBessel order=%e  Series length=%d\n", order, size);
  return line.data();
}

// The order whose zeros a table holds, and its first zero-entry.
double zero_order(const order_case& c) { return c.order == -1.0 / 3.0 ? 2.0 / 3.0 : c.order - 1.0; }
int first_zero(const order_case& c) { return c.order == -1.0 / 3.0 ? 1 : 0; }
int zero_count(const order_case& c) { return c.order == -1.0 / 3.0 ? c.maximum - 2 : c.maximum; }

// J_nu(z) and J_(nu+1)(z) by the downward recurrence from the orders nu+2
// and nu+3: no reflection formula, no Y and none of the orders the generator
// evaluates (GSL's own J_(1/2) is NaN at the double nearest 3 pi / 2).
struct bessel_pair {
  double j, j_next;
};
bessel_pair bessel_j_by_recurrence(double nu, double z) {
  const double j2 = gsl_sf_bessel_Jnu(nu + 2.0, z);
  const double j1 = 2.0 * (nu + 2.0) / z * j2 - gsl_sf_bessel_Jnu(nu + 3.0, z);
  return {2.0 * (nu + 1.0) / z * j1 - j2, j1};
}

// McMahon's expansion of the m-th positive zero of J_nu (m = 1, 2, ...) to
// (8a)^-7. While its terms still fall fast, the first omitted one is about
// t7 * (t7 / t5); that estimate goes to *omitted (infinite when they do not).
double mcmahon_zero(double nu, int m, double* omitted) {
  const double mu = 4.0 * nu * nu;
  const double a = (m + 0.5 * nu - 0.25) * M_PI;
  const double e = 8.0 * a;
  const double t1 = (mu - 1.0) / e;
  const double t3 = 4.0 * (mu - 1.0) * (7.0 * mu - 31.0) / (3.0 * std::pow(e, 3));
  const double t5 = 32.0 * (mu - 1.0) * (83.0 * mu * mu - 982.0 * mu + 3779.0) / (15.0 * std::pow(e, 5));
  const double t7 = 64.0 * (mu - 1.0) *
                    (6949.0 * mu * mu * mu - 153855.0 * mu * mu + 1585743.0 * mu - 6277237.0) /
                    (105.0 * std::pow(e, 7));
  const bool falling = std::fabs(t7) < 0.1 * std::fabs(t5) && std::fabs(t5) < 0.1 * std::fabs(t3);
  *omitted = t5 == 0.0 ? 0.0 : falling ? std::fabs(t7 * t7 / t5) : INFINITY;
  return a - t1 - t3 - t5 - t7;
}

class BesselTable : public ::testing::TestWithParam<order_case> {
 protected:
  void SetUp() override { output_ = call_get_zeroes(GetParam().maximum, GetParam().order, &t_); }
  filled t_;
  std::string output_;
};

TEST_P(BesselTable, FullTableMatchesPrintedValuesAndStopsAtItsLength) {
  const order_case& c = GetParam();
  EXPECT_EQ(output_, header_lines(c.order, c.maximum));
  EXPECT_TRUE(near_rel(t_.zeroes[0], c.zero0, PRINTED));
  EXPECT_TRUE(near_rel(t_.zeroes[1], c.zero1, PRINTED));
  EXPECT_EQ(t_.zeroes[c.maximum], SENTINEL);
  if (c.coefficients) {
    EXPECT_TRUE(near_rel(t_.constl1[0], c.c1_0, c.coefficient_tolerance));
    EXPECT_TRUE(near_rel(t_.constl1[1], c.c1_1, c.coefficient_tolerance));
    EXPECT_TRUE(near_rel(t_.constl2[0], c.c2_0, c.coefficient_tolerance));
    EXPECT_TRUE(near_rel(t_.constl2[1], c.c2_1, c.coefficient_tolerance));
    EXPECT_EQ(t_.constl1[c.maximum], SENTINEL);
    EXPECT_EQ(t_.constl2[c.maximum], SENTINEL);
  } else if (c.order == -1.0 / 3.0) {  // outside the range: a zero table only
    EXPECT_EQ(t_.constl1[0], SENTINEL);
    EXPECT_EQ(t_.constl2[0], SENTINEL);
  } else {  // computed; checked against the integrals below
    EXPECT_TRUE(std::isfinite(t_.constl1[c.maximum - 1]));
    EXPECT_TRUE(std::isfinite(t_.constl2[c.maximum - 1]));
    EXPECT_EQ(t_.constl1[c.maximum], SENTINEL);
  }
}

// At a zero z of J_nu the slope is -J_(nu+1)(z), so |J_nu(z) / J_(nu+1)(z)| is
// the Newton correction: the distance to the exact zero. A zero refined to
// adjacent doubles is off by ~1e-16 of z plus the noise of evaluating J
// (measured: at most 7e-16 of z); 1e-14 leaves room for that and is far below
// the 1e-12 that every later use of the tables could notice.
// z[0..n-1] are the first n positive zeros of J_nu, in order. Returns the
// largest of them.
double expect_consecutive_zeros(double nu, const double* z, int n) {
  int asymptotic_checks = 0;
  bool largest_checked = false;
  for (int k = 0; k < n; ++k) {
    const bessel_pair j = bessel_j_by_recurrence(nu, z[k]);
    const double newton = j.j / j.j_next;
    EXPECT_LE(std::fabs(newton), 1e-14 * z[k]) << "entry " << k << " z " << z[k];
    if (k > 0) {
      const double gap = z[k] - z[k - 1];
      EXPECT_GT(gap, 3.11) << "entry " << k;
      EXPECT_LT(gap, 3.89) << "entry " << k;
      // Exactly one zero of J_(nu+1) between two of J_nu: its sign alternates at them.
      const bessel_pair before = bessel_j_by_recurrence(nu, z[k - 1]);
      EXPECT_LT(before.j_next * j.j_next, 0.0) << "entry " << k;
    }
    // Where the expansion's truncation error is below 1e-13 z, the entry is
    // the (k+1)-th zero to 1e-12: no zero skipped or repeated.
    double omitted = 0.0;
    const double expected = mcmahon_zero(nu, k + 1, &omitted);
    if (omitted < 1e-13 * z[k]) {
      EXPECT_TRUE(near_rel(z[k], expected, 1e-12)) << "entry " << k;
      ++asymptotic_checks;
      largest_checked = k == n - 1;
    }
  }
  EXPECT_TRUE(largest_checked);
  EXPECT_GE(asymptotic_checks, 10);
  return z[n - 1];
}

TEST_P(BesselTable, ZerosAreTheConsecutiveZerosOfTheirBesselFunction) {
  const order_case& c = GetParam();
  const int first = first_zero(c);
  if (first == 1) {
    EXPECT_EQ(t_.zeroes[0], 0.0);
    EXPECT_EQ(t_.zeroes[c.maximum - 1], 0.0);
  }
  const double largest = expect_consecutive_zeros(zero_order(c), t_.zeroes.data() + first, zero_count(c));
  EXPECT_GE(largest, c.largest_min);
  EXPECT_LE(largest, c.largest_max);
}

INSTANTIATE_TEST_SUITE_P(AllOrders, BesselTable, ::testing::ValuesIn(ORDER_CASES), case_name);

// ---- coefficient tables ---------------------------------------------------

struct moment {
  double power;
  double nu;
  double z;
};

double moment_integrand(double x, void* p) {
  const auto* m = static_cast<const moment*>(p);
  return std::pow(x, m->power) * gsl_sf_bessel_Jnu(m->nu, m->z * x);
}

double integral_0_1(double power, double nu, double z) {
  moment m{power, nu, z};
  gsl_function f{moment_integrand, &m};
  workspace_owner w(gsl_integration_workspace_alloc(INTEGRATION_LIMIT));
  double value = 0.0;
  double error = 0.0;
  gsl_integration_qags(&f, 0.0, 1.0, 1e-15, 1e-12, INTEGRATION_LIMIT, w.get(), &value, &error);
  return value;
}

// int_0^1 x^p J_l(z x) dx after one integration by parts, using
// d/dx [x^(l+1) J_(l+1)(z x)] = z x^(l+1) J_l(z x):
//   J_(l+1)(z) / z - (p - l - 1) / z * int_0^1 x^(p-1) J_(l+1)(z x) dx.
double moment_by_parts(double p, double l, double z) {
  return gsl_sf_bessel_Jnu(l + 1.0, z) / z - (p - l - 1.0) / z * integral_0_1(p - 1.0, l + 1.0, z);
}

// The same integral from the power series of J_l, term by term, in long
// double; for z up to 17.3 the cancellation costs at most 7 of its 19 digits.
double moment_by_series(double p, double l, double z) {
  long double sum = 0.0L;
  long double term = std::pow(0.5L * z, static_cast<long double>(l)) / std::tgamma(static_cast<long double>(l) + 1.0L);
  for (int m = 0; m < 200; ++m) {
    sum += term / (p + l + 2.0L * m + 1.0L);
    term *= -0.25L * z * z / ((m + 1.0L) * (m + l + 1.0L));
  }
  return static_cast<double>(sum);
}

class CoefficientTable : public BesselTable {};

// Late constl2 entries come from integrals that cancel to ~1e-4 of the
// integral of |integrand|; double integrands then leave ~1e-11 relative.
TEST_P(CoefficientTable, EveryEntryMatchesTheIntegralByParts) {
  const double l = GetParam().order;
  for (int k = 0; k < GetParam().maximum; ++k) {
    const double z = t_.zeroes[k];
    const double j2 = std::pow(gsl_sf_bessel_Jnu(l, z), 2);
    EXPECT_TRUE(near_rel(t_.constl1[k], moment_by_parts(3.0 * l - 1.0, l, z) / j2, 1e-10)) << "constl1 " << k;
    EXPECT_TRUE(near_rel(t_.constl2[k], moment_by_parts(3.0 * l + 1.0, l, z) / j2, 1e-10)) << "constl2 " << k;
  }
}

TEST_P(CoefficientTable, LeadingEntriesMatchThePowerSeries) {
  const double l = GetParam().order;
  for (int k = 0; k < 2; ++k) {
    const double z = t_.zeroes[k];
    const double j2 = std::pow(gsl_sf_bessel_Jnu(l, z), 2);
    EXPECT_TRUE(near_rel(t_.constl1[k], moment_by_series(3.0 * l - 1.0, l, z) / j2, 1e-12)) << k;
    EXPECT_TRUE(near_rel(t_.constl2[k], moment_by_series(3.0 * l + 1.0, l, z) / j2, 1e-12)) << k;
  }
}

TEST_P(CoefficientTable, SignPatterns) {
  const bool constl1_alternates = GetParam().order == 10.0;
  for (int k = 0; k < GetParam().maximum; ++k) {
    const double alternating = k % 2 == 0 ? 1.0 : -1.0;
    EXPECT_GT(t_.constl1[k] * (constl1_alternates ? alternating : 1.0), 0.0) << "constl1 " << k;
    EXPECT_GT(t_.constl2[k] * alternating, 0.0) << "constl2 " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(SupplyOrders, CoefficientTable,
                         ::testing::Values(ORDER_CASES[4], ORDER_CASES[5], ORDER_CASES[8], ORDER_CASES[11]),
                         case_name);

// ---- orders and entries without a table ---------------------------------------

struct computed_case {
  const char* name;
  double order;
  int size;
};
void PrintTo(const computed_case& c, std::ostream* os) { *os << c.name; }

// Orders between the tables, and tables continued beyond their length (150
// entries: zeros up to 470, and room for a sentinel behind them).
const computed_case COMPUTED_CASES[] = {
    {"l0_35", 0.35, 150},
    {"l1_5", 1.5, 150},
    {"one_tenth_beyond_its_table", 0.1, SERIES_LENGTH},
    {"ten_beyond_its_table", 10.0, 150},
};

class ComputedOrder : public ::testing::TestWithParam<computed_case> {
 protected:
  void SetUp() override { output_ = call_get_zeroes(GetParam().size, GetParam().order, &t_); }
  filled t_;
  std::string output_;
};

TEST_P(ComputedOrder, ZerosAreTheConsecutiveZerosOfJ_lMinusOne) {
  const computed_case& c = GetParam();
  EXPECT_EQ(output_, header_lines(c.order, c.size));
  expect_consecutive_zeros(c.order - 1.0, t_.zeroes.data(), c.size);
  EXPECT_EQ(t_.zeroes[c.size], SENTINEL);
}

// As for the tables; beyond them constl2 falls to 1e-4 as z^-2 while the
// adaptive integral by parts keeps ~1e-14 absolute: 1e-10 relative or 1e-13
// absolute, in units of the leading coefficients (0.1 to 1). The first two
// entries also against the power series.
TEST_P(ComputedOrder, CoefficientsMatchTheIntegralByPartsAndThePowerSeries) {
  const double l = GetParam().order;
  for (int k = 0; k < GetParam().size; ++k) {
    const double z = t_.zeroes[k];
    const double j2 = std::pow(gsl_sf_bessel_Jnu(l, z), 2);
    for (const auto& [value, power] : {std::pair{t_.constl1[k], 3.0 * l - 1.0}, std::pair{t_.constl2[k], 3.0 * l + 1.0}}) {
      const double expected = moment_by_parts(power, l, z) / j2;
      EXPECT_LE(std::fabs(value - expected), std::max(1e-10 * std::fabs(expected), 1e-13))
          << "power " << power << " entry " << k << ": " << value << " vs " << expected;
    }
    if (k < 2) {
      EXPECT_TRUE(near_rel(t_.constl1[k], moment_by_series(3.0 * l - 1.0, l, z) / j2, 1e-12)) << k;
      EXPECT_TRUE(near_rel(t_.constl2[k], moment_by_series(3.0 * l + 1.0, l, z) / j2, 1e-12)) << k;
    }
  }
  EXPECT_EQ(t_.constl1[GetParam().size], SENTINEL);
}

INSTANTIATE_TEST_SUITE_P(Orders, ComputedOrder, ::testing::ValuesIn(COMPUTED_CASES),
                         [](const ::testing::TestParamInfo<computed_case>& info) { return std::string(info.param.name); });

// A tabulated order's table is continued without a seam: its stored entries
// are copied as they are, and the next double up, which has no table, gets
// the same values computed. The tables came from bisection on a grid and
// GK61 quadrature of J_(-v) by reflection; zeros agree to 2e-15 relative
// (measured 1.1e-15), coefficients to 1e-12 absolute (measured 4e-14: late
// constl2 entries are small differences) or 1e-12 relative (measured 2e-13).
TEST(TableNeighbour, ComputedValuesReproduceEveryTable) {
  for (const order_case& c : ORDER_CASES) {
    if (c.order == -1.0 / 3.0) continue;
    filled stored, longer, computed;
    call_get_zeroes(c.maximum, c.order, &stored);
    call_get_zeroes(SERIES_LENGTH + c.maximum, c.order, &longer);
    call_get_zeroes(c.maximum, std::nextafter(c.order, 1.0), &computed);
    for (int k = 0; k < c.maximum; ++k) {
      EXPECT_EQ(longer.zeroes[k], stored.zeroes[k]) << c.name << " " << k;
      EXPECT_EQ(longer.constl1[k], stored.constl1[k]) << c.name << " " << k;
      EXPECT_TRUE(near_rel(computed.zeroes[k], stored.zeroes[k], 2e-15)) << c.name << " " << k;
      for (const auto& [mine, theirs] : {std::pair{computed.constl1[k], stored.constl1[k]},
                                         std::pair{computed.constl2[k], stored.constl2[k]}}) {
        EXPECT_LE(std::fabs(mine - theirs), std::max(1e-12, 1e-12 * std::fabs(theirs))) << c.name << " " << k;
      }
    }
  }
}

// ---- partial copies -----------------------------------------------------------

TEST(GetZeroes, ShortSeriesOfOrderTwoWritesThreeOfEach) {
  filled t;
  EXPECT_EQ(call_get_zeroes(3, 2.0, &t), header_lines(2.0, 3));
  EXPECT_TRUE(near_rel(t.zeroes[0], 3.83170597, PRINTED));
  EXPECT_TRUE(near_rel(t.zeroes[1], 7.01558667, PRINTED));
  EXPECT_TRUE(near_rel(t.zeroes[2], 10.17346814, PRINTED));
  EXPECT_EQ(t.zeroes[3], SENTINEL);
  EXPECT_NE(t.constl1[2], SENTINEL);
  EXPECT_EQ(t.constl1[3], SENTINEL);
  EXPECT_EQ(t.constl2[3], SENTINEL);
}

TEST(GetZeroes, TwoEntriesOfOrderTenCopyTwoOfEachTable) {
  filled t;
  call_get_zeroes(2, 10.0, &t);
  EXPECT_TRUE(near_rel(t.constl1[1], -0.2085087339, PRINTED_ORDER_10));
  EXPECT_TRUE(near_rel(t.constl2[1], -0.1962670633, PRINTED_ORDER_10));
  EXPECT_EQ(t.zeroes[2], SENTINEL);
  EXPECT_EQ(t.constl1[2], SENTINEL);
  EXPECT_EQ(t.constl2[2], SENTINEL);
}

TEST(GetZeroes, OneEntryOfMinusOneThirdIsZero) {
  filled t;
  call_get_zeroes(1, -1.0 / 3.0, &t);
  EXPECT_EQ(t.zeroes[0], 0.0);
  EXPECT_EQ(t.zeroes[1], SENTINEL);
}

TEST(GetZeroes, SizeZeroOrNegativePrintsTheHeaderAndCopiesNothing) {
  for (int size : {0, -5}) {
    filled t;
    EXPECT_EQ(call_get_zeroes(size, 0.25, &t), header_lines(0.25, size));
    EXPECT_EQ(t.zeroes[0], SENTINEL);
    EXPECT_EQ(t.constl1[0], SENTINEL);
    EXPECT_EQ(t.constl2[0], SENTINEL);
  }
}

TEST(GetZeroes, NullCoefficientArraysAskForTheZerosOnly) {
  filled t;
  call_get_zeroes(SERIES_LENGTH, 0.35, &t);
  series zeroes;
  zeroes.fill(SENTINEL);
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  get_zeroes(SERIES_LENGTH, 0.35, zeroes.data(), nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(zeroes, t.zeroes);
}

TEST(GetZeroes, TheRangeOfOrders) {
  EXPECT_TRUE(order_in_range(0.1));
  EXPECT_TRUE(order_in_range(10.0));
  EXPECT_TRUE(order_in_range(0.333333));
  EXPECT_FALSE(order_in_range(std::nextafter(0.1, 0.0)));
  EXPECT_FALSE(order_in_range(std::nextafter(10.0, 11.0)));
  EXPECT_FALSE(order_in_range(-1.0 / 3.0));
  EXPECT_FALSE(order_in_range(NAN));
  EXPECT_FALSE(order_in_range(INFINITY));
}

// ---- refusals -----------------------------------------------------------------

// Death-test regexes see standard error only; the messages go to standard output.
void get_zeroes_printing_to_stderr(int size, double order) {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  filled t;
  get_zeroes(size, order, t.zeroes.data(), t.constl1.data(), t.constl2.data());
}

class BesselTableDeathTest : public ::testing::TestWithParam<order_case> {};

// Beyond the model record's arrays; for -1/3, which has no rule for more
// entries, beyond its table.
TEST_P(BesselTableDeathTest, OneMoreThanTheLengthIsRefused) {
  const order_case& c = GetParam();
  const int size = (c.order == -1.0 / 3.0 ? c.maximum : MAX_SERIES_TERMS) + 1;
  const std::string message = c.order == 1.0 / 3.0 ? "Error 1 in get_zeroes!" : "Error in get_zeroes!";
  EXPECT_EXIT(get_zeroes_printing_to_stderr(size, c.order), ::testing::ExitedWithCode(255),
              "Series length=" + std::to_string(size) + "\nsize=" + std::to_string(size) + "\n" + message + "\n$");
}

INSTANTIATE_TEST_SUITE_P(AllOrders, BesselTableDeathTest, ::testing::ValuesIn(ORDER_CASES), case_name);

TEST(GetZeroesDeathTest, AnOrderOutOfRangeWithoutTableIsRefusedBeforeAnySizeCheck) {
  EXPECT_EXIT(get_zeroes_printing_to_stderr(50, 0.05), ::testing::ExitedWithCode(255),
              "^\nBegin get_zeroes\\(\\)\nBessel order=5\\.000000e-02  Series length=50\nError in get_zeroes!\n$");
  for (double order : {std::nextafter(10.0, 11.0), -0.5, double(NAN), double(INFINITY)})
    EXPECT_EXIT(get_zeroes_printing_to_stderr(1, order), ::testing::ExitedWithCode(255),
                "Series length=1\nError in get_zeroes!\n$")
        << order;
}

}  // namespace
