// GSL error reporting for velmora.
//
// GSL's default handler aborts: the process dies by a signal and the stdio
// buffers of open data files are lost. velmora installs its own handler at
// start-up instead: it prints one line with GSL's reason, source file and
// line, and what the run was doing (the operation and the time, where
// known), then ends through exit() with exit_status::numerical_library, so
// every data line computed so far stays in its file.
#pragma once

// Installs the handler; call once at start-up.
void install_gsl_error_handler();

// True once the handler is installed.
bool gsl_error_handler_installed();

// What the run is doing, for the message of a GSL error. `operation` must
// be a string literal (or live as long as the run); time is in seconds,
// NaN when the operation is not tied to an output time.
void set_run_context(const char* operation, double time);

// While an object of this class lives, GSL errors raised on the current
// thread are recorded instead of ending the run: for work done ahead of the
// solver on the prefetch thread, whose failures the solver meets again, in
// its own order, when it needs the value itself; and for integrals whose
// failure the caller reads from GSL's status. Guards nest: each restores
// what it found, and an inner guard's failures stay its own.
class deferred_gsl_errors {
 public:
  deferred_gsl_errors();
  ~deferred_gsl_errors();
  deferred_gsl_errors(const deferred_gsl_errors&) = delete;
  deferred_gsl_errors& operator=(const deferred_gsl_errors&) = delete;
  bool failed() const;

 private:
  bool outer_deferring_;
  bool outer_failure_;
};

// The reverse, for code run inside a deferred call that must keep the run's
// handling: the integrand of an integral whose own failure is deferred (its
// nested integrals still stop the run as before). Restores what it found.
class undeferred_gsl_errors {
 public:
  undeferred_gsl_errors();
  ~undeferred_gsl_errors();
  undeferred_gsl_errors(const undeferred_gsl_errors&) = delete;
  undeferred_gsl_errors& operator=(const undeferred_gsl_errors&) = delete;

 private:
  bool outer_deferring_;
};
