#include "numerics/ApproxComponents.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "core/SharedWork.h"
#include "numerics/OpenBlas.h"
#include "numerics/ValueDecoding.h"

namespace ombra {

namespace {

// Column-major n x cols matrices throughout (column j at data + j * n).
struct Basis {
  int rows = 0;
  int cols = 0;
  std::vector<double> data;
  double* column(int j) { return data.data() + static_cast<size_t>(j) * static_cast<size_t>(rows); }
  const double* column(int j) const { return data.data() + static_cast<size_t>(j) * static_cast<size_t>(rows); }
};

// Standard normal draws from a fixed generator (Box-Muller on the raw
// 64-bit output), the same on every platform.
Basis randomStart(int rows, int cols, unsigned long long seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&random] { return (static_cast<double>(random() >> 11) + 0.5) * 0x1.0p-53; };
  Basis start{rows, cols, std::vector<double>(static_cast<size_t>(rows) * static_cast<size_t>(cols))};
  for (double& value : start.data) {
    value = std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
  }
  return start;
}

double dot(const double* a, const double* b, size_t n) {
  double sum = 0;
  for (size_t r = 0; r < n; ++r) sum += a[r] * b[r];
  return sum;
}

// Orthonormalises the columns of `block` against the orthonormal columns of
// `basis` (classical Gram-Schmidt in two rounds of matrix products) and
// within itself (modified Gram-Schmidt, twice); a column that vanishes into
// rounding is dropped. Appends the survivors to `basis` and returns how
// many they are.
int appendOrthonormal(Basis& basis, Basis block) {
  const size_t n = static_cast<size_t>(basis.rows);
  const int m = basis.cols;
  std::vector<double> norms(static_cast<size_t>(block.cols));
  for (int j = 0; j < block.cols; ++j) {
    norms[static_cast<size_t>(j)] = std::sqrt(dot(block.column(j), block.column(j), n));
  }
  if (m > 0) {
    std::vector<double> overlap(static_cast<size_t>(m) * static_cast<size_t>(block.cols));
    for (int round = 0; round < 2; ++round) {
      openBlas().dgemm(CblasColMajor, CblasTrans, CblasNoTrans, m, block.cols, basis.rows, 1.0, basis.data.data(),
                       basis.rows, block.data.data(), basis.rows, 0.0, overlap.data(), m);
      openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, basis.rows, block.cols, m, -1.0, basis.data.data(),
                       basis.rows, overlap.data(), m, 1.0, block.data.data(), basis.rows);
    }
  }
  int kept = 0;
  for (int j = 0; j < block.cols; ++j) {
    double* v = block.column(j);
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kept; ++i) {
        const double* q = block.column(i);
        const double along = dot(q, v, n);
        for (size_t r = 0; r < n; ++r) v[r] -= along * q[r];
      }
    }
    const double norm = std::sqrt(dot(v, v, n));
    if (!(norm > 1e-10 * norms[static_cast<size_t>(j)]) || !(norm > 1e-300)) continue;
    double* target = block.column(kept++);
    for (size_t r = 0; r < n; ++r) target[r] = v[r] / norm;
  }
  basis.data.insert(basis.data.end(), block.data.begin(), block.data.begin() + static_cast<std::ptrdiff_t>(n * kept));
  basis.cols += kept;
  return kept;
}

// Rows of A per decoded block: about 16 MB (at least 32 rows, at most
// 2,048 of doubles or 4,096 of singles). Each block is read by two thin
// products, and OpenBLAS packs the block vector it multiplies (C x width)
// and re-reads the C x width sum once per block: at C = 15,000 blocks of
// 34 rows (4 MB) spent a third of each pass on that traffic, and blocks of
// 138 rows cut a pass's processor time by about a tenth. Wider still
// (64 MB) went out of the cache and lost it again.
constexpr long kBlockBytes = long{1} << 24;
// Blocks of singles are smaller: on an AMD EPYC (C = 20,000, S = 20,000,
// two threads) their passes ran fastest at about 80 rows (6 MB) and were a
// sixth slower at 16 MB; 52 rows (4 MB) lost half of that again.
constexpr long kSingleBlockBytes = long{6} << 20;
int approxBlockRows(int cols, int valueBytes = sizeof(double), long blockBytes = kBlockBytes) {
  const long most = 2048L * sizeof(double) / valueBytes;
  return static_cast<int>(std::clamp(blockBytes / valueBytes / std::max(cols, 1), 32L, most));
}

