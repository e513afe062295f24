// A small team of threads for the fast svdcmp. Its phases consist of pieces
// of work that touch disjoint data and whose sums are each computed whole by
// one thread (the update of one column, of one block of rows), so handing the
// pieces to different threads changes no floating-point result, only the time.
#ifndef OMBRA_MATRIXTEAM_H
#define OMBRA_MATRIXTEAM_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace matrixsvd {

class Team {
 public:
  // The calling thread is member 0; `threads` - 1 helpers are started (fewer
  // if the system refuses them).
  explicit Team(int threads);
  ~Team();
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  int size() const { return static_cast<int>(helpers_.size()) + 1; }

  // Calls body(unit, member) once for every unit < units and returns when all
  // have finished. Units are taken in increasing order by whichever member is
  // free, so they must not depend on each other; member (< size()) lets a
  // body keep scratch space per thread. The first exception a unit throws
  // is rethrown here, on the calling thread, once every unit is done.
  template <class Body>
  void forEach(std::size_t units, Body&& body) {
    if (units == 0) return;
    // (Unit numbers share a word with the job number: 32 bits each.)
    if (helpers_.empty() || units == 1 || units > 0xffffffffu) {
      for (std::size_t u = 0; u < units; ++u) body(u, 0);
      return;
    }
    run(units, &call<Body>, &body);
  }

 private:
  using Task = void (*)(void*, std::size_t, int);
  template <class Body>
  static void call(void* body, std::size_t unit, int member) {
    (*static_cast<std::remove_reference_t<Body>*>(body))(unit, member);
  }

  void run(std::size_t units, Task task, void* body);
  void work(std::uint32_t job, std::size_t units, Task task, void* body, int member);
  void helperLoop(int member);

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  bool stop_ = false;
  // The job on offer and its finished units, under the mutex.
  std::uint32_t job_ = 0;
  std::size_t units_ = 0;
  Task task_ = nullptr;
  void* body_ = nullptr;
  std::size_t done_ = 0;
  // The first exception a unit of the job threw; the units after it are
  // skipped.
  std::exception_ptr failure_;
  std::atomic<bool> failed_{false};
  // Job number (high half) and next unit to take (low half) in one word, so a
  // helper that wakes up late cannot take a unit of a later job for its own.
  std::atomic<std::uint64_t> next_{0};
};

}  // namespace matrixsvd

#endif  // OMBRA_MATRIXTEAM_H
