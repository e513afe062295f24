// The mixed model's vector kernels against the sums written out term by
// term in row order: the same bits at every width, with every tail of
// columns the vector registers leave, and every count of design columns.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "numerics/MetricKernels.h"
#include "numerics/OpenBlas.h"

namespace {

std::vector<double> randomValues(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0, 1);
  std::vector<double> values(count);
  for (double& value : values) value = normal(random);
  return values;
}

TEST(MetricKernels, WeightedColumnSumsAreFusedTermsInRowOrder) {
  const size_t n = 37, stride = 53;
  const std::vector<double> r = randomValues(n * stride, 1);
  const std::vector<std::pair<size_t, size_t>> rows = {{0, 5}, {5, 6}, {9, 30}};  // a gap, a single row
  for (size_t columns : {4u, 8u, 12u, 16u, 28u}) {
    const std::vector<double> weights = randomValues(n * columns, static_cast<unsigned>(columns));
    for (size_t count : {1u, 8u, 16u, 29u, 53u}) {
      std::vector<double> got(columns * count, -1.0);
      ombra::weightedColumnSums(weights.data(), columns, r.data(), stride, rows, count, got.data(), count);
      for (size_t k = 0; k < columns; ++k) {
        for (size_t j = 0; j < count; ++j) {
          double want = 0;
          for (const auto& [begin, end] : rows) {
            for (size_t h = begin; h < end; ++h) want = std::fma(weights[h * columns + k], r[h * stride + j], want);
          }
          ASSERT_EQ(got[k * count + j], want) << columns << " columns, " << count << " wide, at " << k << ", " << j;
        }
      }
    }
  }
}

TEST(MetricKernels, RowSumsAreTheMetricsTermsInRowOrder) {
  const size_t n = 23, stride = 41;
  const std::vector<double> r = randomValues(n * stride, 2);
  const std::vector<double> z = randomValues(n, 3);
  std::vector<ombra::DiagonalBlock> blocks(2);
  blocks[0].begin = 2;
  blocks[0].size = 3;
  blocks[1].begin = 10;
  blocks[1].size = 4;
  for (ombra::DiagonalBlock& block : blocks) {
    block.values = randomValues(block.size * block.size, static_cast<unsigned>(block.begin));
    for (size_t i = 0; i < block.size; ++i) {
      for (size_t k = 0; k < i; ++k) block.values[k * block.size + i] = block.values[i * block.size + k];
    }
  }
  for (size_t count : {3u, 8u, 16u, 24u, 41u}) {
    std::vector<double> cross(count), squares(count);
    ombra::metricRowSums(r.data(), stride, count, n, z.data(), blocks, cross.data(), squares.data());
    for (size_t j = 0; j < count; ++j) {
      double c = 0, s = 0;
      size_t h = 0;
      for (const ombra::DiagonalBlock& block : blocks) {
        for (; h < block.begin; ++h) {
          c += r[h * stride + j] * z[h];
          s += r[h * stride + j] * r[h * stride + j];
        }
        for (size_t i = 0; i < block.size; ++i) {
          const double ri = r[(block.begin + i) * stride + j];
          c += ri * z[block.begin + i];
          s += (1 + block.values[i * block.size + i]) * ri * ri;
          for (size_t k = 0; k < i; ++k) {
            s += 2 * block.values[i * block.size + k] * ri * r[(block.begin + k) * stride + j];
          }
        }
        h = block.begin + block.size;
      }
      for (; h < n; ++h) {
        c += r[h * stride + j] * z[h];
        s += r[h * stride + j] * r[h * stride + j];
      }
      ASSERT_EQ(cross[j], c) << count << " wide, column " << j;
      ASSERT_EQ(squares[j], s) << count << " wide, column " << j;
    }
  }
}

// A large family's r'(V^-1 - I)r two ways: from the eigenvectors and shifts
// (the rotation, where V has no Cholesky factor) and from V's Cholesky factor
// (the triangular solve): the same sums to rounding, at one column and many.
TEST(MetricKernels, RotatedAndFactoredSquaresAgree) {
  const ombra::OpenBlas& blas = ombra::openBlas();
  if (!blas.loaded()) GTEST_SKIP() << "OpenBLAS is not there";
  const size_t m = 40, offset = 3, n = offset + m + 2, width = 11;
  std::mt19937 random(17);
  std::normal_distribution<double> normal;
  // K = B B' / m, positive definite; V = h2 K + (1 - h2) I.
  std::vector<double> b(m * m), k(m * m, 0.0);
  for (double& value : b) value = normal(random);
  for (size_t i = 0; i < m; ++i) {
    for (size_t j = 0; j < m; ++j) {
      for (size_t l = 0; l < m; ++l) k[i * m + j] += b[i * m + l] * b[j * m + l] / m;
    }
  }
  const double h2 = 0.6;
  std::vector<double> vectors = k, values(m), v(m * m);
  for (size_t i = 0; i < m * m; ++i) v[i] = h2 * k[i] + (i % (m + 1) == 0 ? 1 - h2 : 0.0);
  const int size = static_cast<int>(m);
  int info = 0, lwork = 10 * size * size;
  std::vector<double> work(static_cast<size_t>(lwork));
  blas.dsyev("V", "L", &size, vectors.data(), &size, values.data(), work.data(), &lwork, &info);
  ASSERT_EQ(info, 0);
  ombra::RotatedBlock block{offset, m, vectors.data(), std::vector<double>(m)};
  for (size_t i = 0; i < m; ++i) block.shifts[i] = 1 / (h2 * values[i] + 1 - h2) - 1;
  blas.dpotrf("L", &size, v.data(), &size, &info);
  ASSERT_EQ(info, 0);
  std::vector<double> r(n * width);
  for (double& value : r) value = normal(random);
  for (size_t count : {size_t{1}, width}) {
    std::vector<double> rotated(count, 1.0), factored(count, 1.0);
    ombra::addRotatedSquares(block, r.data(), width, count, rotated.data());
    ombra::addFactoredSquares(block, v, r.data(), width, count, factored.data());
    for (size_t j = 0; j < count; ++j) {
      EXPECT_NEAR(factored[j], rotated[j], 1e-10 * std::fabs(rotated[j])) << count << " columns, column " << j;
      EXPECT_NE(rotated[j], 1.0);
    }
  }
}

}  // namespace