// Products with the centred matrix A (S x C). Its rows are first copied
// out of the individuals' packed rows into packed rows of their own (one
// gather, where every pass would otherwise gather again), each with the
// four values its codes stand for, and every product decodes blocks of
// them into doubles. The blocks are dealt to a fixed number of lanes, each
// summing its own blocks in order, and the lanes are added in order: the
// result is the same whichever threads run the lanes.
class CentredProducts {
 public:
  static constexpr int kLanes = 2;

  CentredProducts(const PackedGenotypes& genotypes, std::vector<double>& means, int threads)
      : snps_(genotypes.rows()),
        cols_(genotypes.cols()),
        rowBytes_((static_cast<size_t>(cols_) + 3) / 4),
        threads_(threads),
        blockRows_(approxBlockRows(cols_)),
        singleRows_(approxBlockRows(cols_, sizeof(float), kSingleBlockBytes)),
        packed_(static_cast<size_t>(snps_) * rowBytes_, 0),
        values_(static_cast<size_t>(snps_) * 4) {
    shareWork(kLanes, threads_, [&](size_t lane, size_t) {
      DecodedRows decoded;
      for (int first = lane * blockRows_; first < snps_; first += kLanes * blockRows_) {
        const int count = std::min(blockRows_, snps_ - first);
        decodeRows(genotypes, first, count, decoded);
        for (int r = 0; r < count; ++r) keepRow(decoded, r);
      }
    });
    for (int s = 0; s < snps_; ++s) means[static_cast<size_t>(s)] = -values_[static_cast<size_t>(s) * 4];
  }

