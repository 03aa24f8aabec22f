// Memo of the Bessel rows J_l(z_i s); see bessel_memo.h.
//
// Rows live in slots shared between the memo and whoever waits for them: a
// slot is created empty by the thread that computes it, so a second thread
// asking for the same row waits instead of computing it twice. The row is
// computed outside the lock.
#include "solver/bessel_memo.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>

#include "model/gmodel.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/helper_thread.h"

namespace {

struct row_key {
  std::uint64_t bits;  // the exact double s
  int n;
  bool operator==(const row_key& o) const { return bits == o.bits && n == o.n; }
};

struct row_key_hash {
  std::size_t operator()(const row_key& k) const {
    return static_cast<std::size_t>((k.bits ^ (static_cast<std::uint64_t>(k.n) << 52)) * 0x9E3779B97F4A7C15ull >> 13);
  }
};

struct row_slot {
  long generation = 0;  // of the memo when claimed: a row of an emptied memo is not put back
  bool ready = false;
  bool failed = false;
  std::vector<double> values;
};

struct memo_state {
  std::mutex lock;
  std::condition_variable finished;
  double l = 0.0;
  std::array<double, MAX_SERIES_TERMS> zeroes{};
  int known_zeroes = 0;  // leading entries of zeroes that rows were computed with
  std::unordered_map<row_key, std::shared_ptr<row_slot>, row_key_hash> rows;
  std::size_t doubles = 0;
  long computed = 0;
  long requests = 0;
  long generation = 0;

  // At exit the memo may go before the helper thread's own state; the
  // thread is stopped first, so no task of it can still reach the memo.
  ~memo_state() { stop_helper(); }

  void clear() {
    ++generation;
    rows.clear();
    doubles = 0;
    computed = 0;
    requests = 0;
  }

  // Makes the memo describe the caller's order and first n zeros.
  void follow(const gmodel* mod, int n) {
    const int common = known_zeroes < n ? known_zeroes : n;
    const bool same = l == mod->l && std::memcmp(zeroes.data(), mod->zeroes.data(), sizeof(double) * common) == 0;
    if (!same) {
      clear();
      known_zeroes = 0;
      l = mod->l;
    }
    if (n > known_zeroes) {
      std::memcpy(zeroes.data() + known_zeroes, mod->zeroes.data() + known_zeroes,
                  sizeof(double) * (n - known_zeroes));
      known_zeroes = n;
    }
  }
};

memo_state& memo() {
  static memo_state state;
  return state;
}

row_key key_of(double s, int n) {
  row_key k{0, n};
  std::memcpy(&k.bits, &s, sizeof s);
  return k;
}

// The row as the series has always computed it: the arguments s z_i, then
// one call of the sequence routine. Returns GSL's status.
int compute_row(double s, int n, double l, const double* zeroes, std::vector<double>& out) {
  out.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out[i] = s * zeroes[i];
  return gsl_sf_bessel_sequence_Jnu_e(l, GSL_PREC_DOUBLE, static_cast<std::size_t>(n), out.data());
}

// Claims the row for computation, or returns the slot someone else holds.
// Called with the lock held; `mine` tells which.
std::shared_ptr<row_slot> claim(memo_state& m, const row_key& k, bool* mine) {
  auto it = m.rows.find(k);
  if (it != m.rows.end()) {
    *mine = false;
    return it->second;
  }
  auto slot = std::make_shared<row_slot>();
  slot->generation = m.generation;
  m.rows.emplace(k, slot);
  *mine = true;
  return slot;
}

void publish(memo_state& m, const row_key& k, const std::shared_ptr<row_slot>& slot, bool ok) {
  if (ok) {
    slot->ready = true;
    ++m.computed;
    m.doubles += slot->values.size();
    if (m.doubles > ROW_MEMO_LIMIT && slot->generation == m.generation) {
      // Full: start over, keeping only the row just made. Slots that others
      // are computing or waiting for stay alive through their owners.
      ++m.generation;
      slot->generation = m.generation;
      m.rows.clear();
      m.rows.emplace(k, slot);
      m.doubles = slot->values.size();
    }
  } else {
    slot->failed = true;
    auto it = m.rows.find(k);
    if (it != m.rows.end() && it->second == slot) m.rows.erase(it);
  }
  m.finished.notify_all();
}

// The last few rows each thread asked for, in front of the shared memo: the
// field point and the edge through a radial integral, all three arguments
// through a time integral of the constant-supply mode. Answered without the
// lock, so two threads evaluating the series do not queue for it.
struct recent_rows {
  static constexpr int SIZE = 4;
  double l = 0.0;
  std::array<double, MAX_SERIES_TERMS> zeroes{};
  int known_zeroes = 0;
  std::array<row_key, SIZE> keys{};
  std::array<std::array<double, MAX_SERIES_TERMS>, SIZE> values{};
  int used = 0;
  int next = 0;

