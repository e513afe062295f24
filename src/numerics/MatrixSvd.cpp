// The fast svdcmp. It copies the matrix into one column-major buffer so that
// every inner loop runs over contiguous memory, but it performs exactly the
// same floating-point operations in exactly the same order as the plain
// algorithm in Matrix.cpp, so its U, w and V are bit-identical to it. Only
// independent element-wise updates are left to the vectoriser, and only
// independent pieces (different columns, different rows) go to different
// threads; every sum keeps its sequential order, whatever the thread count.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "numerics/Matrix.h"
#include "numerics/MatrixKernels.h"
#include "numerics/MatrixSvdSteps.h"
#include "numerics/MatrixTeam.h"

namespace {

using matrixsvd::SplitRule;
using matrixsvd::Team;
using matrixsvd::maxOf;
using matrixsvd::sign;

// A phase smaller than this many multiply-adds runs on the calling thread
// alone: waking a helper costs more than it saves.
constexpr std::size_t kParallelWork = std::size_t{1} << 16;
// About this much work makes one unit handed to a thread.
constexpr std::size_t kUnitWork = std::size_t{1} << 14;
// Columns of a group reflected together in phase 3 stay in cache: at most
// this many bytes when they can.
constexpr std::size_t kGroupBytes = std::size_t{3} << 19;
// Rows of a block updated together stay in cache: about this many doubles.
constexpr std::size_t kBlockDoubles = std::size_t{1} << 17;

// Rows per block, a multiple of 32 for the rotation kernel.
std::size_t rowBlock(std::size_t width) {
  return std::max<std::size_t>(32, kBlockDoubles / std::max<std::size_t>(1, width) / 32 * 32);
}

// Calls body(first, last, member) on consecutive ranges of the items
// [0, items), spread over the team when the work is large enough. Ranges
// start at multiples of grain.
template <class Body>
void split(Team& team, std::size_t items, std::size_t grain, std::size_t workPerItem, Body body) {
  if (items == 0) return;
  workPerItem = std::max<std::size_t>(1, workPerItem);
  if (team.size() == 1 || items * workPerItem < kParallelWork) {
    body(std::size_t{0}, items, 0);
    return;
  }
  std::size_t per = std::max<std::size_t>(1, kUnitWork / (workPerItem * grain)) * grain;
  // Leave every thread a few units, so that one slowed down by other work on
  // the machine does not hold up the rest.
  std::size_t fair = items / (4 * static_cast<std::size_t>(team.size()));
  if (fair >= grain) per = std::min(per, fair / grain * grain);
  std::size_t units = (items + per - 1) / per;
  team.forEach(units, [&](std::size_t unit, int member) {
    body(unit * per, std::min(items, (unit + 1) * per), member);
  });
}

// Every column j in [first, last) of cols gets y_j += factor(dot(x, y_j over
// the dot rows)) * x over the update rows. The dot products go eight or four
// columns at a time; the independence of the columns makes that exact.
template <class ScaleRule>
void reflectColumns(double* const* cols, std::size_t first, std::size_t last, const double* x,
                    std::size_t dotOffset, std::size_t len, const ScaleRule& factor) {
  std::size_t j = first;
  std::size_t dotLen = len - dotOffset;
  double sums[8];
  const double* ys[8];
  for (; j + 8 <= last; j += 8) {
    for (std::size_t c = 0; c < 8; ++c) ys[c] = cols[j + c] + dotOffset;
    matrixsvd::dotEight(x + dotOffset, ys, dotLen, sums);
    for (std::size_t c = 0; c < 8; ++c) matrixsvd::addScaled(cols[j + c], x, factor(sums[c]), len);
  }
  for (; j + 4 <= last; j += 4) {
    for (std::size_t c = 0; c < 4; ++c) ys[c] = cols[j + c] + dotOffset;
    matrixsvd::dotFour(x + dotOffset, ys, dotLen, sums);
    for (std::size_t c = 0; c < 4; ++c) matrixsvd::addScaled(cols[j + c], x, factor(sums[c]), len);
  }
  for (; j < last; ++j) {
    double sum = matrixsvd::dotOne(x + dotOffset, cols[j] + dotOffset, dotLen);
    matrixsvd::addScaled(cols[j], x, factor(sum), len);
  }
}

// A column rotation (or, with q < 0, a negation of column p) waiting to be
// applied to U or V.
struct Rotation {
  int p;
  int q;
  double c;
  double s;
};

// A batch of rotations cut into chains, in which each rotation's first column
// is the previous one's second (a QR sweep is one chain), and negations.
class RotationPlan {
 public:
  explicit RotationPlan(const std::vector<Rotation>& list) {
    for (const Rotation& rot : list) {
      if (rot.q < 0) {
        runs_.push_back(Run{cols_.size(), cs_.size(), 0});
        cols_.push_back(rot.p);
        continue;
      }
      if (runs_.empty() || runs_.back().count == 0 || cols_.back() != rot.p) {
        runs_.push_back(Run{cols_.size(), cs_.size(), 0});
        cols_.push_back(rot.p);
      }
      cols_.push_back(rot.q);
      cs_.push_back(rot.c);
      ss_.push_back(rot.s);
      ++runs_.back().count;
    }
  }

