#include "numerics/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "SvdReference.h"

struct MatrixTestAccess {
  static void svdcmpInPlace(double** a, int m, int n, double* w, double** v) {
    Matrix::svdcmpInPlace(a, m, n, w, v);
  }
};

namespace {

// A row-pointer matrix with its own storage. With base 1 it has an extra row
// and column 0, filled with a sentinel so that stray writes show up.
class Table {
 public:
  Table(int rows, int cols, int base = 1, double fill = 0.0)
      : data_(rows + base, std::vector<double>(cols + base, fill)) {
    if (base == 1) {
      for (auto& row : data_) row[0] = kSentinel;
      std::fill(data_[0].begin(), data_[0].end(), kSentinel);
    }
    pointRows();
  }
  // Copies get row pointers of their own.
  Table(const Table& other) : data_(other.data_) { pointRows(); }
  Table& operator=(const Table& other) {
    data_ = other.data_;
    pointRows();
    return *this;
  }
  double** ptr() { return ptrs_.data(); }
  double& at(int r, int c) { return data_[r][c]; }
  const std::vector<std::vector<double>>& data() const { return data_; }

  static constexpr double kSentinel = -12345.678;

 private:
  void pointRows() {
    ptrs_.resize(data_.size());
    for (size_t r = 0; r < data_.size(); ++r) ptrs_[r] = data_[r].data();
  }

