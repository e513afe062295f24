// How many threads a run shares its work between: decided once, where the
// run starts, and handed to every stage that uses threads (the components'
// routes, the decomposition, the test's blocks).
#ifndef OMBRA_NUMERICS_THREADS_H
#define OMBRA_NUMERICS_THREADS_H

#include <string>

namespace ombra {

// A thread count and what asked for it.
struct ThreadChoice {
  int count = 1;
  const char* source = "";  // "--threads", "OMBRA_THREADS", or the CPUs
};

// `option` (--threads) when above 0, else the environment variable
// OMBRA_THREADS, else the CPUs this process may use (its affinity mask and
// CPU quota, not the machine's: a job on a shared node gets a share of it).
// At least 1, and nothing else bounds it.
ThreadChoice chooseThreads(int option);

// "Threads for this run: 2 threads (--threads)\n", for the run's log.
std::string threadLine(const ThreadChoice& choice);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_THREADS_H