  bool empty() const { return runs_.empty(); }

  // Applies the batch in its order to rows [r0, r0 + len) of a column-major
  // matrix with `rows` rows.
  void apply(double* data, std::size_t rows, std::size_t r0, std::size_t len) const {
    for (const Run& run : runs_) {
      if (run.count == 0) {
        matrixsvd::negate(data + static_cast<std::size_t>(cols_[run.col]) * rows + r0, len);
      } else {
        matrixsvd::rotateChain(data + r0, rows, cols_.data() + run.col, cs_.data() + run.rot,
                               ss_.data() + run.rot, run.count, len);
      }
    }
  }

 private:
  struct Run {
    std::size_t col;    // first column, in cols_
    std::size_t rot;    // first rotation, in cs_ and ss_
    std::size_t count;  // rotations; 0 for the negation of one column
  };
  std::vector<Run> runs_;
  std::vector<int> cols_;
  std::vector<double> cs_;
  std::vector<double> ss_;
};

// ---------------------------------------------------------------------------
// The decomposition of A (m x n) and V (n x n), both column-major and 0-based.

class ColumnMajorSvd {
 public:
  ColumnMajorSvd(double* a, double* v, double* w, int m, int n, Team& team)
      : a_(a), v_(v), w_(w), m_(m), n_(n), team_(team), e_(n, 0.0), cols_(n), rowCopy_(n),
        rowCoef_(n), rowSums_(team.size()) {}

  void run() {
    double anorm = householder();
    accumulateRight();
    accumulateLeft();
    matrixsvd::diagonalise(w_, e_.data(), n_, SplitRule{false, anorm}, *this);
    flushRotations();
  }

  // Phase 4 never reads U or V, so its rotations are collected and applied in
  // cache-sized row blocks; the list is bounded to keep it in cache as well.
  void rotateU(int p, int q, double c, double s) { record(uRotations_, Rotation{p, q, c, s}); }
  void rotateV(int p, int q, double c, double s) { record(vRotations_, Rotation{p, q, c, s}); }
  void negateV(int k) { record(vRotations_, Rotation{k, -1, 0.0, 0.0}); }

 private:
  static constexpr std::size_t kRotationBatch = 1 << 14;

  double* col(int c) { return a_ + static_cast<std::size_t>(c) * m_; }
  double& A(int r, int c) { return col(c)[r]; }
  double* vcol(int c) { return v_ + static_cast<std::size_t>(c) * n_; }

  void record(std::vector<Rotation>& list, Rotation rot) {
    list.push_back(rot);
    if (list.size() >= kRotationBatch) flushRotations();
  }