  std::vector<std::vector<double>> data_;
  std::vector<double*> ptrs_;
};

bool sameBits(double x, double y) {
  if (std::isnan(x) && std::isnan(y)) return true;
  return std::memcmp(&x, &y, sizeof x) == 0;
}

::testing::AssertionResult sameTables(const Table& x, const Table& y) {
  for (size_t r = 0; r < x.data().size(); ++r)
    for (size_t c = 0; c < x.data()[r].size(); ++c)
      if (!sameBits(x.data()[r][c], y.data()[r][c]))
        return ::testing::AssertionFailure()
               << "entry (" << r << "," << c << "): " << x.data()[r][c] << " vs " << y.data()[r][c];
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameVectors(const std::vector<double>& x, const std::vector<double>& y) {
  for (size_t i = 0; i < x.size(); ++i)
    if (!sameBits(x[i], y[i]))
      return ::testing::AssertionFailure() << "entry " << i << ": " << x[i] << " vs " << y[i];
  return ::testing::AssertionSuccess();
}

using Filler = double (*)(std::mt19937_64&, int, int);

double gaussian(std::mt19937_64& rng, int, int) { return std::normal_distribution<double>()(rng); }
double genotype(std::mt19937_64& rng, int, int) {
  return static_cast<double>(std::uniform_int_distribution<int>(0, 2)(rng));
}

Table randomTable(int m, int n, uint64_t seed, Filler fill = gaussian) {
  std::mt19937_64 rng(seed);
  Table t(m, n);
  for (int r = 1; r <= m; ++r)
    for (int c = 1; c <= n; ++c) t.at(r, c) = fill(rng, r, c);
  return t;
}

// Centred 0/1/2 genotypes, rows = markers, as the principal components use them.
Table genotypeTable(int m, int n, uint64_t seed) {
  Table t = randomTable(m, n, seed, genotype);
  for (int r = 1; r <= m; ++r) {
    double sum = 0.0;
    for (int c = 1; c <= n; ++c) sum += t.at(r, c);
    for (int c = 1; c <= n; ++c) t.at(r, c) -= sum / n;
  }
  return t;
}

struct Decomposition {
  Table u;
  std::vector<double> w;
  Table v;
};

using SvdRoutine = void (*)(double**, int, int, double*, double**);

Decomposition decompose(SvdRoutine routine, Table a, int m, int n) {
  Decomposition d{a, std::vector<double>(n + 1, Table::kSentinel), Table(n, n)};
  routine(d.u.ptr(), m, n, d.w.data(), d.v.ptr());
  return d;
}

// The threads of svdcmp for the decompositions that follow.
int svdThreads = 1;

void fastSvd(double** a, int m, int n, double* w, double** v) { Matrix().svdcmp(a, m, n, w, v, svdThreads); }

void expectBitIdentical(const Table& a, int m, int n) {
  Decomposition want = decompose(svdref::svdcmpReference, a, m, n);
  Decomposition got = decompose(fastSvd, a, m, n);
  EXPECT_TRUE(sameTables(got.u, want.u)) << "U of " << m << " x " << n;
  EXPECT_TRUE(sameVectors(got.w, want.w)) << "w of " << m << " x " << n;
  EXPECT_TRUE(sameTables(got.v, want.v)) << "V of " << m << " x " << n;
  Decomposition plain = decompose(MatrixTestAccess::svdcmpInPlace, a, m, n);
  EXPECT_TRUE(sameTables(plain.u, want.u)) << "in-place U of " << m << " x " << n;
  EXPECT_TRUE(sameVectors(plain.w, want.w)) << "in-place w of " << m << " x " << n;
  EXPECT_TRUE(sameTables(plain.v, want.v)) << "in-place V of " << m << " x " << n;
}

// max |A - U diag(w) V'| over the 1-based m x n block.
double reconstructionError(Table& a, Decomposition& d, int m, int n) {
  double worst = 0.0;
  for (int r = 1; r <= m; ++r)
    for (int c = 1; c <= n; ++c) {
      double sum = 0.0;
      for (int k = 1; k <= n; ++k) sum += d.u.at(r, k) * d.w[k] * d.v.at(c, k);
      worst = std::max(worst, std::fabs(sum - a.at(r, c)));
    }
  return worst;
}

// ------------------------------------------------------------------ radius

TEST(MatrixRadius, PythagoreanAndSigns) {
  Matrix mat;
  EXPECT_DOUBLE_EQ(mat.radius(3, 4), 5.0);
  EXPECT_DOUBLE_EQ(mat.radius(-3, 4), 5.0);
  EXPECT_DOUBLE_EQ(mat.radius(4, -3), 5.0);
  EXPECT_EQ(mat.radius(0, 0), 0.0);
}

TEST(MatrixRadius, NoOverflowOrUnderflow) {
  Matrix mat;
  EXPECT_DOUBLE_EQ(mat.radius(1e200, 1e200), std::sqrt(2.0) * 1e200);
  EXPECT_DOUBLE_EQ(mat.radius(1e-200, 1e-200), std::sqrt(2.0) * 1e-200);
  EXPECT_DOUBLE_EQ(mat.radius(1e300, 1.0), 1e300);
}

// ---------------------------------------- fast svdcmp against the oracle

TEST(MatrixSvdBits, RandomShapes) {
  const int shapes[][2] = {{30, 10}, {50, 50}, {200, 37}, {7, 3}, {64, 63}, {33, 17}};
  uint64_t seed = 1;
  for (auto& s : shapes) expectBitIdentical(randomTable(s[0], s[1], seed++), s[0], s[1]);
  expectBitIdentical(genotypeTable(120, 40, 99), 120, 40);
}

// Large enough to cross the row blocks and the batching of the rotations.
TEST(MatrixSvdBits, CrossesBlockAndBatchBoundaries) {
  expectBitIdentical(genotypeTable(700, 160, 7), 700, 160);
}

TEST(MatrixSvdBits, RankDeficient) {
  Table dup = randomTable(40, 12, 11);
  for (int r = 1; r <= 40; ++r) {
    dup.at(r, 5) = dup.at(r, 2);
    dup.at(r, 9) = 0.0;
    dup.at(r, 12) = -dup.at(r, 1);
  }
  expectBitIdentical(dup, 40, 12);
  // A zero first column leaves w[1] = 0 under a non-zero e[2]: the
  // cancellation branch of the QR phase.
  Table zeroFirst = randomTable(10, 6, 13);
  for (int r = 1; r <= 10; ++r) zeroFirst.at(r, 1) = 0.0;
  expectBitIdentical(zeroFirst, 10, 6);
  Table zeroRows = randomTable(20, 8, 12);
  for (int c = 1; c <= 8; ++c) zeroRows.at(1, c) = zeroRows.at(7, c) = 0.0;
  expectBitIdentical(zeroRows, 20, 8);
  expectBitIdentical(Table(6, 4), 6, 4);
  Table rankOne(9, 6);
  for (int r = 1; r <= 9; ++r)
    for (int c = 1; c <= 6; ++c) rankOne.at(r, c) = r * (c - 3.5);
  expectBitIdentical(rankOne, 9, 6);
}

TEST(MatrixSvdBits, WideAndTiny) {
  const int shapes[][2] = {{2, 3}, {3, 8}, {5, 12}, {1, 1}, {2, 1}, {1, 2}, {1, 5}};
  uint64_t seed = 20;
  for (auto& s : shapes) expectBitIdentical(randomTable(s[0], s[1], seed++), s[0], s[1]);
}

TEST(MatrixSvdBits, EmptyAndDiagonal) {
  expectBitIdentical(Table(0, 4), 0, 4);
  expectBitIdentical(Table(3, 0), 3, 0);
  Table diag(5, 5);
  const double d[] = {3.0, -1.5, 0.0, 7.25, -0.5};
  for (int i = 1; i <= 5; ++i) diag.at(i, i) = d[i - 1];
  expectBitIdentical(diag, 5, 5);
}

// Not-a-number and infinite inputs give garbage, but the same garbage, and
// must not send the split search off the arrays.
TEST(MatrixSvdBits, NotFiniteInputsStayInBounds) {
  Table nan = randomTable(6, 4, 31);
  nan.at(3, 2) = std::numeric_limits<double>::quiet_NaN();
  expectBitIdentical(nan, 6, 4);
  Table inf = randomTable(5, 5, 32);
  inf.at(1, 1) = std::numeric_limits<double>::infinity();
  expectBitIdentical(inf, 5, 5);
}

// Sets the thread count of svdcmp for one scope.
class ThreadCount {
 public:
  explicit ThreadCount(int count) { svdThreads = count; }
  ~ThreadCount() { svdThreads = 1; }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;
};

// Large enough for every phase to be shared out between threads; three
// threads split the work unevenly. The result must not depend on the count.
void expectSameBitsOnAnyThreadCount(const Table& a, int m, int n) {
  Decomposition want = decompose(svdref::svdcmpReference, a, m, n);
  for (int threads : {1, 2, 3, 12}) {
    ThreadCount count(threads);
    Decomposition got = decompose(fastSvd, a, m, n);
    EXPECT_TRUE(sameTables(got.u, want.u)) << "U of " << m << " x " << n << ", " << threads << " threads";
    EXPECT_TRUE(sameVectors(got.w, want.w)) << "w of " << m << " x " << n << ", " << threads << " threads";
    EXPECT_TRUE(sameTables(got.v, want.v)) << "V of " << m << " x " << n << ", " << threads << " threads";
  }
}

TEST(MatrixSvdThreads, SameBitsOnAnyThreadCount) {
  expectSameBitsOnAnyThreadCount(genotypeTable(3000, 120, 71), 3000, 120);
  // Tall enough for the narrower column groups of the left-hand phase.
  expectSameBitsOnAnyThreadCount(randomTable(30000, 13, 72), 30000, 13);
}

TEST(MatrixSvdThreads, RankDeficientOnAnyThreadCount) {
  const int m = 2500, n = 90;
  Table a = genotypeTable(m, n, 73);
  for (int r = 1; r <= m; ++r) {
    a.at(r, 1) = 0.0;
    a.at(r, 40) = a.at(r, 7);
    a.at(r, 41) = 0.0;
    a.at(r, 90) = -a.at(r, 3);
  }
  expectSameBitsOnAnyThreadCount(a, m, n);
}

// ------------------------------------------------ properties of svdcmp

TEST(MatrixSvd, ReconstructsAndIsOrthogonal) {
  const int shapes[][2] = {{40, 15}, {15, 15}, {2, 3}};
  for (auto& s : shapes) {
    int m = s[0], n = s[1];
    Table a = randomTable(m, n, 40 + m);
    Decomposition d = decompose(fastSvd, a, m, n);
    EXPECT_LT(reconstructionError(a, d, m, n), 1e-12);
    for (int i = 1; i <= n; ++i) {
      EXPECT_GE(d.w[i], 0.0);
      for (int j = 1; j <= n; ++j) {
        double vv = 0.0;
        for (int k = 1; k <= n; ++k) vv += d.v.at(k, i) * d.v.at(k, j);
        EXPECT_NEAR(vv, i == j ? 1.0 : 0.0, 1e-12);
      }
    }
  }
}

TEST(MatrixSvd, WideHasZeroSingularValue) {
  Table a = randomTable(2, 3, 5);
  Decomposition d = decompose(fastSvd, a, 2, 3);
  double smallest = std::min({d.w[1], d.w[2], d.w[3]});
  EXPECT_LT(smallest, 1e-14);
  EXPECT_EQ(d.w[0], Table::kSentinel);
}

TEST(MatrixSvd, DiagonalKeepsPositions) {
  const int n = 4;
  const double diag[] = {2.0, -5.0, 0.5, 3.0};
  Table a(n, n);
  for (int i = 1; i <= n; ++i) a.at(i, i) = diag[i - 1];
  Decomposition d = decompose(fastSvd, a, n, n);
  for (int i = 1; i <= n; ++i) EXPECT_DOUBLE_EQ(d.w[i], std::fabs(diag[i - 1]));
  EXPECT_LT(reconstructionError(a, d, n, n), 1e-15);
}

TEST(MatrixSvd, EdgeSizesAndUntouchedBorders) {
  Table a = randomTable(4, 3, 8);
  Decomposition none = decompose(fastSvd, a, 4, 0);
  EXPECT_TRUE(sameTables(none.u, a));

  Decomposition empty = decompose(fastSvd, Table(0, 3), 0, 3);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(empty.w[i], 0.0);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(empty.v.at(i, j), i == j ? 1.0 : 0.0);
  }

  Decomposition d = decompose(fastSvd, a, 4, 3);
  for (int r = 0; r <= 4; ++r) EXPECT_EQ(d.u.at(r, 0), Table::kSentinel);
  for (int c = 0; c <= 3; ++c) EXPECT_EQ(d.u.at(0, c), Table::kSentinel);
  EXPECT_EQ(d.w[0], Table::kSentinel);
}

// ---------------------------------------------------------------- SVDcmp

// Reconstruction of a random matrix, and of one with a zero first column,
// which takes the cancellation branch with its absolute thresholds.
TEST(MatrixSVDcmp, ZeroBasedDecomposition) {
  const int m = 6, n = 4;
  for (bool zeroFirst : {false, true}) {
    std::mt19937_64 rng(3);
    Table a(m, n, 0), u(m, n, 0), v(n, n, 0);
    for (int r = 0; r < m; ++r)
      for (int c = 0; c < n; ++c)
        u.at(r, c) = a.at(r, c) = (zeroFirst && c == 0) ? 0.0 : gaussian(rng, r, c);
    std::vector<double> w(n);
    Matrix().SVDcmp(u.ptr(), m, n, w.data(), v.ptr());
    for (int r = 0; r < m; ++r)
      for (int c = 0; c < n; ++c) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += u.at(r, k) * w[k] * v.at(c, k);
        EXPECT_NEAR(sum, a.at(r, c), 1e-12) << "zero first column: " << zeroFirst;
      }
    for (int k = 0; k < n; ++k) EXPECT_GE(w[k], 0.0);
  }
}

