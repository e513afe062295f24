#include "core/VectorLevel.h"

namespace ombra {

VectorLevel widestVectorLevel() {
#ifdef OMBRA_X86_KERNELS
  static const VectorLevel level = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
                                       ? VectorLevel::kAvx512
                                   : __builtin_cpu_supports("avx2") ? VectorLevel::kAvx2
                                                                    : VectorLevel::kPortable;
  return level;
#else
  return VectorLevel::kPortable;
#endif
}

}  // namespace ombra
