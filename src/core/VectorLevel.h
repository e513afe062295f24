// The vector instructions a kernel of packed genotypes or of blocks of SNPs
// is built for, chosen when the program runs. Every level does the same IEEE
// operations in the same order, lane by lane, so they all give the same bits;
// a test asks for each level in turn to check it.
#ifndef OMBRA_CORE_VECTORLEVEL_H
#define OMBRA_CORE_VECTORLEVEL_H

namespace ombra {

enum class VectorLevel { kPortable = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest level this processor runs (AVX-512 needs its F and BW parts).
VectorLevel widestVectorLevel();

}  // namespace ombra

#if defined(__GNUC__) && defined(__x86_64__)
// Kernels are built for AVX2 and AVX-512 beside the portable one.
#define OMBRA_X86_KERNELS 1
#define OMBRA_TARGET_AVX2 __attribute__((target("avx2")))
#define OMBRA_TARGET_AVX512 __attribute__((target("avx512f,avx512bw")))
#endif

#endif  // OMBRA_CORE_VECTORLEVEL_H