TEST(MatrixSVDcmp, WideIsRefusedWithMessage) {
  Table a(2, 3, 0, 1.5), v(3, 3, 0, 2.5);
  std::vector<double> w(3, 3.5);
  Table a0 = a, v0 = v;
  testing::internal::CaptureStdout();
  Matrix().SVDcmp(a.ptr(), 2, 3, w.data(), v.ptr());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " SVDCMP: You must augment A with extra zero rows");
  EXPECT_TRUE(sameTables(a, a0));
  EXPECT_TRUE(sameTables(v, v0));
  EXPECT_TRUE(sameVectors(w, std::vector<double>(3, 3.5)));
}

TEST(MatrixSVDcmp, NotANumberBecomesZero) {
  Table a(3, 3, 0, 1.0), v(3, 3, 0);
  a.at(1, 1) = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> w(3);
  Matrix().SVDcmp(a.ptr(), 3, 3, w.data(), v.ptr());
  for (int r = 0; r < 3; ++r) {
    EXPECT_FALSE(std::isnan(w[r]));
    for (int c = 0; c < 3; ++c) {
      EXPECT_FALSE(std::isnan(a.at(r, c)));
      EXPECT_FALSE(std::isnan(v.at(r, c)));
    }
  }
}

// ------------------------------------------------------------------ Inv