  // out (C x width) = A'A x, the products in double precision.
  void gramTimes(const Basis& x, Basis& out) {
    for (Lane& lane : lanes_) std::vector<float>().swap(lane.blockSingle);  // no longer needed
    sumLanes(x, out, &Lane::block, blockRows_, [&](Lane& own, int count) {
      // product (count x width) = block x; sum += block' product.
      own.product.resize(static_cast<size_t>(count) * static_cast<size_t>(x.cols));
      openBlas().dgemm(CblasColMajor, CblasTrans, CblasNoTrans, count, x.cols, cols_, 1.0, own.block.data(), cols_,
                       x.data.data(), cols_, 0.0, own.product.data(), count);
      openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, cols_, x.cols, count, 1.0, own.block.data(), cols_,
                       own.product.data(), count, 1.0, own.sum.data(), cols_);
    });
  }

  // out (C x width) = A'A x with single-precision products, each block's
  // added to the lane's sum in double: twice the products' speed, half
  // their memory traffic, and about 1e-7 of relative error in each image.
  void gramTimesSingle(const Basis& x, Basis& out) {
    single_.assign(x.data.begin(), x.data.end());
    sumLanes(x, out, &Lane::blockSingle, singleRows_, [&](Lane& own, int count) {
      own.productSingle.resize(static_cast<size_t>(count) * static_cast<size_t>(x.cols));
      own.sumSingle.resize(x.data.size());
      openBlas().sgemm(CblasColMajor, CblasTrans, CblasNoTrans, count, x.cols, cols_, 1.0f, own.blockSingle.data(),
                       cols_, single_.data(), cols_, 0.0f, own.productSingle.data(), count);
      openBlas().sgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, cols_, x.cols, count, 1.0f, own.blockSingle.data(),
                       cols_, own.productSingle.data(), count, 0.0f, own.sumSingle.data(), cols_);
      for (size_t i = 0; i < own.sum.size(); ++i) own.sum[i] += own.sumSingle[i];
    });
  }

  // out (row-major S x width) = A x.
  void times(const Basis& x, std::vector<double>& out) {
    out.assign(static_cast<size_t>(snps_) * static_cast<size_t>(x.cols), 0.0);
    shareWork(kLanes, threads_, [&](size_t lane, size_t) {
      forEachBlock(lanes_[lane].block, static_cast<int>(lane), blockRows_, [&](int first, int count) {
        openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, count, x.cols, cols_, 1.0, lanes_[lane].block.data(),
                         cols_, x.data.data(), cols_, 0.0,
                         out.data() + static_cast<size_t>(first) * static_cast<size_t>(x.cols), x.cols);
      });
    });
  }

 private:
  struct Lane {
    std::vector<double> block;    // row-major count x C
    std::vector<double> product;  // column-major count x width
    std::vector<double> sum;      // column-major C x width
    std::vector<float> blockSingle, productSingle, sumSingle;  // the same in single precision
  };

  // Each lane sums use(lane, count) over its blocks, decoded in the
  // precision `use` multiplies in; out is the lanes' sums added in order.
  template <class T, class Use>
  void sumLanes(const Basis& x, Basis& out, std::vector<T> Lane::*block, int rows, Use&& use) {
    const size_t size = x.data.size();
    shareWork(kLanes, threads_, [&](size_t lane, size_t) {
      Lane& own = lanes_[lane];
      own.sum.assign(size, 0.0);
      forEachBlock(own.*block, static_cast<int>(lane), rows, [&](int, int count) { use(own, count); });
    });
    out = Basis{x.rows, x.cols, lanes_[0].sum};
    for (int lane = 1; lane < kLanes; ++lane) {
      for (size_t i = 0; i < size; ++i) out.data[i] += lanes_[lane].sum[i];
    }
  }

  // Row r of a decoded block into the packed copy: codes 0-2 called, 3
  // missing, and their centred values (those of centredRow, exactly).
  void keepRow(const DecodedRows& decoded, int r) {
    const size_t s = static_cast<size_t>(decoded.first + r);
    unsigned char* row = packed_.data() + s * rowBytes_;
    const int8_t* y = decoded.values.data() + static_cast<size_t>(r) * static_cast<size_t>(cols_);
    for (int j = 0; j < cols_; ++j) {
      row[j / 4] = static_cast<unsigned char>(row[j / 4] | ((y[j] + 1) << (2 * (3 - j % 4))));
    }
    // A missing call's y is 0: its code 1 becomes 3.
    for (int k = decoded.rowStart[static_cast<size_t>(r)]; k < decoded.rowStart[static_cast<size_t>(r) + 1]; ++k) {
      const int j = decoded.byRow[static_cast<size_t>(k)];
      row[j / 4] = static_cast<unsigned char>(row[j / 4] | (2 << (2 * (3 - j % 4))));
    }
    const RowCentring& centring = decoded.centring[static_cast<size_t>(r)];
    double* values = values_.data() + s * 4;
    for (int code = 0; code < 3; ++code) values[code] = code - centring.mean;
    values[3] = centring.missing;
  }

  // Decodes the lane's blocks of `rows` rows in order, each into `block`,
  // and calls use(first, count) on it.
  template <class T, class Use>
  void forEachBlock(std::vector<T>& block, int lane, int rows, Use&& use) {
    block.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols_));
    for (int first = lane * rows; first < snps_; first += kLanes * rows) {
      const int count = std::min(rows, snps_ - first);
      for (int r = 0; r < count; ++r) {
        decodeRow(first + r, block.data() + static_cast<size_t>(r) * static_cast<size_t>(cols_));
      }
      use(first, count);
    }
  }

  template <class T>
  void decodeRow(int s, T* out) const {
    // In vector registers: a tenth of a pass's time went to decoding.
    decodeValues(packed_.data() + static_cast<size_t>(s) * rowBytes_, static_cast<size_t>(cols_),
                 values_.data() + static_cast<size_t>(s) * 4, out);
  }

  int snps_;
  int cols_;
  size_t rowBytes_;
  int threads_;
  int blockRows_;
  int singleRows_;  // of a block in single precision
  std::vector<float> single_;          // x in single precision
  std::vector<unsigned char> packed_;  // S rows of rowBytes_, four codes a byte, the first in the top bits
  std::vector<double> values_;         // per row, the centred value of codes 0, 1, 2, 3
  Lane lanes_[kLanes];
};

