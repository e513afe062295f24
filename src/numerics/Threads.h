// The number of threads the whole program shares its work between: the
// test's blocks, the components' routes and the decomposition alike.
#ifndef OMBRA_NUMERICS_THREADS_H
#define OMBRA_NUMERICS_THREADS_H

#include "numerics/MatrixTeam.h"

namespace ombra {

// --threads when given, else OMBRA_THREADS, else the automatic choice; at
// most matrixsvd::kMaxThreads.
inline int threadCount() { return matrixsvd::svdThreadCount(); }
// 0 restores the automatic choice.
inline void setThreadCount(int count) { matrixsvd::setSvdThreadCount(count); }

}  // namespace ombra

#endif  // OMBRA_NUMERICS_THREADS_H