Table invert(Table a, int n, int& rank) {
  Table inv(n, n, 0, 99.0);
  Table before = a;
  EXPECT_TRUE(Matrix().Inv(a.ptr(), n, inv.ptr(), rank));
  EXPECT_TRUE(sameTables(a, before)) << "Inv changed its input";
  return inv;
}

TEST(MatrixInv, IdentityDiagonalAndZero) {
  int rank = -1;
  Table id(2, 2, 0);
  id.at(0, 0) = id.at(1, 1) = 1.0;
  Table inv = invert(id, 2, rank);
  EXPECT_EQ(rank, 2);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(inv.at(r, c), r == c ? 1.0 : 0.0, 1e-15);

  Table diag(2, 2, 0);
  diag.at(0, 0) = 2.0;
  diag.at(1, 1) = 0.00005;
  inv = invert(diag, 2, rank);
  EXPECT_EQ(rank, 1);
  EXPECT_NEAR(inv.at(0, 0), 0.5, 1e-15);
  EXPECT_EQ(inv.at(1, 1), 0.0);
  EXPECT_EQ(inv.at(0, 1), 0.0);

  inv = invert(Table(3, 3, 0), 3, rank);
  EXPECT_EQ(rank, 0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(inv.at(r, c), 0.0);
}

TEST(MatrixInv, RandomTimesInverseIsIdentity) {
  const int n = 6;
  std::mt19937_64 rng(17);
  Table a(n, n, 0);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) a.at(r, c) = gaussian(rng, r, c) + (r == c ? 4.0 : 0.0);
  int rank = 0;
  Table inv = invert(a, n, rank);
  EXPECT_EQ(rank, n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      double sum = 0.0;
      for (int k = 0; k < n; ++k) sum += a.at(r, k) * inv.at(k, c);
      EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-12);
    }
}

TEST(MatrixInv, IntegerOverloadsAndEmpty) {
  std::vector<int> rows[2] = {{2, 1}, {1, 1}};
  int* a[2] = {rows[0].data(), rows[1].data()};
  Table inv(2, 2, 0);
  int rank = 0;
  EXPECT_TRUE(Matrix().Inv(a, 2, inv.ptr(), rank));
  EXPECT_EQ(rank, 2);
  const double want[2][2] = {{1, -1}, {-1, 2}};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(inv.at(r, c), want[r][c], 1e-14);
  Table again(2, 2, 0);
  EXPECT_TRUE(Matrix().Inv(a, 2, again.ptr()));
  EXPECT_TRUE(sameTables(again, inv));
  EXPECT_EQ(rows[0][0], 2);

  EXPECT_TRUE(Matrix().Inv(static_cast<double**>(nullptr), 0, nullptr, rank));
  EXPECT_EQ(rank, 0);
}

}  // namespace
