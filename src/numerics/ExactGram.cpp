// G = A'A of the centred genotypes, from A = Y + offset 1' + diag(extra) Z
// (numerics/PackedGenotypes.h):
//   G_ij = (Y'Y)_ij + U_i + U_j + q + V_ij + V_ji + P_ij,
//   U_i  = sum_s offset_s y_si + sum_{s: i missing} extra_s offset_s,
//   q    = sum_s offset_s^2,
//   V_ij = sum_{s: j missing} extra_s y_si,   P_ij = sum_{s: i, j missing} extra_s^2.
// Y'Y is a product of small integers, summed exactly in 32-bit integers by a
// kernel of its own (numerics/IntegerGram.h: four rows' byte products per
// lane, several times the speed of a single-precision product, which was
// exact too: its sums stay below 2^24 up to 2^24 rows). The other terms cost
// O(S C + missing calls x C), in doubles. Rows with many missing calls, and
// rows beyond 2^24, are left out of Y'Y and enter through a double product of
// their centred values instead.
//
// The integer products are accumulated in the first half of G's own array
// and widened in place, so that G costs no more memory than before; V (not
// symmetric) is then added row by row in a second pass, into the full rows
// of G, whose lower triangle is free until the two halves are folded.
#include <algorithm>
#include <cstring>

#include "numerics/MatrixTeam.h"
#include "numerics/GramComponents.h"
#include "numerics/IntegerGram.h"
#include "numerics/OpenBlas.h"
#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// Float integers are exact up to 2^24, and |(Y'Y)_ij| is at most the rows.
constexpr long kExactRows = long{1} << 24;

// A missing call costs C multiply-adds in the loops below, about ten times
// dearer each than a product's; past 1/32 of the columns a row costs less
// as a row of a dsyrk (C^2 / 2, less the C^2 / 4 its float row would take).
bool productRow(const DecodedRows& block, int r, int cols) {
  if (block.dosages) return false;
  const long row = long{block.first} + r;
  const int missing = block.rowStart[static_cast<size_t>(r) + 1] - block.rowStart[static_cast<size_t>(r)];
  return row < kExactRows && 32L * missing <= cols;
}

OMBRA_VECTOR_CLONES
void addScaled(double* __restrict sum, double scale, const int8_t* __restrict values, int n) {
  for (int i = 0; i < n; ++i) sum[i] += scale * values[i];
}

// The scratch of the integer products: which rows of a block they take, and
// the rows rearranged for the kernel.
struct IntegerScratch {
  std::vector<char> use;
  std::vector<uint32_t> words;
};

// U's first sum, q, and Y'Y (32-bit integers, upper triangle of the
// row-major C x C array at `products`) over the integer rows of a block; the
// other rows are left out of the product.
void addIntegerRows(const DecodedRows& block, int cols, int32_t* products, IntegerScratch& scratch,
                    std::vector<double>& rowTerm, double& constant, matrixsvd::Team& team) {
  scratch.use.assign(static_cast<size_t>(block.count), 0);
  for (int r = 0; r < block.count; ++r) {
    if (!productRow(block, r, cols)) continue;
    scratch.use[static_cast<size_t>(r)] = 1;
    const double offset = block.centring[static_cast<size_t>(r)].offset;
    addScaled(rowTerm.data(), offset, block.values.data() + static_cast<size_t>(r) * static_cast<size_t>(cols), cols);
    constant += offset * offset;
  }
  addIntegerProducts(block.values.data(), scratch.use.data(), block.count, cols, products, team, scratch.words);
}

// The integers at the start of `gram`'s bytes become its doubles, from the
// last down, so that no integer is overwritten before it is read.
void widenInPlace(std::vector<double>& gram) {
  unsigned char* bytes = reinterpret_cast<unsigned char*>(gram.data());
  for (size_t k = gram.size(); k-- > 0;) {
    int32_t narrow;
    std::memcpy(&narrow, bytes + k * sizeof(int32_t), sizeof narrow);
    const double wide = narrow;
    std::memcpy(bytes + k * sizeof(double), &wide, sizeof wide);
  }
}

// V_{.j} into row j of `gram` (all of it), U's second sum, and P into the
// upper triangle, for the integer rows' missing calls of a block. Columns
// are shared between the team's threads, each column's sums made whole by
// one of them.
void addMissingCalls(const DecodedRows& block, int cols, double* gram, std::vector<double>& rowTerm,
                     matrixsvd::Team& team) {
  const size_t width = static_cast<size_t>(cols);
  constexpr int kColumns = 16;
  team.forEach(static_cast<size_t>((cols + kColumns - 1) / kColumns), [&](size_t unit, int) {
    const int last = std::min(cols, static_cast<int>(unit + 1) * kColumns);
    for (int j = static_cast<int>(unit) * kColumns; j < last; ++j) {
      double* row = gram + static_cast<size_t>(j) * width;
      for (int k = block.columnStart[static_cast<size_t>(j)]; k < block.columnStart[static_cast<size_t>(j) + 1]; ++k) {
        const int r = block.byColumn[static_cast<size_t>(k)];
        if (!productRow(block, r, cols)) continue;
        const RowCentring& centring = block.centring[static_cast<size_t>(r)];
        addScaled(row, centring.extra, block.values.data() + static_cast<size_t>(r) * width, cols);
        rowTerm[static_cast<size_t>(j)] += centring.extra * centring.offset;
      }
    }
  });
  for (int r = 0; r < block.count; ++r) {
    if (!productRow(block, r, cols)) continue;
    const double square = block.centring[static_cast<size_t>(r)].extra * block.centring[static_cast<size_t>(r)].extra;
    const int* missing = block.byRow.data() + block.rowStart[static_cast<size_t>(r)];
    const int calls = block.rowStart[static_cast<size_t>(r) + 1] - block.rowStart[static_cast<size_t>(r)];
    for (int a = 0; a < calls; ++a) {
      double* row = gram + static_cast<size_t>(missing[a]) * width;
      for (int b = a; b < calls; ++b) row[missing[b]] += square;
    }
  }
}

