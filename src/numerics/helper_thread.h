// The optional helper thread.
//
// With two threads the solver stays sequential, in its own order, and a
// second thread works ahead of it: it computes values the solver will ask
// for next (Bessel rows at predictable source and field points) and shares
// independent integrals with it. Every value is computed by the same code on
// the same inputs whichever thread computes it, so the files and the console
// text are those of the serial run, byte for byte. Serial is the default;
// VELMORA_THREADS=2 in the environment switches the helper on.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <optional>

// Threads of the run: 1 (serial) or 2 (solver and helper).
void set_run_threads(int threads);
int run_threads();

// True when the helper thread is on.
bool helper_available();

// Queues work the solver may use later. Such work must only fill caches
// whose answers equal what the solver would compute itself, and must defer
// GSL errors (deferred_gsl_errors) so that a failure is met by the solver.
void post_prefetch(std::function<void()> task);

// Runs `task` on the helper, ahead of any queued prefetch, with GSL errors
// deferred; the future holds its value, or nothing when GSL reported an
// error and the solver must redo the task itself, in its own order.
std::future<std::optional<double>> post_shared(std::function<double()> task);

// The same for work that leaves its results where it was told to; the
// caller must wait for the future before those places go away.
std::future<void> post_shared_work(std::function<void()> task);

// Waits for the running task, drops the queued ones and ends the thread;
// the next post starts it again. Runs by itself at exit.
void stop_helper();