  // Forgets everything unless the order and the first n zeros are those
  // the rows were made with.
  void follow(const gmodel* mod, int n) {
    if (l == mod->l && known_zeroes >= n &&
        std::memcmp(zeroes.data(), mod->zeroes.data(), sizeof(double) * n) == 0)
      return;
    used = 0;
    next = 0;
    l = mod->l;
    std::memcpy(zeroes.data(), mod->zeroes.data(), sizeof(double) * n);
    known_zeroes = n;
  }

  bool find(const row_key& k, double* out) const {
    for (int i = 0; i < used; ++i) {
      if (keys[i] == k) {
        std::memcpy(out, values[i].data(), sizeof(double) * k.n);
        return true;
      }
    }
    return false;
  }

  void keep(const row_key& k, const double* row) {
    keys[next] = k;
    std::memcpy(values[next].data(), row, sizeof(double) * k.n);
    next = (next + 1) % SIZE;
    if (used < SIZE) ++used;
  }
};

thread_local recent_rows recent;

void shared_row(double s, int n, const gmodel* mod, double* out);

}  // namespace

void bessel_row(double s, int n, const gmodel* mod, double* out) {
  const row_key k = key_of(s, n);
  recent.follow(mod, n);
  if (recent.find(k, out)) return;
  shared_row(s, n, mod, out);
  recent.keep(k, out);
}

namespace {

void shared_row(double s, int n, const gmodel* mod, double* out) {
  memo_state& m = memo();
  const row_key k = key_of(s, n);
  std::unique_lock<std::mutex> guard(m.lock);
  m.follow(mod, n);
  ++m.requests;
  for (;;) {
    bool mine = false;
    std::shared_ptr<row_slot> slot = claim(m, k, &mine);
    if (!mine) {
      m.finished.wait(guard, [&] { return slot->ready || slot->failed; });
      if (slot->failed) continue;  // the prefetch thread gave up on it: compute it here
      std::memcpy(out, slot->values.data(), sizeof(double) * n);
      return;
    }
    const double l = m.l;
    std::array<double, MAX_SERIES_TERMS> zeroes;
    std::memcpy(zeroes.data(), m.zeroes.data(), sizeof(double) * n);
    guard.unlock();
    // A GSL failure here goes to the program's handler, which ends the run.
    compute_row(s, n, l, zeroes.data(), slot->values);
    std::memcpy(out, slot->values.data(), sizeof(double) * n);
    guard.lock();
    publish(m, k, slot, true);
    return;
  }
}

}  // namespace

bool prefetch_bessel_row(double s, int n, const gmodel* mod) {
  memo_state& m = memo();
  const row_key k = key_of(s, n);
  std::unique_lock<std::mutex> guard(m.lock);
  m.follow(mod, n);
  bool mine = false;
  std::shared_ptr<row_slot> slot = claim(m, k, &mine);
  if (!mine) return true;
  const double l = m.l;
  std::array<double, MAX_SERIES_TERMS> zeroes;
  std::memcpy(zeroes.data(), m.zeroes.data(), sizeof(double) * n);
  guard.unlock();
  bool ok = false;
  {
    deferred_gsl_errors deferred;
    ok = compute_row(s, n, l, zeroes.data(), slot->values) == GSL_SUCCESS && !deferred.failed();
  }
  guard.lock();
  publish(m, k, slot, ok);
  return ok;
}

bessel_memo_counts bessel_memo_statistics() {
  memo_state& m = memo();
  std::lock_guard<std::mutex> guard(m.lock);
  return bessel_memo_counts{m.computed, m.requests, m.doubles};
}

void clear_bessel_memo() {
  recent.used = 0;
  recent.next = 0;
  memo_state& m = memo();
  std::lock_guard<std::mutex> guard(m.lock);
  m.clear();
  m.known_zeroes = 0;
}
