#include "formats/CodeDecoding.h"

#include <cstdint>

namespace ombra {

namespace {

#pragma GCC diagnostic ignored "-Wpsabi"
// Eight SNPs side by side: their codes, then their values.
typedef int32_t CodeLanes __attribute__((vector_size(8 * sizeof(int32_t))));
typedef double ValueLanes __attribute__((vector_size(8 * sizeof(double)), aligned(sizeof(double)), may_alias));
#define OMBRA_VALUES_AT(pointer) (*reinterpret_cast<ValueLanes*>(pointer))

// The value of one code: copies, or the SNP's fill where missing.
inline double codeValue(unsigned code, double fill) { return code == 3 ? fill : static_cast<double>(code); }

// Two bytes (eight SNPs) at a time: the bytes' codes shifted into lanes,
// turned into doubles (exact for 0 .. 3), a 3 replaced by the SNP's fill.
__attribute__((always_inline)) inline void decodeLanes(const unsigned char* __restrict codes, size_t count,
                                                       const double* __restrict fill, double* __restrict out,
                                                       double* __restrict sums) {
  const CodeLanes shifts = {6, 4, 2, 0, 14, 12, 10, 8};
  size_t j = 0;
  for (; j + 8 <= count; j += 8) {
    const int32_t pair = codes[j / 4] | (codes[j / 4 + 1] << 8);
    const CodeLanes code = ((CodeLanes{} + pair) >> shifts) & 3;
    ValueLanes value = __builtin_convertvector(code, ValueLanes);
    value = value == 3.0 ? OMBRA_VALUES_AT(const_cast<double*>(fill + j)) : value;
    OMBRA_VALUES_AT(out + j) = value;
    OMBRA_VALUES_AT(sums + j) += value;
  }
  for (; j < count; ++j) {
    out[j] = codeValue((codes[j / 4] >> (6 - 2 * (j % 4))) & 3u, fill[j]);
    sums[j] += out[j];
  }
}

void decodePortable(const unsigned char* codes, size_t count, const double* fill, double* out, double* sums) {
  decodeLanes(codes, count, fill, out, sums);
}

#ifdef OMBRA_X86_KERNELS
OMBRA_TARGET_AVX2 void decodeAvx2(const unsigned char* codes, size_t count, const double* fill, double* out,
                                  double* sums) {
  decodeLanes(codes, count, fill, out, sums);
}

OMBRA_TARGET_AVX512 void decodeAvx512(const unsigned char* codes, size_t count, const double* fill, double* out,
                                      double* sums) {
  decodeLanes(codes, count, fill, out, sums);
}
#endif

#undef OMBRA_VALUES_AT

}  // namespace

void decodeCodesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* fill, double* out,
                   double* sums) {
#ifdef OMBRA_X86_KERNELS
  if (level == VectorLevel::kAvx512) return decodeAvx512(codes, count, fill, out, sums);
  if (level == VectorLevel::kAvx2) return decodeAvx2(codes, count, fill, out, sums);
#endif
  (void)level;
  decodePortable(codes, count, fill, out, sums);
}

void decodeCodes(const unsigned char* codes, size_t count, const double* fill, double* out, double* sums) {
  decodeCodesAt(widestVectorLevel(), codes, count, fill, out, sums);
}

}  // namespace ombra
