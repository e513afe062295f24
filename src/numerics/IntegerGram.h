// Y'Y for a block of rows of small integers (the genotypes' integer part,
// -1, 0 or 1; numerics/PackedGenotypes.h), summed in 32-bit integers by a
// kernel of Ombra's own: four rows' products at a time in each lane
// (AVX-512 VNNI, or AVX2's byte multiply-adds, or a portable loop). Integer
// sums are exact in any order, so every kernel, any thread count and any
// split of the rows into blocks give the same numbers, which are those of a
// floating-point product of the same values wherever that is exact.
#ifndef OMBRA_NUMERICS_INTEGERGRAM_H
#define OMBRA_NUMERICS_INTEGERGRAM_H

#include <cstdint>
#include <vector>

#include "core/VectorLevel.h"

namespace matrixsvd {
class Team;
}

namespace ombra {

// products[i * cols + j] += sum over the rows r with use[r] of
// values[r * cols + i] x values[r * cols + j], for j >= i only (the entries
// below the diagonal are not touched). values: count x cols, each -1, 0 or
// 1; the sums must stay within 32 bits (fewer than 2^31 rows in all).
// `scratch` holds the rows rearranged for the kernel.
void addIntegerProducts(const int8_t* values, const char* use, int count, int cols, int32_t* products,
                        matrixsvd::Team& team, std::vector<uint32_t>& scratch);

// The same through the kernel of `level` (at most widestVectorLevel(); AVX-512
// takes the VNNI kernel where the processor has it, else AVX2's).
void addIntegerProductsAt(VectorLevel level, const int8_t* values, const char* use, int count, int cols,
                          int32_t* products, matrixsvd::Team& team, std::vector<uint32_t>& scratch);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_INTEGERGRAM_H
