#include "numerics/OpenBlas.h"

#include <dlfcn.h>

#include <cstdlib>

namespace ombra {

namespace {

template <typename Function>
void bind(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(handle, name));
}

OpenBlas loadOpenBlas() {
  // OpenBLAS picks its kernels from the processor model when it is loaded,
  // and gives a model it does not know its slowest kernels (several times
  // slower on recent processors). Unless the user chose, name the kernels
  // from the instruction sets the processor and the system support.
  if (std::getenv("OPENBLAS_CORETYPE") == nullptr) {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
      setenv("OPENBLAS_CORETYPE", "SkylakeX", 0);
    } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
      setenv("OPENBLAS_CORETYPE", "Haswell", 0);
    }
  }
  // Between two products OpenBLAS's idle threads spin, yielding, for 2^28
  // cycles, taking a core from the decoding that runs between the
  // products; 2^4 lets them sleep at once (the results are the same).
  setenv("OPENBLAS_THREAD_TIMEOUT", "4", 0);
  OpenBlas library;
  void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return library;
  bind(handle, "cblas_dsyrk", library.dsyrk);
  bind(handle, "cblas_ssyrk", library.ssyrk);
  bind(handle, "cblas_dgemm", library.dgemm);
  bind(handle, "dsytrd_", library.dsytrd);
  bind(handle, "dsterf_", library.dsterf);
  bind(handle, "dstemr_", library.dstemr);
  bind(handle, "dormtr_", library.dormtr);
  bind(handle, "dsyev_", library.dsyev);
  bind(handle, "openblas_set_num_threads", library.setThreads);
  return library;
}

}  // namespace

const OpenBlas& openBlas() {
  static const OpenBlas library = loadOpenBlas();
  return library;
}

}  // namespace ombra
