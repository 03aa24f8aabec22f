// generate_bessel_tables: computes the constant tables behind get_zeroes.
//
// Usage: generate_bessel_tables <folder>. Writes <folder>/bessel_tables.h and
// <folder>/bessel_tables.cpp; the build runs it once and compiles the source
// into the library, so the running program evaluates no Bessel function.
//
// For each supported model order l the table holds the first N positive zeros
// z_k of J_(l-1), in increasing order. For l = -1/3 the table is 0.0, the
// first 31 zeros of J_(2/3), 0.0. For l = 0.25, 0.3125, 0.4 and 10 it also
// holds the series coefficients of the outer-supply term
//   constl1[k] = int_0^1 x^(3l-1) J_l(z_k x) dx / J_l(z_k)^2,
//   constl2[k] = int_0^1 x^(3l+1) J_l(z_k x) dx / J_l(z_k)^2.
//
// Method. GSL evaluates J_nu and Y_nu for nu >= 0 only; a negative
// fractional order -v uses J_(-v) = cos(v pi) J_v - sin(v pi) Y_v. Zeros are
// bracketed by sign changes on a grid of step 1/64 (neighbouring zeros lie
// more than 3 apart) and refined by bisection down to two adjacent doubles,
// of which the one with the smaller |J| is kept. The integrals use GSL's
// adaptive 61-point Gauss-Kronrod rule; its bisection also resolves the
// non-smooth x^(4l-1) behaviour of the first integrand at x = 0 (x^0.25 for
// l = 0.3125). Values are written with 17 significant digits, so they read
// back as the very doubles computed here. A value GSL cannot give as a
// finite number, or an integral that misses its tolerance, ends the run with
// status 1, and no output file is left behind.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/constants.h"
#include "numerics/gsl_owners.h"

