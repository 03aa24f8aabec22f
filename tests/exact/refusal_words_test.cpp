// Every refusal of the core, from each of its entry points, names a keyword of
// the parameter file's table and opens with "<keyword> = <the value given>":
// the Python binding keys ParameterError.parameter on the first, and a user
// finds the offending line of a parameter file by the second.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "exact/disc_model.h"
#include "exact/errors.h"
#include "exact/observables.h"
#include "exact/output_times.h"
#include "exact/supply_history.h"
#include "model/keywords.h"
#include "model/parameters.h"

namespace {

using velmora::disc_parameters;

disc_parameters decaying_ring() {
  disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 1e24;
  p.r_out_disk = 1e11;
  p.l = 0.4;
  p.r_ign_in = 0.2;
  p.r_ign_out = 0.8;
  p.sigma_index = -0.5;
  p.texp = 20.0;
  p.flag_outer = 0;
  return p;
}

void build(const std::function<void(disc_parameters&)>& change) {
  disc_parameters p = decaying_ring();
  change(p);
  const velmora::disc_model m(p);
}

struct refusal {
  const char* keyword;
  double given;  // the value the message must quote first
  std::function<void()> refuse;
};

TEST(Refusals, NameTheKeywordAndQuoteTheValueGiven) {
  const double nan = NAN;
  const refusal cases[] = {
      {keyword::flag_outer, 3, [] { build([](disc_parameters& p) { p.flag_outer = 3; }); }},
      {keyword::mass, 0, [] { build([](disc_parameters& p) { p.mass = 0.0; }); }},
      {keyword::r_out_disk, nan, [] { build([](disc_parameters& p) { p.r_out_disk = NAN; }); }},
      {keyword::mdisk, -1, [] { build([](disc_parameters& p) { p.mdisk = -1.0; }); }},
      {keyword::r_ign_in, 1.5, [] { build([](disc_parameters& p) { p.r_ign_in = 1.5; }); }},
      {keyword::r_ign_out, 0.1, [] { build([](disc_parameters& p) { p.r_ign_out = 0.1; }); }},
      {keyword::sigma_index, INFINITY, [] { build([](disc_parameters& p) { p.sigma_index = INFINITY; }); }},
      // 1 - r_ign_in^(2 + sigma_index) vanishes: the density cannot be normalised.
      {keyword::sigma_index, -2, [] { build([](disc_parameters& p) { p.sigma_index = -2.0; }); }},
      {keyword::texp, -1, [] { build([](disc_parameters& p) { p.texp = -1.0; }); }},
      {keyword::kappa, 0, [] { build([](disc_parameters& p) { p.texp = 0.0; p.kappa = 0.0; }); }},
      {keyword::l, 20, [] { build([](disc_parameters& p) { p.l = 20.0; }); }},
      {keyword::mdot_out, 1e41, [] { build([](disc_parameters& p) { p.flag_outer = 1; p.mdot_out = 1e41; }); }},
      // A derived quantity out of range blames a quantity given, by its keyword.
      {keyword::mdisk, 1e300, [] { build([](disc_parameters& p) { p.mdisk = 1e300; p.r_ign_out = 1.0; }); }},
      {keyword::min_time, -1, [] { velmora::check_output_times(-1.0, 3.0, 3, 1.7e6); }},
      {keyword::max_time, nan, [] { velmora::check_output_times(0.1, NAN, 3, 1.7e6); }},
      {keyword::min_time, 1e306, [] { velmora::check_output_times(1e306, 3.0, 3, 1.7e6); }},
      {keyword::max_time, 1e306, [] { velmora::check_output_times(0.1, 1e306, 3, 1.7e6); }},
      {keyword::r_out_disk, 1e6, [] {
         disc_parameters p = decaying_ring();
         p.r_out_disk = 1e6;  // inside 6 G M / c^2 = 8.9e6 cm
         const velmora::disc_model m(p);
         const double t = m.texp_seconds();
         double out = 0.0;
         velmora::bolometric_flux(m, &t, 1, {1e22, 0.0}, &out);
       }},
  };
  for (const refusal& c : cases) {
    try {
      c.refuse();
      ADD_FAILURE() << c.keyword << " = " << c.given << " accepted";
    } catch (const velmora::invalid_parameter& e) {
      const std::string text = e.what();
      EXPECT_EQ(e.parameter(), c.keyword) << text;
      EXPECT_NE(find_keyword(e.parameter().c_str()), nullptr) << text;
      const std::string opening = e.parameter() + " = ";
      ASSERT_EQ(text.rfind(opening, 0), 0u) << text;
      const double quoted = std::strtod(text.c_str() + opening.size(), nullptr);
      if (std::isnan(c.given)) EXPECT_TRUE(std::isnan(quoted)) << text;
      else EXPECT_EQ(quoted, c.given) << text;
    }
  }
}

// The supply table is a text: its name is quoted as given, and the mode it
// conflicts with by the keyword of the mode.
TEST(Refusals, ASupplyTableOutsideItsModeQuotesTheNameAndTheMode) {
  try {
    velmora::check_supply_file_mode("outburst.txt", 1);
    FAIL() << "accepted";
  } catch (const velmora::invalid_parameter& e) {
    const std::string text = e.what();
    EXPECT_EQ(e.parameter(), keyword::supply_file);
    EXPECT_EQ(text.rfind(std::string(keyword::supply_file) + " = outburst.txt ", 0), 0u) << text;
    EXPECT_NE(text.find(std::string(keyword::flag_outer) + " = 1"), std::string::npos) << text;
  }
}

}  // namespace
