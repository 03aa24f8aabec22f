// A disc model prepared the way the set-up prepares one, for the solver's tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include <gsl/gsl_sf_bessel.h>

#include "model/constants.h"
#include "model/gmodel.h"
#include "model/settings.h"
#include "output/model_header.h"
#include "support/test_support.h"

namespace solver_testing {

// The first n positive zeros of J_(l-1), by bisection between sign changes of
// GSL's J_nu on a grid finer than the gap between zeros (about pi).
inline void fill_zeros(gmodel* mod, int n) {
  const double nu = mod->l - 1.0;
  double lo = 1e-3;
  double f_lo = gsl_sf_bessel_Jnu(nu, lo);
  int found = 0;
  while (found < n) {
    const double hi = lo + 0.1;
    const double f_hi = gsl_sf_bessel_Jnu(nu, hi);
    if ((f_lo < 0.0) != (f_hi < 0.0)) {
      double a = lo, b = hi;
      for (int k = 0; k < 200 && b - a > 1e-15 * b; ++k) {
        const double m = 0.5 * (a + b);
        if ((gsl_sf_bessel_Jnu(nu, m) < 0.0) == (f_lo < 0.0)) a = m;
        else b = m;
      }
      mod->zeroes[found++] = 0.5 * (a + b);
    }
    lo = hi;
    f_lo = f_hi;
  }
}

// nu0 and kappa from texp and the first zero, as the set-up derives them.
inline void derive_constants(gmodel* mod) {
  const double l = mod->l;
  mod->nu0 = std::pow(l / mod->zeroes[0], 2) * phys::sixteen_thirds * std::pow(mod->r_out_disk, 0.5 / l) / mod->texp;
  mod->kappa = std::sqrt((l * l * 16.0) / (mod->nu0 * 3.0 * std::pow(phys::G * mod->mass, 0.5 / l)));
}

// Mass 1e33 g, disc radius 1e11 cm, viscous time 10 days, initial disc of
// 1e24 g filling [0.1, 0.6] of the disc radius with Sigma ~ r^-1; nu0 and
// kappa from texp as the set-up derives them, so term i of the Green's
// function decays as exp(-(z_i/z_0)^2 t/texp).
inline gmodel make_model(double l) {
  gmodel mod{};
  mod.mass = 1e33;
  mod.mdisk = 1e24;
  mod.r_out_disk = 1e11;
  mod.r_out_vis = mod.r_out_disk;
  mod.l = l;
  mod.len = SERIES_LENGTH;
  mod.a = 1.0;
  mod.texp = 10.0 * phys::seconds_per_day;
  mod.r_ign_in = 0.1 * mod.r_out_disk;
  mod.r_ign_out = 0.6 * mod.r_out_disk;
  mod.r_mass_in = mod.r_ign_in;
  mod.r_mass_out = mod.r_out_disk;
  mod.sigma_index = -1.0;
  if (l == 0.5) {
    for (int k = 0; k < SERIES_LENGTH; ++k) mod.zeroes[k] = (k + 0.5) * phys::pi;
  } else {
    fill_zeros(&mod, SERIES_LENGTH);
  }
  derive_constants(&mod);
  return mod;
}

// Initial matter over the whole disc: a smooth torque, whose integrals need few subdivisions.
inline void fill_whole_disc(gmodel* mod) {
  mod->r_ign_in = 0.0;
  mod->r_ign_out = 2.0 * mod->r_out_vis;
}

// Runs `body` with standard output captured; returns what it printed.
template <typename Body>
std::string captured_stdout(Body body) {
  ::testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
  return n;
}

// Inside a death test: send standard output to standard error, where the
// death-test regex looks, so the stop's stdout message can be matched.
inline void stdout_to_stderr() {
  std::fflush(stdout);
  dup2(2, 1);
}

// The header block that write_model writes for the model, as text.
inline std::string header_text(gmodel* mod) {
  FILE* f = std::tmpfile();
  write_model(f, mod);
  std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
  std::fclose(f);
  return text;
}

// The tab-separated fields of every line after `prefix`; an empty result
// (and a test failure) when the text does not begin with `prefix`.
inline std::vector<std::vector<std::string>> rows_after(const std::string& text, const std::string& prefix) {
  std::vector<std::vector<std::string>> rows;
  EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << "the file does not begin with header and legend";
  if (text.compare(0, prefix.size(), prefix) != 0) return rows;
  std::istringstream lines(text.substr(prefix.size()));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    rows.emplace_back();
    for (std::string field; std::getline(in, field, '\t');) rows.back().push_back(field);
  }
  return rows;
}

inline std::string printed(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%e", v);
  return s;
}

}  // namespace solver_testing
