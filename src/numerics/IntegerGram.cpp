#include "numerics/IntegerGram.h"

#include <algorithm>

#include "numerics/MatrixTeam.h"
#include "numerics/VectorClones.h"

#ifdef OMBRA_X86_KERNELS
#include <immintrin.h>
#define OMBRA_TARGET_VNNI __attribute__((target("avx512f,avx512bw,avx512vnni")))
#endif

namespace ombra {

namespace {

// Entries of Y'Y a kernel call keeps in registers: rows i0 .. i0 + 7 against
// columns j0 .. j0 + 31 (two registers of sixteen sums each).
constexpr int kTileRows = 8;
constexpr int kTileCols = 32;
// Groups of four rows a pass takes before adding its sums to the product:
// their words of every column (some 500 KB for a thousand columns) stay in
// the second-level cache while the tiles go by.
constexpr int kChunkGroups = 128;

// The rows rearranged: word g of column c holds rows 4g .. 4g + 3 of the
// column, one byte each (rows left out or past the block are 0), as y and as
// y + 1 (0, 1, 2: the unsigned operand of the byte products); and each
// column's sum of y, as u = y + 1 adds it to every product. The words lie in
// panels of a tile's columns (y) or rows (y + 1), group after group, so that
// a tile reads each of its two streams in order.
struct Layout {
  int groups = 0;
  int stride = 0;  // columns, rounded up to whole tiles
  const uint32_t* y = nullptr;
  const uint32_t* up = nullptr;
  const int32_t* columnSums = nullptr;
  // Columns j0 .. j0 + kTileCols - 1 of group g (j0 a multiple of kTileCols).
  const uint32_t* yAt(int g, int j0) const {
    return y + (static_cast<size_t>(j0 / kTileCols) * static_cast<size_t>(groups) + static_cast<size_t>(g)) * kTileCols;
  }
  // Columns i0 .. i0 + kTileRows - 1 of group g, plus one.
  const uint32_t* upAt(int g, int i0) const {
    return up +
           (static_cast<size_t>(i0 / kTileRows) * static_cast<size_t>(groups) + static_cast<size_t>(g)) * kTileRows;
  }
};

// Four rows (any of them a row of zeros) into the words of one group, and
// their values added to the columns' sums.
OMBRA_VECTOR_CLONES
void rearrangeGroup(const int8_t* const* rows, int cols, uint32_t* __restrict y, uint32_t* __restrict up,
                    int32_t* __restrict sums) {
  const int8_t* __restrict r0 = rows[0];
  const int8_t* __restrict r1 = rows[1];
  const int8_t* __restrict r2 = rows[2];
  const int8_t* __restrict r3 = rows[3];
  for (int c = 0; c < cols; ++c) {
    y[c] = static_cast<uint32_t>(static_cast<uint8_t>(r0[c])) |
           static_cast<uint32_t>(static_cast<uint8_t>(r1[c])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(r2[c])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(r3[c])) << 24;
    up[c] = static_cast<uint32_t>(static_cast<uint8_t>(r0[c] + 1)) |
            static_cast<uint32_t>(static_cast<uint8_t>(r1[c] + 1)) << 8 |
            static_cast<uint32_t>(static_cast<uint8_t>(r2[c] + 1)) << 16 |
            static_cast<uint32_t>(static_cast<uint8_t>(r3[c] + 1)) << 24;
    sums[c] += (r0[c] + r1[c]) + (r2[c] + r3[c]);
  }
}

Layout rearrange(const int8_t* values, const char* use, int count, int cols, std::vector<uint32_t>& scratch,
                 std::vector<int8_t>& zeros) {
  Layout layout;
  layout.groups = (count + 3) / 4;
  layout.stride = (cols + kTileCols - 1) / kTileCols * kTileCols;
  const size_t words = static_cast<size_t>(layout.groups) * static_cast<size_t>(layout.stride);
  const size_t stride = static_cast<size_t>(layout.stride);
  scratch.assign(2 * words + 3 * stride, 0);
  zeros.assign(static_cast<size_t>(cols), 0);
  uint32_t* y = scratch.data();
  uint32_t* up = y + words;
  int32_t* sums = reinterpret_cast<int32_t*>(up + words);
  uint32_t* yRow = up + words + stride;
  uint32_t* upRow = yRow + stride;
  layout.y = y;
  layout.up = up;
  layout.columnSums = sums;
  // Columns past `cols` (y 0) never reach the product.
  for (int g = 0; g < layout.groups; ++g) {
    const int8_t* rows[4];
    for (int k = 0; k < 4; ++k) {
      const int r = 4 * g + k;
      rows[k] = r < count && use[r] ? values + static_cast<size_t>(r) * static_cast<size_t>(cols) : zeros.data();
    }
    rearrangeGroup(rows, cols, yRow, upRow, sums);
    for (int j0 = 0; j0 < layout.stride; j0 += kTileCols) {
      std::copy(yRow + j0, yRow + j0 + kTileCols, const_cast<uint32_t*>(layout.yAt(g, j0)));
    }
    for (int i0 = 0; i0 < layout.stride; i0 += kTileRows) {
      std::copy(upRow + i0, upRow + i0 + kTileRows, const_cast<uint32_t*>(layout.upAt(g, i0)));
    }
  }
  return layout;
}

// One tile of one pass: groups [g0, g1), rows [i0, i0 + kTileRows) against
// columns [j0, j0 + kTileCols).
struct Tile {
  const Layout* layout;
  int g0, g1, i0, j0;
};

// The sums of u_i y_j of a tile into the product's upper triangle; the
// first pass takes the columns' sums of y away (u = y + 1).
void addTile(const Tile& tile, const int32_t (*sums)[kTileCols], bool firstPass, int cols, int32_t* products) {
  const int32_t* columnSums = tile.layout->columnSums + tile.j0;
  if (tile.j0 >= tile.i0 + kTileRows && tile.j0 + kTileCols <= cols) {
    // Wholly above the diagonal and inside the product.
    for (int i = 0; i < kTileRows; ++i) {
      int32_t* __restrict out = products + static_cast<size_t>(tile.i0 + i) * static_cast<size_t>(cols) + tile.j0;
      for (int j = 0; j < kTileCols; ++j) out[j] += sums[i][j] - (firstPass ? columnSums[j] : 0);
    }
    return;
  }
  for (int i = 0; i < kTileRows && tile.i0 + i < cols; ++i) {
    const int row = tile.i0 + i;
    int32_t* out = products + static_cast<size_t>(row) * static_cast<size_t>(cols) + tile.j0;
    for (int j = std::max(0, row - tile.j0); j < kTileCols && tile.j0 + j < cols; ++j) {
      out[j] += sums[i][j] - (firstPass ? columnSums[j] : 0);
    }
  }
}

// Four bytes' products of u and y, summed.
inline int32_t wordProduct(uint32_t u, uint32_t y) {
  int32_t sum = 0;
  for (unsigned b = 0; b < 32; b += 8) {
    sum += static_cast<int32_t>((u >> b) & 0xFFu) * static_cast<int8_t>(static_cast<uint8_t>((y >> b) & 0xFFu));
  }
  return sum;
}

void tilePortable(const Tile& tile, int32_t (*sums)[kTileCols]) {
  const Layout& in = *tile.layout;
  for (int i = 0; i < kTileRows; ++i) {
    for (int j = 0; j < kTileCols; ++j) sums[i][j] = 0;
  }
  for (int g = tile.g0; g < tile.g1; ++g) {
    const uint32_t* y = in.yAt(g, tile.j0);
    const uint32_t* up = in.upAt(g, tile.i0);
    for (int i = 0; i < kTileRows; ++i) {
      for (int j = 0; j < kTileCols; ++j) sums[i][j] += wordProduct(up[i], y[j]);
    }
  }
}

#ifdef OMBRA_X86_KERNELS
OMBRA_TARGET_AVX2 void tileAvx2(const Tile& tile, int32_t (*sums)[kTileCols]) {
  const Layout& in = *tile.layout;
  const __m256i ones = _mm256_set1_epi16(1);
  for (int ih = 0; ih < kTileRows; ih += 4) {
    for (int js = 0; js < kTileCols; js += 16) {
      __m256i acc[4][2];
      for (int i = 0; i < 4; ++i) acc[i][0] = acc[i][1] = _mm256_setzero_si256();
      for (int g = tile.g0; g < tile.g1; ++g) {
        const uint32_t* y = in.yAt(g, tile.j0) + js;
        const uint32_t* up = in.upAt(g, tile.i0) + ih;
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 8));
        for (int i = 0; i < 4; ++i) {
          const __m256i a = _mm256_set1_epi32(static_cast<int>(up[i]));
          // Pairs of byte products (at most 4 in size: no saturation), then
          // pairs of those: each lane's four products.
          acc[i][0] = _mm256_add_epi32(acc[i][0], _mm256_madd_epi16(_mm256_maddubs_epi16(a, b0), ones));
          acc[i][1] = _mm256_add_epi32(acc[i][1], _mm256_madd_epi16(_mm256_maddubs_epi16(a, b1), ones));
        }
      }
      for (int i = 0; i < 4; ++i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&sums[ih + i][js]), acc[i][0]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&sums[ih + i][js + 8]), acc[i][1]);
      }
    }
  }
}

