// Evaluations that Ctrl-C can stop: the core computes with the GIL released,
// in blocks of times (or of radii) of some milliseconds each, and between
// blocks the GIL is taken for a moment to let Python see a pending signal:
// KeyboardInterrupt is raised within about 0.6 s instead of at the end.
// Every value is computed as in one call: the core's values at a time or a
// point do not depend on the others asked with it.
#pragma once

#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>


namespace velmora_python {

// Within a gil_scoped_release: point() checks for pending signals once the
// evaluation has run for FIRST_CHECK and then at most every CHECK_INTERVAL
// (each check takes the GIL). A short evaluation never checks: Python sees
// the signal as soon as it returns, as it always did.
class interruptible {
 public:
  void point() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + CHECK_INTERVAL;
    pybind11::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
  }

 private:
  static constexpr std::chrono::milliseconds FIRST_CHECK{500};
  static constexpr std::chrono::milliseconds CHECK_INTERVAL{100};
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now() + FIRST_CHECK;
};

// Values in a block: a few milliseconds of work at most, so a signal waits no longer.
constexpr std::size_t BLOCK_VALUES = 4096;

// compute(t, n, out) over the n times in blocks; one value per time.
template <class Value, class Compute>
void per_time_blocks(const double* t, std::size_t n, Value* out, Compute compute) {
  pybind11::gil_scoped_release release;
  interruptible stop;
  constexpr std::size_t TIMES = 64;  // a time may cost an integral over the disc
  for (std::size_t j = 0; j < n; j += TIMES) {
    stop.point();
    compute(t + j, std::min(TIMES, n - j), out + j);
  }
}

// compute(x, nx, t, nt, out) with out[j nx + k] the value at t[j] and x[k],
// in blocks of radii (what is computed once per radius is computed once per
// block) and, for many times, of times.
template <class Compute>
void grid_blocks(const double* x, std::size_t nx, const double* t, std::size_t nt, double* out, Compute compute) {
  pybind11::gil_scoped_release release;
  interruptible stop;
  if (nx == 0 || nt == 0) return;
  const std::size_t radii = std::max<std::size_t>(1, BLOCK_VALUES / nt);
  const std::size_t times = radii > 1 ? nt : std::max<std::size_t>(BLOCK_VALUES * 16, 1);
  std::vector<double> block;
  for (std::size_t k = 0; k < nx; k += radii) {
    const std::size_t kn = std::min(radii, nx - k);
    for (std::size_t j = 0; j < nt; j += times) {
      const std::size_t jn = std::min(times, nt - j);
      stop.point();
      block.resize(kn * jn);
      compute(x + k, kn, t + j, jn, block.data());
      for (std::size_t a = 0; a < jn; ++a) std::copy_n(block.data() + a * kn, kn, out + (j + a) * nx + k);
    }
  }
}

}  // namespace velmora_python
