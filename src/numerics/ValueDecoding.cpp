#include "numerics/ValueDecoding.h"

#include <cstdint>
#include <cstring>

namespace ombra {

namespace {

#pragma GCC diagnostic ignored "-Wpsabi"
// Sixteen codes (four bytes) side by side: their indices, then their values.
typedef int32_t FloatIndices __attribute__((vector_size(16 * sizeof(int32_t))));
typedef float FloatLanes __attribute__((vector_size(16 * sizeof(float))));
// Eight codes (two bytes) for doubles.
typedef int64_t DoubleIndices __attribute__((vector_size(8 * sizeof(int64_t))));
typedef double DoubleLanes __attribute__((vector_size(8 * sizeof(double))));

// table[index[lane]] in every lane: one permutation where g++ has it (clang,
// which builds the fuzz targets, lacks __builtin_shuffle: lane by lane).
template <int N, class Lanes, class Indices>
inline Lanes lookup(const Lanes& table, const Indices& index) {
#if defined(__clang__)
  Lanes value;
  for (int lane = 0; lane < N; ++lane) value[lane] = table[index[lane]];
  return value;
#else
  return __builtin_shuffle(table, index);
#endif
}

template <class T>
inline T codeValue(const unsigned char* codes, size_t j, const double* values) {
  return static_cast<T>(values[(codes[j / 4] >> (6 - 2 * (j % 4))) & 3u]);
}

// A table lookup per lane: the four values repeated across the register,
// indexed by the code shifted out of the bytes' word.
__attribute__((always_inline)) inline void decodeFloatLanes(const unsigned char* __restrict codes, size_t count,
                                                            const double* __restrict values, float* __restrict out) {
  const FloatIndices shifts = {6, 4, 2, 0, 14, 12, 10, 8, 22, 20, 18, 16, 30, 28, 26, 24};
  FloatLanes table;
  for (int lane = 0; lane < 16; ++lane) table[lane] = static_cast<float>(values[lane % 4]);
  size_t j = 0;
  for (; j + 16 <= count; j += 16) {
    const uint32_t ordered = static_cast<uint32_t>(codes[j / 4]) | static_cast<uint32_t>(codes[j / 4 + 1]) << 8 |
                             static_cast<uint32_t>(codes[j / 4 + 2]) << 16 |
                             static_cast<uint32_t>(codes[j / 4 + 3]) << 24;
    const FloatIndices index = ((FloatIndices{} + static_cast<int32_t>(ordered)) >> shifts) & 3;
    const FloatLanes value = lookup<16>(table, index);
    std::memcpy(out + j, &value, sizeof value);
  }
  for (; j < count; ++j) out[j] = codeValue<float>(codes, j, values);
}

__attribute__((always_inline)) inline void decodeDoubleLanes(const unsigned char* __restrict codes, size_t count,
                                                             const double* __restrict values,
                                                             double* __restrict out) {
  const DoubleIndices shifts = {6, 4, 2, 0, 14, 12, 10, 8};
  const DoubleLanes table = {values[0], values[1], values[2], values[3], values[0], values[1], values[2], values[3]};
  size_t j = 0;
  for (; j + 8 <= count; j += 8) {
    const int64_t pair = codes[j / 4] | (codes[j / 4 + 1] << 8);
    const DoubleIndices index = ((DoubleIndices{} + pair) >> shifts) & 3;
    const DoubleLanes value = lookup<8>(table, index);
    std::memcpy(out + j, &value, sizeof value);
  }
  for (; j < count; ++j) out[j] = codeValue<double>(codes, j, values);
}

void floatsPortable(const unsigned char* codes, size_t count, const double* values, float* out) {
  decodeFloatLanes(codes, count, values, out);
}
void doublesPortable(const unsigned char* codes, size_t count, const double* values, double* out) {
  decodeDoubleLanes(codes, count, values, out);
}

#ifdef OMBRA_X86_KERNELS
OMBRA_TARGET_AVX2 void floatsAvx2(const unsigned char* codes, size_t count, const double* values, float* out) {
  decodeFloatLanes(codes, count, values, out);
}
OMBRA_TARGET_AVX2 void doublesAvx2(const unsigned char* codes, size_t count, const double* values, double* out) {
  decodeDoubleLanes(codes, count, values, out);
}
OMBRA_TARGET_AVX512 void floatsAvx512(const unsigned char* codes, size_t count, const double* values, float* out) {
  decodeFloatLanes(codes, count, values, out);
}
OMBRA_TARGET_AVX512 void doublesAvx512(const unsigned char* codes, size_t count, const double* values,
                                       double* out) {
  decodeDoubleLanes(codes, count, values, out);
}
#endif

}  // namespace

void decodeValuesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* values, float* out) {
#ifdef OMBRA_X86_KERNELS
  if (level == VectorLevel::kAvx512) return floatsAvx512(codes, count, values, out);
  if (level == VectorLevel::kAvx2) return floatsAvx2(codes, count, values, out);
#endif
  (void)level;
  floatsPortable(codes, count, values, out);
}

void decodeValuesAt(VectorLevel level, const unsigned char* codes, size_t count, const double* values, double* out) {
#ifdef OMBRA_X86_KERNELS
  if (level == VectorLevel::kAvx512) return doublesAvx512(codes, count, values, out);
  if (level == VectorLevel::kAvx2) return doublesAvx2(codes, count, values, out);
#endif
  (void)level;
  doublesPortable(codes, count, values, out);
}

void decodeValues(const unsigned char* codes, size_t count, const double* values, float* out) {
  decodeValuesAt(widestVectorLevel(), codes, count, values, out);
}

void decodeValues(const unsigned char* codes, size_t count, const double* values, double* out) {
  decodeValuesAt(widestVectorLevel(), codes, count, values, out);
}

}  // namespace ombra