// sum += the four byte products of u and y in each lane, in place: named
// sums (the intrinsic, or an array of sums, has the compiler copy every sum
// through another register or memory around each instruction).
#define OMBRA_DOT_BYTES(sum, u, y) __asm__("vpdpbusd %2, %1, %0" : "+v"(sum) : "v"(u), "v"(y))
#define OMBRA_TILE_ROW(i)                                         \
  do {                                                            \
    const __m512i a = _mm512_set1_epi32(static_cast<int>(up[i])); \
    OMBRA_DOT_BYTES(s##i##0, a, b0);                              \
    OMBRA_DOT_BYTES(s##i##1, a, b1);                              \
  } while (0)

OMBRA_TARGET_VNNI void tileVnni(const Tile& tile, int32_t (*sums)[kTileCols]) {
  static_assert(kTileRows == 8 && kTileCols == 32, "the kernel's sums are named");
  const Layout& in = *tile.layout;
  __m512i s00 = _mm512_setzero_si512(), s01 = s00, s10 = s00, s11 = s00, s20 = s00, s21 = s00, s30 = s00, s31 = s00,
          s40 = s00, s41 = s00, s50 = s00, s51 = s00, s60 = s00, s61 = s00, s70 = s00, s71 = s00;
  const uint32_t* y = in.yAt(tile.g0, tile.j0);
  const uint32_t* up = in.upAt(tile.g0, tile.i0);
  for (int g = tile.g0; g < tile.g1; ++g, y += kTileCols, up += kTileRows) {
    const __m512i b0 = _mm512_loadu_si512(y);
    const __m512i b1 = _mm512_loadu_si512(y + 16);
    OMBRA_TILE_ROW(0);
    OMBRA_TILE_ROW(1);
    OMBRA_TILE_ROW(2);
    OMBRA_TILE_ROW(3);
    OMBRA_TILE_ROW(4);
    OMBRA_TILE_ROW(5);
    OMBRA_TILE_ROW(6);
    OMBRA_TILE_ROW(7);
  }
  const __m512i out[kTileRows][2] = {{s00, s01}, {s10, s11}, {s20, s21}, {s30, s31},
                                     {s40, s41}, {s50, s51}, {s60, s61}, {s70, s71}};
  for (int i = 0; i < kTileRows; ++i) {
    for (int v = 0; v < 2; ++v) _mm512_storeu_si512(&sums[i][16 * v], out[i][v]);
  }
}
#undef OMBRA_TILE_ROW
#undef OMBRA_DOT_BYTES
#endif

using TileKernel = void (*)(const Tile&, int32_t (*)[kTileCols]);

TileKernel kernelAt(VectorLevel level) {
#ifdef OMBRA_X86_KERNELS
  if (level == VectorLevel::kAvx512 && __builtin_cpu_supports("avx512vnni")) return tileVnni;
  if (level != VectorLevel::kPortable) return tileAvx2;
#endif
  (void)level;
  return tilePortable;
}

}  // namespace

void addIntegerProductsAt(VectorLevel level, const int8_t* values, const char* use, int count, int cols,
                          int32_t* products, matrixsvd::Team& team, std::vector<uint32_t>& scratch) {
  if (count <= 0 || cols <= 0) return;
  thread_local std::vector<int8_t> zeros;
  const Layout layout = rearrange(values, use, count, cols, scratch, zeros);
  const TileKernel kernel = kernelAt(level);
  const int rowTiles = (cols + kTileRows - 1) / kTileRows;
  for (int g0 = 0; g0 < layout.groups; g0 += kChunkGroups) {
    const int g1 = std::min(layout.groups, g0 + kChunkGroups);
    // Each unit a band of rows of the product: no two write the same entry.
    team.forEach(static_cast<size_t>(rowTiles), [&](size_t unit, int) {
      const int i0 = static_cast<int>(unit) * kTileRows;
      int32_t sums[kTileRows][kTileCols];
      for (int j0 = i0 / kTileCols * kTileCols; j0 < cols; j0 += kTileCols) {
        const Tile tile{&layout, g0, g1, i0, j0};
        kernel(tile, sums);
        addTile(tile, sums, g0 == 0, cols, products);
      }
    });
  }
}

void addIntegerProducts(const int8_t* values, const char* use, int count, int cols, int32_t* products,
                        matrixsvd::Team& team, std::vector<uint32_t>& scratch) {
  addIntegerProductsAt(widestVectorLevel(), values, use, count, cols, products, team, scratch);
}

}  // namespace ombra