// Eigenvalues (ascending) and, in `matrix`, eigenvectors of a small
// symmetric column-major l x l matrix. Divide and conquer: at the basis's
// 400 columns the QR iteration's rotations took 6% of the route.
bool smallEigen(std::vector<double>& matrix, int l, std::vector<double>& values) {
  values.assign(static_cast<size_t>(l), 0.0);
  int info = 0;
  int lwork = -1, liwork = -1;
  double size = 0;
  int isize = 0;
  openBlas().dsyevd("V", "U", &l, matrix.data(), &l, values.data(), &size, &lwork, &isize, &liwork, &info);
  if (info != 0) return false;
  lwork = std::max(1, static_cast<int>(size));
  liwork = std::max(1, isize);
  std::vector<double> work(static_cast<size_t>(lwork));
  std::vector<int> iwork(static_cast<size_t>(liwork));
  openBlas().dsyevd("V", "U", &l, matrix.data(), &l, values.data(), work.data(), &lwork, iwork.data(), &liwork, &info);
  return info == 0;
}

// Makes the trailing square of a column-major m x m matrix, from row and
// column `from` on, exactly symmetric: each pair of mirrored entries takes
// their mean, so that rounding in the products cannot leave it otherwise.
void averageTriangles(std::vector<double>& a, int m, int from) {
  for (int i = from; i < m; ++i) {
    for (int j = from; j < i; ++j) {
      const size_t upper = static_cast<size_t>(i) * m + j, lower = static_cast<size_t>(j) * m + i;
      a[upper] = a[lower] = 0.5 * (a[upper] + a[lower]);
    }
  }
}

// The Rayleigh matrix H = basis' G basis (column-major m x m), kept as the
// basis grows: a new block of columns needs only its own row and column of
// H (m x added work where the whole matrix would take m x m per pass).
struct Rayleigh {
  int size = 0;
  std::vector<double> matrix;

  // Adds the entries of the basis' newest `added` columns, whose images
  // are the newest columns of `images`.
  void extend(const Basis& basis, const Basis& images, int added) {
    const int m = basis.cols, old = m - added;
    std::vector<double> grown(static_cast<size_t>(m) * static_cast<size_t>(m));
    for (int j = 0; j < old; ++j) {
      std::copy_n(matrix.data() + static_cast<size_t>(j) * old, old, grown.data() + static_cast<size_t>(j) * m);
    }
    std::vector<double> fresh(static_cast<size_t>(m) * static_cast<size_t>(added));
    openBlas().dgemm(CblasColMajor, CblasTrans, CblasNoTrans, m, added, basis.rows, 1.0, basis.data.data(), basis.rows,
                     images.column(old), basis.rows, 0.0, fresh.data(), m);
    for (int j = 0; j < added; ++j) {
      for (int i = 0; i < m; ++i) {
        const double value = fresh[static_cast<size_t>(j) * m + i];
        grown[static_cast<size_t>(old + j) * m + i] = value;
        if (i < old) grown[static_cast<size_t>(i) * m + old + j] = value;
      }
    }
    averageTriangles(grown, m, old);  // the new block against itself
    matrix.swap(grown);
    size = m;
  }