// The rows left out of Y'Y, centred, into the upper triangle by dsyrk, at
// most half a block at a time (with the decoded block, one block of doubles).
void addProductRows(const DecodedRows& block, int cols, double* gram, std::vector<double>& centred) {
  const size_t width = static_cast<size_t>(cols);
  const size_t most = static_cast<size_t>(gramBlockRows(cols) + 1) / 2;
  size_t rows = 0;
  auto flush = [&] {
    if (rows == 0) return;
    openBlas().dsyrk(CblasRowMajor, CblasUpper, CblasTrans, cols, static_cast<int>(rows), 1.0, centred.data(), cols,
                     1.0, gram, cols);
    rows = 0;
  };
  for (int r = 0; r < block.count; ++r) {
    if (productRow(block, r, cols)) continue;
    centred.resize(std::max(centred.size(), (rows + 1) * width));
    centredRow(block, r, cols, centred.data() + rows * width);
    if (++rows == most) flush();
  }
  flush();
}

// Whether the second pass has work in this block.
bool hasMissingTerms(const DecodedRows& block, int cols) {
  if (!block.byRow.empty()) return true;
  for (int r = 0; r < block.count; ++r) {
    if (!productRow(block, r, cols)) return true;
  }
  return false;
}

// Upper triangle of G from the two halves of `gram` and U, q.
void fold(std::vector<double>& gram, int cols, const std::vector<double>& rowTerm, double constant) {
  constexpr int kTile = 64;  // a tile and its mirror stay in cache
  const size_t width = static_cast<size_t>(cols);
  for (int i0 = 0; i0 < cols; i0 += kTile) {
    for (int j0 = i0; j0 < cols; j0 += kTile) {
      for (int i = i0; i < std::min(cols, i0 + kTile); ++i) {
        const double ui = rowTerm[static_cast<size_t>(i)];
        for (int j = std::max(i, j0); j < std::min(cols, j0 + kTile); ++j) {
          double& upper = gram[static_cast<size_t>(i) * width + static_cast<size_t>(j)];
          const double mirror = i == j ? 0.0 : gram[static_cast<size_t>(j) * width + static_cast<size_t>(i)];
          upper = ((upper + mirror) + (ui + rowTerm[static_cast<size_t>(j)])) + constant;
        }
      }
    }
  }
}

}  // namespace

std::vector<double> gramMatrix(const PackedGenotypes& genotypes, std::vector<double>& means, int threads,
                               const RowsVisited& visited) {
  const int snps = genotypes.rows();
  const int cols = genotypes.cols();
  const int blockRows = gramBlockRows(cols);
  std::vector<double> gram(static_cast<size_t>(cols) * static_cast<size_t>(cols), 0.0);
  std::vector<double> rowTerm(static_cast<size_t>(cols), 0.0);
  double constant = 0;
  means.assign(static_cast<size_t>(snps), 0.0);
  DecodedRows block;
  std::vector<char> secondPass;  // per block
  matrixsvd::Team team(threads);
  {
    int32_t* products = reinterpret_cast<int32_t*>(gram.data());
    IntegerScratch scratch;
    for (int first = 0; first < snps; first += blockRows) {
      decodeRows(genotypes, first, std::min(blockRows, snps - first), block);
      if (visited) visited(block.count);
      for (int r = 0; r < block.count; ++r) {
        means[static_cast<size_t>(first + r)] = block.centring[static_cast<size_t>(r)].mean;
      }
      secondPass.push_back(hasMissingTerms(block, cols));
      if (!block.dosages) addIntegerRows(block, cols, products, scratch, rowTerm, constant, team);
    }
  }
  widenInPlace(gram);
  std::vector<double> centred;
  for (int first = 0, b = 0; first < snps; first += blockRows, ++b) {
    const int count = std::min(blockRows, snps - first);
    if (visited) visited(count);
    if (!secondPass[static_cast<size_t>(b)]) continue;
    decodeRows(genotypes, first, count, block);
    addMissingCalls(block, cols, gram.data(), rowTerm, team);
    addProductRows(block, cols, gram.data(), centred);
  }
  fold(gram, cols, rowTerm, constant);
  return gram;
}

}  // namespace ombra
