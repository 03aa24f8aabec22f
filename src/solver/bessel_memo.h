// Memo of the Bessel rows of the Green's function series.
//
// Each evaluation of the series needs the rows J_l(z_i s), i < n, at three
// scalars s: the source point x1, the field point x and the outer edge a.
// GSL's sequence routine integrates the Bessel equation from z_0 s to
// z_(n-1) s in small Runge-Kutta steps, so a row costs milliseconds, and
// nearly every row recurs: the field point and the edge are fixed through a
// radial integral, and the adaptive radial integrals bisect the same way for
// every field point and time, so the source points repeat across the run.
//
// A row is a pure function of (l, the first n zeros, s, n): the memo keeps
// each row under the exact bits of s and the count n, computed by the very
// same call, so a remembered row is bitwise the row the call would return.
// A change of order or zero table empties it; so does reaching its memory
// bound (ROW_MEMO_LIMIT doubles). Safe to use from the prefetch thread.
#pragma once

#include <cstddef>

struct gmodel;

// Upper bound of the memo's size, in doubles (64 MiB).
constexpr std::size_t ROW_MEMO_LIMIT = std::size_t{8} << 20;

// Fills out[0..n) with J_l(z_i s) for the model's order l and zeros z_i.
void bessel_row(double s, int n, const gmodel* mod, double* out);

// Computes the row into the memo unless it is there or being computed;
// returns false when the row could not be computed here (a GSL failure on
// the prefetch thread: the solver then meets it itself, in its own order).
bool prefetch_bessel_row(double s, int n, const gmodel* mod);

// Counts since the last clear: rows computed, requests that reached the
// shared memo (the last rows a thread used are answered before it).
struct bessel_memo_counts {
  long computed;
  long requests;
  std::size_t doubles;
};
bessel_memo_counts bessel_memo_statistics();

// Empties the shared memo and the calling thread's recent rows.
void clear_bessel_memo();
