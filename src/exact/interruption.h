// Stopping a long computation of the core from outside it (Ctrl-C in Python).
//
// The core's long loops (the Bessel zeros of a new order, the projections of
// a new initial shape) call interruption_point() between steps of their
// work. A caller that wants to be able to stop them installs a check for
// its own thread with an interruption_scope; the check throws to stop. The
// exception leaves the core through its owners, and every shared cache stays
// as it was (a cache is replaced whole, only once its new values are all
// computed), so a later call computes the same numbers as if nothing had
// been stopped. Without a scope a point costs one thread-local load; the
// core has no other state of its own beyond the thread.
#pragma once

namespace velmora {

// Throws to stop the computation; called at every point while installed.
using interruption_check = void (*)(void* context);

class interruption_scope {
 public:
  interruption_scope(interruption_check check, void* context);
  ~interruption_scope();  // the enclosing scope's check again
  interruption_scope(const interruption_scope&) = delete;
  interruption_scope& operator=(const interruption_scope&) = delete;

 private:
  interruption_check previous_check_;
  void* previous_context_;
};

// Calls the check of the thread's innermost scope, if there is one.
void interruption_point();

}  // namespace velmora