namespace {

constexpr int LONGEST_TABLE = 96;
using column = std::array<double, LONGEST_TABLE>;

struct order_entry {
  double order;       // model order l, the exact value get_zeroes compares with
  int length;         // number of entries of each of its tables
  bool coefficients;  // carries constl1 and constl2
};

// In the order in which get_zeroes tries them.
constexpr std::array<order_entry, 12> ORDERS = {{
    {1.0 / 3.0, 96, false},
    {-1.0 / 3.0, 33, false},
    {0.5, 63, false},
    {0.1, 32, false},
    {0.25, 64, true},
    {0.4, 67, true},
    {2.0 / 9.0, 63, false},
    {0.1875, 64, false},
    {0.3125, 63, true},
    {0.9, 63, false},
    {2.0, 63, false},
    {10.0, 62, true},
}};
static_assert(1.0 / 3.0 == 0.3333333333333333 && 2.0 / 9.0 == 0.2222222222222222,
              "the order values are the nearest doubles to 1/3 and 2/9");

// For l = -1/3 the zeros are those of J_(2/3), framed by two zero entries.
constexpr double PADDED_ORDER = -1.0 / 3.0;
constexpr double PADDED_BESSEL_ORDER = 2.0 / 3.0;

constexpr double GRID_STEP = 1.0 / 64.0;
// The later coefficients come from integrals that cancel to 1e-4 of the
// integral of |integrand|, so double-precision integrands limit them to about
// 1e-14 absolute; the coefficients themselves are of order 0.1 to 10 at first.
constexpr double QUADRATURE_TOLERANCE = 1e-13;             // relative
constexpr double COEFFICIENT_ABSOLUTE_TOLERANCE = 1e-12;   // absolute, in units of the coefficient
constexpr std::size_t QUADRATURE_LIMIT = 1000;

[[noreturn]] void fail(const char* what, double nu, double x) {
  std::fprintf(stderr, "generate_bessel_tables: %s of order %.17g at %.17g is not finite\n", what, nu, x);
  std::exit(1);
}

// GSL 2.7 returns NaN, with a success status, for J_(1/2) at the double
// nearest 3 pi / 2, one of the zeros sought; isolated failures of this kind
// are bridged by the recurrence J_v = 2 (v + 1) / x J_(v+1) - J_(v+2).
double gsl_j(double v, double x) {
  const double j = gsl_sf_bessel_Jnu(v, x);
  if (std::isfinite(j)) return j;
  const double bridged = 2.0 * (v + 1.0) / x * gsl_sf_bessel_Jnu(v + 1.0, x) - gsl_sf_bessel_Jnu(v + 2.0, x);
  if (!std::isfinite(bridged)) fail("J", v, x);
  return bridged;
}

double bessel_j(double nu, double x) {
  if (nu >= 0.0) return gsl_j(nu, x);
  const double v = -nu;
  const double y = gsl_sf_bessel_Ynu(v, x);
  if (!std::isfinite(y)) fail("Y", v, x);
  return std::cos(v * phys::pi) * gsl_j(v, x) - std::sin(v * phys::pi) * y;
}

bool opposite_signs(double a, double b) { return (a < 0.0) != (b < 0.0); }

// [a, b] brackets a sign change of J_nu; shrinks it to adjacent doubles.
double refine_zero(double nu, double a, double b) {
  double fa = bessel_j(nu, a);
  double fb = bessel_j(nu, b);
  for (;;) {
    const double m = a + 0.5 * (b - a);
    if (m <= a || m >= b) break;
    const double fm = bessel_j(nu, m);
    if (fm == 0.0) return m;
    if (opposite_signs(fa, fm)) {
      b = m;
      fb = fm;
    } else {
      a = m;
      fa = fm;
    }
  }
  return std::fabs(fa) <= std::fabs(fb) ? a : b;
}

// The first n positive zeros of J_nu into out[first ...].
void find_zeros(double nu, int n, column& out, int first) {
  int found = 0;
  double x_prev = GRID_STEP;
  double f_prev = bessel_j(nu, x_prev);
  for (long i = 2; found < n; ++i) {
    const double x = static_cast<double>(i) * GRID_STEP;
    const double f = bessel_j(nu, x);
    if (f == 0.0) {
      out[first + found++] = x;
      x_prev = x + GRID_STEP;
      f_prev = bessel_j(nu, x_prev);
      ++i;
      continue;
    }
    if (f_prev != 0.0 && opposite_signs(f_prev, f)) out[first + found++] = refine_zero(nu, x_prev, x);
    x_prev = x;
    f_prev = f;
  }
}

struct moment_params {
  double power;  // exponent of x
  double l;      // order of J
  double z;      // wave number
};

double moment_integrand(double x, void* p) {
  const auto* q = static_cast<const moment_params*>(p);
  return std::pow(x, q->power) * gsl_j(q->l, q->z * x);
}

// int_0^1 x^power J_l(z x) dx / J_l(z)^2; false when GSL cannot reach the tolerance.
bool coefficient(double power, double l, double z, double* value) {
  moment_params params{power, l, z};
  gsl_function f{moment_integrand, &params};
  workspace_owner w(gsl_integration_workspace_alloc(QUADRATURE_LIMIT));
  const double j = gsl_j(l, z);
  const double absolute_tolerance = COEFFICIENT_ABSOLUTE_TOLERANCE * j * j;
  double integral = 0.0;
  double error = 0.0;
  gsl_error_handler_t* handler = gsl_set_error_handler_off();
  const int status = gsl_integration_qag(&f, 0.0, 1.0, absolute_tolerance, QUADRATURE_TOLERANCE, QUADRATURE_LIMIT,
                                         GSL_INTEG_GAUSS61, w.get(), &integral, &error);
  gsl_set_error_handler(handler);
  if (status != GSL_SUCCESS) {
    std::fprintf(stderr, "generate_bessel_tables: integral of x^%g J_%g(%.17g x): %s\n", power, l, z,
                 gsl_strerror(status));
    return false;
  }
  *value = integral / (j * j);
  if (!std::isfinite(*value)) fail("coefficient integral", l, z);
  return true;
}

struct order_tables {
  column zeroes{};
  column constl1{};
  column constl2{};
};

bool compute(const order_entry& e, order_tables* t) {
  if (e.order == PADDED_ORDER) {
    t->zeroes[0] = 0.0;
    find_zeros(PADDED_BESSEL_ORDER, e.length - 2, t->zeroes, 1);
    t->zeroes[e.length - 1] = 0.0;
  } else {
    find_zeros(e.order - 1.0, e.length, t->zeroes, 0);
  }
  if (!e.coefficients) return true;
  for (int k = 0; k < e.length; ++k) {
    if (!coefficient(3.0 * e.order - 1.0, e.order, t->zeroes[k], &t->constl1[k])) return false;
    if (!coefficient(3.0 * e.order + 1.0, e.order, t->zeroes[k], &t->constl2[k])) return false;
  }
  return true;
}

static_assert(ORDERS.size() == 12, "HEADER_TEXT declares TABLE_COUNT = 12");
const char* const HEADER_TEXT =
    "// Tables of Bessel-function zeros and outer-supply series coefficients,\n"
    "// one per supported model order. Written by generate_bessel_tables at\n"
    "// build time; do not edit.\n"
    "#pragma once\n"
    "\n"
    "#include <array>\n"
    "\n"
    "namespace bessel_tables {\n"
    "\n"
    "constexpr int TABLE_COUNT = 12;\n"
    "\n"
    "struct table {\n"
    "  double order;           // model order l that selects the table (exact match)\n"
    "  int length;             // entries of each array: the largest series accepted\n"
    "  const double* zeroes;   // positive zeros of J_(l-1)\n"
    "  const double* constl1;  // null when the order has no coefficient tables\n"
    "  const double* constl2;\n"
    "};\n"
    "\n"
    "// In the order in which get_zeroes tries them.\n"
    "extern const std::array<table, TABLE_COUNT> supported;\n"
    "\n"
    "}  // namespace bessel_tables\n";

void write_column(FILE* out, const char* name, int index, const column& values, int length) {
  std::fprintf(out, "constexpr std::array<double, %d> %s_%d = {{\n", length, name, index);
  for (int k = 0; k < length; ++k) std::fprintf(out, "    %.17g,\n", values[k]);
  std::fprintf(out, "}};\n");
}

bool write_source(FILE* out, const std::array<order_tables, ORDERS.size()>& tables) {
  std::fprintf(out,
               "// Bessel zero and coefficient tables. Written by generate_bessel_tables at\n"
               "// build time; do not edit.\n"
               "#include \"generated/bessel_tables.h\"\n\nnamespace bessel_tables {\nnamespace {\n\n");
  for (std::size_t i = 0; i < ORDERS.size(); ++i) {
    const int n = ORDERS[i].length;
    std::fprintf(out, "// l = %.17g\n", ORDERS[i].order);
    write_column(out, "zeroes", static_cast<int>(i), tables[i].zeroes, n);
    if (ORDERS[i].coefficients) {
      write_column(out, "constl1", static_cast<int>(i), tables[i].constl1, n);
      write_column(out, "constl2", static_cast<int>(i), tables[i].constl2, n);
    }
    std::fprintf(out, "\n");
  }
  std::fprintf(out, "}  // namespace\n\nconst std::array<table, TABLE_COUNT> supported = {{\n");
  for (std::size_t i = 0; i < ORDERS.size(); ++i) {
    if (ORDERS[i].coefficients) {
      std::fprintf(out, "    {%.17g, %d, zeroes_%zu.data(), constl1_%zu.data(), constl2_%zu.data()},\n",
                   ORDERS[i].order, ORDERS[i].length, i, i, i);
    } else {
      std::fprintf(out, "    {%.17g, %d, zeroes_%zu.data(), nullptr, nullptr},\n", ORDERS[i].order,
                   ORDERS[i].length, i);
    }
  }
  std::fprintf(out, "}};\n\n}  // namespace bessel_tables\n");
  return std::ferror(out) == 0;
}

// Writes through a temporary name, so a failed run leaves no partial file.
template <typename Writer>
bool write_file(const std::string& path, Writer writer) {
  const std::string temporary = path + ".part";
  FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return false;
  const bool written = writer(out);
  const bool closed = std::fclose(out) == 0;
  if (!(written && closed) || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: generate_bessel_tables <output folder>\n");
    return 1;
  }
  static std::array<order_tables, ORDERS.size()> tables;
  for (std::size_t i = 0; i < ORDERS.size(); ++i) {
    if (!compute(ORDERS[i], &tables[i])) return 1;
  }
  const std::string folder = argv[1];
  const bool header_ok = write_file(folder + "/bessel_tables.h", [](FILE* out) {
    std::fputs(HEADER_TEXT, out);
    return std::ferror(out) == 0;
  });
  const bool source_ok =
      header_ok && write_file(folder + "/bessel_tables.cpp", [](FILE* out) { return write_source(out, tables); });
  if (!source_ok) {
    std::fprintf(stderr, "generate_bessel_tables: cannot write the tables into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
