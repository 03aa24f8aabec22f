// The helper thread; see helper_thread.h.
#include "numerics/helper_thread.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "numerics/gsl_errors.h"

namespace {

// Set once the state below has been destroyed at exit; a plain bool, so it
// outlives every object with a destructor.
bool state_gone = false;

struct helper_state {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> shared;    // integrals the solver waits for
  std::deque<std::function<void()>> prefetch;  // work ahead of the solver
  bool stopping = false;
  std::thread thread;
  int threads = 1;
  bool exit_hook = false;
  ~helper_state() { state_gone = true; }
};

helper_state& state() {
  static helper_state s;
  return s;
}

void helper_loop(helper_state* s) {
  std::unique_lock<std::mutex> guard(s->lock);
  for (;;) {
    s->wake.wait(guard, [s] { return s->stopping || !s->shared.empty() || !s->prefetch.empty(); });
    if (s->stopping) return;
    std::deque<std::function<void()>>& queue = s->shared.empty() ? s->prefetch : s->shared;
    std::function<void()> task = std::move(queue.front());
    queue.pop_front();
    guard.unlock();
    task();
    guard.lock();
  }
}

void stop_at_exit() { stop_helper(); }

// Starts the thread on first use. Called with the lock held.
void ensure_running(helper_state& s) {
  if (s.thread.joinable()) return;
  if (!s.exit_hook) {
    // Registered after the state exists, so it runs before the state's
    // destructor: the thread is joined while everything it uses is alive.
    std::atexit(&stop_at_exit);
    s.exit_hook = true;
  }
  s.stopping = false;
  s.thread = std::thread(&helper_loop, &s);
}

}  // namespace

void set_run_threads(int threads) {
  helper_state& s = state();
  if (threads < 2) stop_helper();
  std::lock_guard<std::mutex> guard(s.lock);
  s.threads = threads < 2 ? 1 : 2;
}

int run_threads() {
  helper_state& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.threads;
}

bool helper_available() { return run_threads() >= 2; }

void post_prefetch(std::function<void()> task) {
  helper_state& s = state();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.threads < 2) return;
    ensure_running(s);
    s.prefetch.push_back(std::move(task));
  }
  s.wake.notify_one();
}

namespace {

// Queues `task` ahead of the prefetch work, or runs it here when the helper
// is off; the future carries its result either way.
template <typename Result>
std::future<Result> enqueue_shared(std::function<Result()> task) {
  auto job = std::make_shared<std::packaged_task<Result()>>(std::move(task));
  std::future<Result> result = job->get_future();
  helper_state& s = state();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.threads < 2) {
      (*job)();
      return result;
    }
    ensure_running(s);
    s.shared.push_back([job] { (*job)(); });
  }
  s.wake.notify_one();
  return result;
}

}  // namespace

std::future<std::optional<double>> post_shared(std::function<double()> task) {
  return enqueue_shared<std::optional<double>>([task = std::move(task)]() -> std::optional<double> {
    deferred_gsl_errors deferred;
    const double value = task();
    if (deferred.failed()) return std::nullopt;
    return value;
  });
}

std::future<void> post_shared_work(std::function<void()> task) { return enqueue_shared<void>(std::move(task)); }

void stop_helper() {
  if (state_gone) return;
  helper_state& s = state();
  std::thread finished;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.thread.joinable()) return;
    if (s.thread.get_id() == std::this_thread::get_id()) return;  // never join oneself
    s.stopping = true;
    s.prefetch.clear();
    finished = std::move(s.thread);
  }
  s.wake.notify_all();
  finished.join();
  std::lock_guard<std::mutex> guard(s.lock);
  s.shared.clear();
  s.stopping = false;
}
