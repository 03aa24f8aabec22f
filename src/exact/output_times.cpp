#include "exact/output_times.h"

#include <cmath>

#include "exact/errors.h"
#include "model/keywords.h"

namespace velmora {

namespace {
bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }
}  // namespace

void check_output_times(double min_time, double max_time, int num_time, double texp_seconds) {
  if (num_time >= 1 && !finite_positive(min_time))
    refuse(keyword::min_time, message_text("%s = %.17g must be finite and positive for %s = %d", keyword::min_time,
                                           min_time, keyword::num_time, num_time));
  if (num_time >= 2 && !finite_positive(max_time))
    refuse(keyword::max_time, message_text("%s = %.17g must be finite and positive for %s = %d", keyword::max_time,
                                           max_time, keyword::num_time, num_time));
  // Finite in units of texp can still overflow in seconds (1e306 texp).
  if (num_time >= 1 && !std::isfinite(min_time * texp_seconds))
    refuse(keyword::min_time, message_text("%s = %.17g %s is out of range in seconds (%s = %.17g s)", keyword::min_time,
                                           min_time, keyword::texp, keyword::texp, texp_seconds));
  if (num_time >= 2 && !std::isfinite(max_time * texp_seconds))
    refuse(keyword::max_time, message_text("%s = %.17g %s is out of range in seconds (%s = %.17g s)", keyword::max_time,
                                           max_time, keyword::texp, keyword::texp, texp_seconds));
}

std::vector<double> output_times(double min_time_s, double max_time_s, int num_time) {
  std::vector<double> t(num_time > 0 ? static_cast<std::size_t>(num_time) : 0);
  const double step = std::pow(max_time_s / min_time_s, 1.0 / (static_cast<double>(num_time) - 1.0));
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = min_time_s * std::pow(step, static_cast<double>(i));
  return t;
}

}  // namespace velmora
