// The number of threads the whole program shares its work between: the
// test's blocks, the components' routes and the decomposition alike.
#ifndef OMBRA_NUMERICS_THREADS_H
#define OMBRA_NUMERICS_THREADS_H

#include <string>

namespace ombra {

// --threads when given (setThreadCount), else the environment variable
// OMBRA_THREADS, else the CPUs the process may use (its affinity mask and
// CPU quota); never more than matrixsvd::kMaxThreads, nor more than
// threadCap() allows once OpenBLAS has reserved its buffers.
int threadCount();
// 0 restores the automatic choice.
void setThreadCount(int count);
// "Threads for this run: 2 threads (--threads)\n", for the run's log.
std::string threadLine();

}  // namespace ombra

#endif  // OMBRA_NUMERICS_THREADS_H