  // Rows are independent under the rotations, so the row blocks of U and of
  // V are shared out, each going through the whole list in order.
  void flushRotations() {
    std::size_t m = static_cast<std::size_t>(m_);
    std::size_t n = static_cast<std::size_t>(n_);
    std::size_t block = rowBlock(n);
    const RotationPlan uPlan(uRotations_);
    const RotationPlan vPlan(vRotations_);
    std::size_t uBlocks = uPlan.empty() ? 0 : (m + block - 1) / block;
    std::size_t vBlocks = vPlan.empty() ? 0 : (n + block - 1) / block;
    std::size_t perBlock = block * (uRotations_.size() + vRotations_.size());
    split(team_, uBlocks + vBlocks, 1, perBlock, [&](std::size_t first, std::size_t last, int) {
      for (std::size_t b = first; b < last; ++b) {
        if (b < uBlocks) {
          std::size_t r0 = b * block;
          uPlan.apply(a_, m, r0, std::min(block, m - r0));
        } else {
          std::size_t r0 = (b - uBlocks) * block;
          vPlan.apply(v_, n, r0, std::min(block, n - r0));
        }
      }
    });
    uRotations_.clear();
    vRotations_.clear();
  }

  double householder() {
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 0; i < n_; ++i) {
      e_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_) reflectColumn(i, g, scale);
      w_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_ && i != n_ - 1) reflectRow(i, g, scale);
      anorm = maxOf(anorm, std::fabs(w_[i]) + std::fabs(e_[i]));
    }
    return anorm;
  }

  void reflectColumn(int i, double& g, double& scale) {
    double* x = col(i) + i;
    std::size_t len = static_cast<std::size_t>(m_ - i);
    for (std::size_t r = 0; r < len; ++r) scale += std::fabs(x[r]);
    if (scale == 0.0) return;
    double s = 0.0;
    for (std::size_t r = 0; r < len; ++r) {
      x[r] /= scale;
      s += x[r] * x[r];
    }
    double f = x[0];
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    x[0] = f - g;
    // Columns are independent and go to different threads.
    auto factor = [h](double sum) { return sum / h; };
    split(team_, static_cast<std::size_t>(n_ - i - 1), 8, 2 * len,
          [&](std::size_t first, std::size_t last, int) {
            int j0 = i + 1 + static_cast<int>(first);
            int j1 = i + 1 + static_cast<int>(last);
            double* cols[8];
            for (int j = j0; j < j1; j += 8) {
              int count = std::min(8, j1 - j);
              for (int c = 0; c < count; ++c) cols[c] = col(j + c) + i;
              reflectColumns(cols, 0, static_cast<std::size_t>(count), x, 0, len, factor);
            }
          });
    for (std::size_t r = 0; r < len; ++r) x[r] *= scale;
  }

  void reflectRow(int i, double& g, double& scale) {
    int l = i + 1;
    for (int k = l; k < n_; ++k) scale += std::fabs(A(i, k));
    if (scale == 0.0) return;
    double s = 0.0;
    for (int k = l; k < n_; ++k) {
      A(i, k) /= scale;
      s += A(i, k) * A(i, k);
    }
    double f = A(i, l);
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    A(i, l) = f - g;
    for (int k = l; k < n_; ++k) rowCoef_[k] = A(i, k) / h;
    for (int k = l; k < n_; ++k) rowCopy_[k] = A(i, k);
    updateRowsBelow(i);
    for (int k = l; k < n_; ++k) A(i, k) *= scale;
  }

  // Rows j > i: t_j = sum over k > i of A(j,k) * A(i,k), then A(j,k) += t_j c_k.
  // The sums of a block of rows are built side by side, column after column,
  // each in k order; then the block is updated column after column. Blocks
  // are independent and go to different threads.
  void updateRowsBelow(int i) {
    int l = i + 1;
    std::size_t width = static_cast<std::size_t>(n_ - l);
    std::size_t block = rowBlock(width);
    std::size_t rows = static_cast<std::size_t>(m_ - l);
    std::size_t blocks = (rows + block - 1) / block;
    const double* ai = rowCopy_.data();
    split(team_, blocks, 1, 2 * block * width, [&](std::size_t first, std::size_t last, int member) {
      std::vector<double>& sums = rowSums_[member];
      sums.resize(block);
      double* t = sums.data();
      for (std::size_t b = first; b < last; ++b) {
        std::size_t r0 = l + b * block;
        std::size_t len = std::min(block, static_cast<std::size_t>(m_) - r0);
        std::fill(t, t + len, 0.0);
        for (int k = l; k < n_; ++k) matrixsvd::accumulateScaled(t, col(k) + r0, ai[k], len);
        for (int k = l; k < n_; ++k) matrixsvd::addScaledBy(col(k) + r0, t, rowCoef_[k], len);
      }
    });
  }

  void accumulateRight() {
    double g = 0.0;
    int l = n_;
    for (int i = n_ - 1; i >= 0; --i) {
      double* vi = vcol(i);
      if (i < n_ - 1) {
        if (g != 0.0) {
          // Two divisions rather than one product, against underflow.
          for (int j = l; j < n_; ++j) vi[j] = (A(i, j) / A(i, l)) / g;
          for (int k = l; k < n_; ++k) rowCopy_[k] = A(i, k);
          updateRightColumns(l, vi);
        }
        for (int j = l; j < n_; ++j) vcol(j)[i] = vi[j] = 0.0;
      }
      vi[i] = 1.0;
      g = e_[i];
      l = i;
    }
  }

  // Columns j >= l of V: t = sum over k >= l of A(i,k) * V(k,j), V(k,j) += t V(k,i).
  void updateRightColumns(int l, const double* vi) {
    std::size_t len = static_cast<std::size_t>(n_ - l);
    for (int j = l; j < n_; ++j) cols_[j - l] = vcol(j) + l;
    double* const* cols = cols_.data();
    const double* x = rowCopy_.data() + l;
    const double* update = vi + l;
    split(team_, len, 8, 2 * len, [&](std::size_t first, std::size_t last, int) {
      std::size_t j = first;
      double sums[8];
      for (; j + 8 <= last; j += 8) {
        matrixsvd::dotEight(x, cols + j, len, sums);
        for (std::size_t c = 0; c < 8; ++c) matrixsvd::addScaled(cols[j + c], update, sums[c], len);
      }
      for (; j < last; ++j) matrixsvd::addScaled(cols[j], update, matrixsvd::dotOne(x, cols[j], len), len);
    });
  }

  // Phase 3. Step i (from the last down) zeroes row i right of the diagonal,
  // reflects every column j > i by column i, and then scales column i. Seen
  // from one column j that is: its own step, then the reflections by columns
  // j-1 down to 0, each as that column stood before its own step. So the
  // columns are taken a block at a time from the right: first the steps
  // inside the block in the usual order, then all the reflections by the
  // columns left of the block, which are still untouched; the block stays in
  // cache while they stream past, and every column still goes through exactly
  // its usual sequence. The columns of a block are independent of each other.
  void accumulateLeft() {
    int steps = std::min(m_, n_);
    // Each thread's share of a block should stay in its cache: four columns
    // are enough for the dot products to run at full speed.
    int group = static_cast<std::size_t>(m_) * 8 * sizeof(double) <= kGroupBytes ? 8 : 4;
    int width = group * team_.size();
    for (int last = n_; last > 0;) {
      int first = std::max(0, last - width);
      for (int i = std::min(last, steps) - 1; i >= first; --i) {
        std::size_t len = static_cast<std::size_t>(m_ - i);
        split(team_, static_cast<std::size_t>(last - i - 1), 8, 2 * len,
              [&](std::size_t a, std::size_t b, int) {
                reflectLeft(i, i + 1 + static_cast<int>(a), i + 1 + static_cast<int>(b));
              });
        finishLeft(i);
      }
      int below = std::min(first, steps);
      std::size_t work = 2 * static_cast<std::size_t>(below) * static_cast<std::size_t>(m_);
      split(team_, static_cast<std::size_t>(last - first), group, work,
            [&](std::size_t a, std::size_t b, int) {
              for (int i = below - 1; i >= 0; --i)
                reflectLeft(i, first + static_cast<int>(a), first + static_cast<int>(b));
            });
      last = first;
    }
  }

  // Columns [first, last) take their part of step i of phase 3.
  void reflectLeft(int i, int first, int last) {
    for (int j = first; j < last; ++j) A(i, j) = 0.0;
    if (w_[i] == 0.0) return;
    double g = 1.0 / w_[i];
    double* x = col(i) + i;
    double pivot = x[0];
    auto factor = [pivot, g](double sum) { return (sum / pivot) * g; };
    std::size_t len = static_cast<std::size_t>(m_ - i);
    double* cols[8];
    for (int j = first; j < last; j += 8) {
      int count = std::min(8, last - j);
      for (int c = 0; c < count; ++c) cols[c] = col(j + c) + i;
      reflectColumns(cols, 0, static_cast<std::size_t>(count), x, 1, len, factor);
    }
  }

  // The rest of step i: column i itself.
  void finishLeft(int i) {
    double g = w_[i];
    double* x = col(i) + i;
    std::size_t len = static_cast<std::size_t>(m_ - i);
    if (g != 0.0) {
      g = 1.0 / g;
      for (std::size_t r = 0; r < len; ++r) x[r] *= g;
    } else {
      std::fill(x, x + len, 0.0);
    }
    ++x[0];
  }

  double* a_;
  double* v_;
  double* w_;
  int m_, n_;
  Team& team_;
  std::vector<double> e_;
  std::vector<double*> cols_;
  std::vector<double> rowCopy_;
  std::vector<double> rowCoef_;                // c of the row step, by column
  std::vector<std::vector<double>> rowSums_;  // its t, one block per thread
  std::vector<Rotation> uRotations_;
  std::vector<Rotation> vRotations_;
};