  // H after the basis became basis x V (V the last `keep` columns of the
  // m x m `vectors`): V' H V.
  void restart(const std::vector<double>& vectors, int keep) {
    const int m = size;
    const double* v = vectors.data() + static_cast<size_t>(m - keep) * static_cast<size_t>(m);
    std::vector<double> hv(static_cast<size_t>(m) * static_cast<size_t>(keep));
    openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, keep, m, 1.0, matrix.data(), m, v, m, 0.0,
                     hv.data(), m);
    std::vector<double> shrunk(static_cast<size_t>(keep) * static_cast<size_t>(keep));
    openBlas().dgemm(CblasColMajor, CblasTrans, CblasNoTrans, keep, keep, m, 1.0, v, m, hv.data(), m, 0.0,
                     shrunk.data(), keep);
    averageTriangles(shrunk, keep, 0);
    matrix.swap(shrunk);
    size = keep;
  }

  // The Ritz pairs: values ascending, vectors (column-major m x m) the
  // eigenvectors of H.
  bool ritzPairs(std::vector<double>& values, std::vector<double>& vectors) const {
    vectors = matrix;
    return smallEigen(vectors, size, values);
  }
};

// basis times the last `count` columns of the m x m `vectors` (column-major).
Basis combine(const Basis& basis, const std::vector<double>& vectors, int count) {
  const int m = basis.cols;
  Basis out{basis.rows, count, std::vector<double>(static_cast<size_t>(basis.rows) * static_cast<size_t>(count))};
  if (count > 0) {
    openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, basis.rows, count, m, 1.0, basis.data.data(),
                     basis.rows, vectors.data() + static_cast<size_t>(m - count) * static_cast<size_t>(m), m, 0.0,
                     out.data.data(), basis.rows);
  }
  return out;
}

// basis becomes basis times the last `keep` columns of `vectors`, in
// place, a band of rows at a time: a band's new values depend only on its
// own old ones, so the restart needs no second copy of the basis.
void combineInPlace(Basis& basis, const std::vector<double>& vectors, int keep) {
  const int m = basis.cols;
  constexpr int kBand = 2048;
  std::vector<double> band(static_cast<size_t>(kBand) * static_cast<size_t>(keep));
  const double* v = vectors.data() + static_cast<size_t>(m - keep) * static_cast<size_t>(m);
  for (int first = 0; first < basis.rows; first += kBand) {
    const int rows = std::min(kBand, basis.rows - first);
    openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, rows, keep, m, 1.0, basis.data.data() + first,
                     basis.rows, v, m, 0.0, band.data(), rows);
    for (int j = 0; j < keep; ++j) {
      std::copy_n(band.data() + static_cast<size_t>(j) * rows, rows, basis.column(j) + first);
    }
  }
  basis.cols = keep;
  basis.data.resize(static_cast<size_t>(basis.rows) * static_cast<size_t>(keep));
}

// The residuals G x - theta x of the `count` leading Ritz pairs, in the
// order of `vectors` (largest last).
Basis residuals(const Basis& basis, const Basis& images, const std::vector<double>& values,
                const std::vector<double>& vectors, int count) {
  Basis out = combine(images, vectors, count);
  const Basis ritz = combine(basis, vectors, count);
  const int m = basis.cols;
  for (int j = 0; j < count; ++j) {
    const double theta = values[static_cast<size_t>(m - count + j)];
    double* r = out.column(j);
    const double* x = ritz.column(j);
    for (int i = 0; i < basis.rows; ++i) r[i] -= theta * x[i];
  }
  return out;
}

// A bound on the error of each of the `wanted` leading Ritz values relative
// to itself, the largest of them: the residual norm, or its square over the
// gap to the nearest other Ritz value where that is smaller. A value within
// rounding of zero (which becomes a zero singular value) counts as settled
// once its residual is within rounding too, `epsilon` being that of the
// products.
double errorBound(const Basis& residual, const std::vector<double>& values, int wanted, double epsilon) {
  const int m = static_cast<int>(values.size());
  const int count = residual.cols;
  const double rounding = values.back() * residual.rows * epsilon;
  double worst = 0;
  for (int k = 0; k < wanted; ++k) {
    const int at = m - 1 - k;
    const double theta = values[static_cast<size_t>(at)];
    double gap = std::numeric_limits<double>::infinity();
    if (at + 1 < m) gap = std::min(gap, values[static_cast<size_t>(at + 1)] - theta);
    if (at > 0) gap = std::min(gap, theta - values[static_cast<size_t>(at - 1)]);
    const double* r = residual.column(count - 1 - k);
    const double norm = std::sqrt(dot(r, r, static_cast<size_t>(residual.rows)));
    const double bound = std::min(norm, gap > 0 ? norm * norm / gap : norm);
    if (theta > rounding) {
      worst = std::max(worst, bound / theta);
    } else if (norm > rounding) {
      worst = std::max(worst, 1.0);
    }
  }
  return worst;
}

