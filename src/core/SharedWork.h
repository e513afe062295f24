// Units of work shared out between threads, each unit taken by whichever
// thread is free, with the failure of any thread (memory running out) ending
// the work as it would on the calling thread.
#ifndef OMBRA_CORE_SHAREDWORK_H
#define OMBRA_CORE_SHAREDWORK_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace ombra {

// Calls body(unit, worker) for every unit < units on up to `threads`
// threads, the calling one being worker 0 (worker < threads lets the body
// keep scratch per thread). Once a unit throws, no further unit starts, and
// the first exception is rethrown here after every thread has stopped.
template <class Body>
void shareWork(size_t units, size_t threads, Body&& body) {
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  auto work = [&](size_t worker) {
    try {
      for (size_t unit = next++; unit < units && !failed; unit = next++) body(unit, worker);
    } catch (...) {
      if (!failed.exchange(true)) failure = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  try {
    for (size_t t = 1; t < std::min(threads, units); ++t) helpers.emplace_back(work, t);
  } catch (const std::system_error&) {
    // Go on with the threads that started (maybe none but this one).
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace ombra

#endif  // OMBRA_CORE_SHAREDWORK_H