// Copies between the caller's 1-based rows and a 0-based column-major buffer,
// a few rows at a time so that both sides are walked in long runs; chunks of
// rows go to different threads.
constexpr std::size_t kCopyRows = 16;

void toColumnMajor(Team& team, double** a, std::size_t m, std::size_t n, double* out) {
  split(team, m, kCopyRows, n, [&](std::size_t first, std::size_t last, int) {
    for (std::size_t r0 = first; r0 < last; r0 += kCopyRows) {
      std::size_t r1 = std::min(last, r0 + kCopyRows);
      for (std::size_t c = 0; c < n; ++c) {
        double* dst = out + c * m;
        for (std::size_t r = r0; r < r1; ++r) dst[r] = a[r + 1][c + 1];
      }
    }
  });
}

void fromColumnMajor(Team& team, const double* in, std::size_t m, std::size_t n, double** a) {
  split(team, m, kCopyRows, n, [&](std::size_t first, std::size_t last, int) {
    for (std::size_t r0 = first; r0 < last; r0 += kCopyRows) {
      std::size_t r1 = std::min(last, r0 + kCopyRows);
      for (std::size_t c = 0; c < n; ++c) {
        const double* src = in + c * m;
        for (std::size_t r = r0; r < r1; ++r) a[r + 1][c + 1] = src[r];
      }
    }
  });
}

}  // namespace

void Matrix::svdcmp(double** a, int m, int n, double* w, double** v, int threads) {
  if (n <= 0) return;
  if (m < 0) m = 0;
  std::size_t rows = static_cast<std::size_t>(m);
  std::size_t cols = static_cast<std::size_t>(n);
  std::unique_ptr<double[]> colA(new (std::nothrow) double[rows * cols]);
  std::unique_ptr<double[]> colV(new (std::nothrow) double[cols * cols]);
  if (!colA || !colV) {
    svdcmpInPlace(a, m, n, w, v);
    return;
  }
  // Helpers only for a matrix with enough work to share out.
  Team team(rows * cols * cols < 64 * kParallelWork ? 1 : threads);
  toColumnMajor(team, a, rows, cols, colA.get());
  ColumnMajorSvd(colA.get(), colV.get(), w + 1, m, n, team).run();
  fromColumnMajor(team, colA.get(), rows, cols, a);
  fromColumnMajor(team, colV.get(), cols, cols, v);
}