// Counts the passes since the error bound last fell below half of what it
// was when it last did so.
struct HalvingWatch {
  double mark = std::numeric_limits<double>::infinity();
  int since = 0;
  void see(double bound) {
    if (bound < 0.5 * mark) {
      mark = bound;
      since = 0;
    } else {
      ++since;
    }
  }
};

// Columns of the C-side basis at most: the basis grows by one block per
// pass and, when full, keeps the leading half of its Ritz vectors (a
// thick restart).
int basisLimit(int cols, int l, int blocks) { return std::max(l, std::min(cols, std::max(blocks, 2) * l)); }

}  // namespace

double approxComponentsBytes(int snps, int cols, int wanted, const ApproxSettings& settings) {
  const int l = std::min(wanted + settings.oversampling, std::max(cols, 1));
  const double m = basisLimit(cols, l, settings.basisBlocks);
  const double block = double(std::max(gramBlockRows(cols), approxBlockRows(cols))) * cols;
  // The packed copy of A; basis and images (restarted in place) and a few
  // blocks beside them; the Rayleigh matrix and its eigenvectors; per lane
  // a block of doubles or singles of the same bytes (and, once, its decoded
  // bytes) and a sum in each precision; the products with A and the
  // loadings.
  return double(snps) * (std::ceil(cols / 4.0) + 32.0) + 8.0 * (2.0 * cols * m + 4.0 * cols * l + 4.0 * m * m) +
         CentredProducts::kLanes * (9.0 * block + 12.0 * double(cols) * l) + 4.0 * double(cols) * l +
         8.0 * double(snps) * (l + wanted);
}

