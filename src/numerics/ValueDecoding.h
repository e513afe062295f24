// A row of 2-bit codes turned into the four values its codes stand for, many
// codes at a time in vector registers: each output is one of the four values
// copied, so every level gives the same bits.
#ifndef OMBRA_NUMERICS_VALUEDECODING_H
#define OMBRA_NUMERICS_VALUEDECODING_H

#include <cstddef>

#include "core/VectorLevel.h"

namespace ombra {

// out[j] = values[code j] for j < count, the codes four to a byte, the
// first in the byte's high bits; `values` holds those of codes 0 .. 3.
void decodeValues(const unsigned char* codes, size_t count, const double* values, float* out);
void decodeValues(const unsigned char* codes, size_t count, const double* values, double* out);

// The same through the kernel of `level` (at most widestVectorLevel()).
void decodeValuesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* values, float* out);
void decodeValuesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* values, double* out);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_VALUEDECODING_H
