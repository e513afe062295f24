// Loops worth wider vector registers are also built for them, picked at load
// time where the processor has them. The lanes do the same IEEE operations
// in any width, so every clone computes the same bits.
#ifndef OMBRA_NUMERICS_VECTORCLONES_H
#define OMBRA_NUMERICS_VECTORCLONES_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define OMBRA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define OMBRA_VECTOR_CLONES
#endif

#include <cstddef>

namespace ombra {

// Eight doubles in the lanes of vector registers (one 512-bit register, two
// of 256 or four of 128 bits, as the clone runs): each lane gets the same
// IEEE operations in any width, so values side by side (one per SNP, one
// per individual) are each computed as they would be alone. Read from and
// written to arrays of doubles where they lie (8-byte alignment, aliasing
// the doubles).
constexpr size_t kDoubleLanes = 8;
typedef double DoubleLanes
    __attribute__((vector_size(kDoubleLanes * sizeof(double)), aligned(sizeof(double)), may_alias));

}  // namespace ombra

#endif  // OMBRA_NUMERICS_VECTORCLONES_H