bool approxComponents(const PackedGenotypes& genotypes, int wanted, LeadingComponents& out, ApproxReport& report,
                      const ApproxSettings& settings, const PassesDone& done) {
  const int snps = genotypes.rows();
  const int cols = genotypes.cols();
  out.wanted = std::clamp(std::min(wanted, snps), 0, std::max(cols, 0));
  out.singularValues.assign(static_cast<size_t>(out.wanted), 0.0);
  out.loadings.assign(static_cast<size_t>(std::max(snps, 0)) * static_cast<size_t>(out.wanted), 0.0);
  out.means.assign(static_cast<size_t>(std::max(snps, 0)), 0.0);
  report = ApproxReport();
  if (out.wanted == 0) return true;
  if (!openBlas().loaded()) return false;
  setBlasThreads(1);  // the lanes are the threads
  const int l = std::min({out.wanted + settings.oversampling, cols, snps});
  const int limit = basisLimit(cols, l, settings.basisBlocks);
  CentredProducts products(genotypes, out.means, settings.threads);

  // Thick-restart block Krylov on G = A'A: every pass adds the images of
  // one block (the residuals of the l leading Ritz pairs, which span the
  // next Krylov block), and the basis, when full, shrinks to the leading
  // half of its Ritz vectors with their images, which need no pass.
  Basis basis{cols, 0, {}};
  Basis images{cols, 0, {}};
  basis.data.reserve(static_cast<size_t>(cols) * static_cast<size_t>(limit));
  images.data.reserve(static_cast<size_t>(cols) * static_cast<size_t>(limit));
  Rayleigh rayleigh;
  Basis next = randomStart(cols, l, settings.seed);
  std::vector<double> values, vectors;
  // The passes run in single precision until the bound is met (or half the
  // passes are spent); the leading Ritz vectors then start the basis again
  // with images in double precision, which confirm the bound or carry on
  // to it, so the result's accuracy is that of double precision.
  // Single precision's rounding may also hold the bound above the
  // tolerance: a bound that has not halved in kStalledPasses passes hands
  // over to double precision too.
  bool single = settings.singlePrecision;
  constexpr int kStalledPasses = 8;
  HalvingWatch watch;
  for (;;) {
    const int added = appendOrthonormal(basis, next);
    bool settled = added == 0;  // nothing new: the basis spans an invariant subspace
    if (!settled) {
      const auto newest = basis.data.end() - static_cast<std::ptrdiff_t>(added) * cols;
      const Basis block{cols, added, std::vector<double>(newest, basis.data.end())};
      Basis image;
      if (single) {
        products.gramTimesSingle(block, image);
      } else {
        products.gramTimes(block, image);
      }
      ++report.passes;
      if (done) done(report.passes);
      images.data.insert(images.data.end(), image.data.begin(), image.data.end());
      images.cols += added;
      rayleigh.extend(basis, images, added);
      if (!rayleigh.ritzPairs(values, vectors)) return false;
      const int count = std::min(l, basis.cols);
      next = residuals(basis, images, values, vectors, count);
      report.errorBound = errorBound(next, values, std::min(out.wanted, count),
                                     single ? std::numeric_limits<float>::epsilon()
                                            : std::numeric_limits<double>::epsilon());
      settled = count >= out.wanted && report.errorBound <= settings.tolerance;
      watch.see(report.errorBound);
      if (!settled && !single && report.passes >= settings.maxPasses) break;
    }
    if (single && (settled || watch.since >= kStalledPasses || report.passes >= settings.maxPasses / 2)) {
      single = false;
      next = combine(basis, vectors, std::min(l, basis.cols));
      basis.cols = images.cols = 0;
      basis.data.clear();
      images.data.clear();
      rayleigh = Rayleigh();
      continue;
    }
    if (settled) break;
    if (basis.cols + l > limit) {
      const int keep = std::max(l, limit / 2);
      combineInPlace(basis, vectors, keep);
      combineInPlace(images, vectors, keep);
      rayleigh.restart(vectors, keep);
      if (!rayleigh.ritzPairs(values, vectors)) return false;
    }
  }
  if (basis.cols == 0) return false;
  const Basis q = combine(basis, vectors, std::min(l, basis.cols));

  // B = A Q (S x l), whose singular values are A's on the subspace; its
  // left vectors through the eigenvectors of B'B.
  const int width = q.cols;
  std::vector<double> b;
  products.times(q, b);
  std::vector<double> small(static_cast<size_t>(width) * static_cast<size_t>(width));
  openBlas().dgemm(CblasColMajor, CblasNoTrans, CblasTrans, width, width, snps, 1.0, b.data(), width, b.data(), width,
                   0.0, small.data(), width);
  std::vector<double> squares;
  if (!smallEigen(small, width, squares)) return false;
  const double noise = squares.back() * cols * std::numeric_limits<double>::epsilon();
  const int k = std::min(out.wanted, width);
  std::vector<double> leading(static_cast<size_t>(width) * static_cast<size_t>(out.wanted), 0.0);  // row-major
  for (int j = 0; j < k; ++j) {
    const int source = width - 1 - j;  // largest first
    const double value = squares[static_cast<size_t>(source)];
    const double sigma = value > noise ? std::sqrt(value) : 0.0;
    out.singularValues[static_cast<size_t>(j)] = sigma;
    for (int i = 0; i < width; ++i) {
      leading[static_cast<size_t>(i) * out.wanted + j] =
          sigma > 0 ? small[static_cast<size_t>(source) * width + static_cast<size_t>(i)] / sigma : 0.0;
    }
  }
  openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, snps, out.wanted, width, 1.0, b.data(), width,
                   leading.data(), out.wanted, 0.0, out.loadings.data(), out.wanted);
  fixLoadingSigns(snps, out);
  return true;
}

}  // namespace ombra
