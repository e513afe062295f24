#include "numerics/MatrixTeam.h"

#include <cstdlib>
#include <exception>

namespace matrixsvd {

Team::Team(int threads) {
  try {
    helpers_.reserve(threads > 1 ? static_cast<std::size_t>(threads - 1) : 0);
    for (int member = 1; member < threads; ++member) helpers_.emplace_back(&Team::helperLoop, this, member);
  } catch (const std::exception&) {
    // Go on with the threads we have (maybe none but the caller's).
  }
}

Team::~Team() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  for (std::thread& helper : helpers_) helper.join();
}

void Team::run(std::size_t units, Task task, void* body) {
  std::uint32_t job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job = ++job_;
    units_ = units;
    task_ = task;
    body_ = body;
    done_ = 0;
    failed_.store(false);
    next_.store(static_cast<std::uint64_t>(job) << 32);
    wake_.notify_all();
  }
  work(job, units, task, body, 0);
  // A helper may still be finishing a unit it took; a helper that has not
  // woken up yet finds nothing left and is not waited for. Finished units are
  // counted under the mutex, which also makes their results visible here.
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return done_ == units; });
  // A unit that threw (a stop, memory running out) fails the job on the
  // caller's thread, as it would have without helpers.
  std::exception_ptr failure = failure_;
  failure_ = nullptr;
  lock.unlock();
  if (failure) std::rethrow_exception(failure);
}

void Team::work(std::uint32_t job, std::size_t units, Task task, void* body, int member) {
  std::uint64_t claim = next_.load();
  for (;;) {
    if (static_cast<std::uint32_t>(claim >> 32) != job) return;
    std::size_t unit = static_cast<std::size_t>(claim & 0xffffffffu);
    if (unit >= units) return;
    if (!next_.compare_exchange_weak(claim, claim + 1)) continue;
    std::exception_ptr failure;
    if (!failed_.load()) {
      try {
        task(body, unit, member);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failure && !failure_) failure_ = failure;
      if (failure) failed_.store(true);
      if (++done_ == units) finished_.notify_one();
    }
    claim = next_.load();
  }
}

void Team::helperLoop(int member) {
  std::uint32_t seen = 0;
  for (;;) {
    std::uint32_t job;
    std::size_t units;
    Task task;
    void* body;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || job_ != seen; });
      if (stop_) return;
      seen = job = job_;
      units = units_;
      task = task_;
      body = body_;
    }
    work(job, units, task, body, member);
  }
}

}  // namespace matrixsvd
