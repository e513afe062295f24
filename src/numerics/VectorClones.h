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

#endif  // OMBRA_NUMERICS_VECTORCLONES_H
