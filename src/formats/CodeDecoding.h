// The 2-bit codes of an individual's SNPs turned into the doubles the test
// reads, many SNPs at a time in vector registers. A code's value is 0, 1 or
// 2 copies, or its SNP's fill value where it is missing (code 3): the same
// doubles whatever the width, and each SNP's sum takes one addition per
// individual, so every variant gives the same bits.
#ifndef OMBRA_FORMATS_CODEDECODING_H
#define OMBRA_FORMATS_CODEDECODING_H

#include <cstddef>

#include "core/VectorLevel.h"

namespace ombra {

// SNPs 0 .. count - 1 of one individual's codes (four to a byte, the first
// SNP in the byte's high bits): out[j] = its value, fill[j] where missing;
// sums[j] += out[j].
void decodeCodes(const unsigned char* codes, size_t count, const double* fill, double* out, double* sums);

// The same through the kernel of `level` (at most widestVectorLevel()).
void decodeCodesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* fill, double* out,
                   double* sums);

}  // namespace ombra

#endif  // OMBRA_FORMATS_CODEDECODING_H
