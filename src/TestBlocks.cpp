// The per-SNP test on blocks of SNPs. A block's genotypes are decoded for
// the tested entries into one matrix (a column per SNP), residualised
// against the whole design by two matrix products, and each column then
// gives its SNP's statistics. Blocks are shared out between threads; a
// block's numbers do not depend on the thread that computes it or on how
// many there are, and the result lines are written in map order.
#include <algorithm>
#include <cmath>
#include <new>

#include "Test.h"
#include "numerics/OpenBlas.h"
#include "numerics/SharedWork.h"
#include "numerics/VectorClones.h"
#include "outputs/Progress.h"

namespace {

// sums[j] += row[j]: one entry's genotypes added to their SNPs' sums.
OMBRA_VECTOR_CLONES
void addRow(double* __restrict sums, const double* __restrict row, size_t width) {
  for (size_t j = 0; j < width; ++j) sums[j] += row[j];
}

// A block's genotype matrix stays near this many doubles (4 MB).
constexpr size_t kBlockCells = size_t{1} << 19;
// Blocks handed out per thread before the finished lines are written.
constexpr size_t kBlocksPerThread = 8;

// SNPs per block: a multiple of the statistics' batch (and so of whole
// bytes of a genotype row) that depends on the number of tested entries
// only.
size_t blockSnps(size_t entries) {
  constexpr size_t kBatch = CTest::kTermsBatch;
  static_assert(kBatch % 4 == 0 && CTest::kWidestBlock % kBatch == 0, "blocks hold whole batches and bytes");
  const size_t fit = kBlockCells / std::max<size_t>(entries, 1);
  return std::max(kBatch, std::min(CTest::kWidestBlock, fit) / kBatch * kBatch);
}

}  // namespace

// What a block leaves for the writer: its lines and its SNPs' numbers.
struct CTest::BlockOutput {
  std::string lines;
  std::vector<ombra::SnpResult> results;
};

// What one thread works on; nothing in it is shared.
struct CTest::BlockScratch {
  std::vector<double> genotypes;     // entries x SNPs of the block, row-major (an entry's SNPs side by side)
  std::vector<double> coefficients;  // SNPs of the block x design columns, column-major
  std::vector<double> sums;          // per SNP of the block
  TermsBatch terms;
  StatisticTool statistic;
};

bool CTest::canTestInBlocks() const {
  return adjustment == Adjustment::kIntercept && ombra::openBlas().loaded();
}

void CTest::testInBlocks() {
  if (!traitTerms.ready) prepareTraitTerms();
  // Every thread calls the kernels on its own block; OpenBLAS's own threads
  // would only compete with them.
  ombra::openBlas().setThreads(1);
  const size_t snps = markerCount();
  const size_t width = blockSnps(tested.size());
  const size_t blocks = (snps + width - 1) / width;
  const size_t threads = static_cast<size_t>(std::max(1, Matrix::svdThreads()));
  // A streamed run reads the genotypes of each window's blocks first.
  const size_t window = streaming ? std::max<size_t>(1, streamWindowSnps() / width) : threads * kBlocksPerThread;
  std::vector<BlockOutput> outputs(window);
  std::vector<BlockScratch> scratch(threads);
  ombra::Progress progress("Testing snps", snps);
  for (size_t first = 0; first < blocks; first += window) {
    progress.update(std::min(snps, first * width));
    const size_t count = std::min(window, blocks - first);
    if (streaming) fillWindow(first * width, std::min(snps, (first + count) * width) - first * width);
    runBlocks(first, count, width, threads, scratch, outputs);
    for (size_t b = 0; b < count; ++b) {
      resultFile.put(outputs[b].lines);
      const size_t firstSnp = (first + b) * width - rowFirstSnp;
      for (size_t j = 0; j < outputs[b].results.size(); ++j) tallyResult(outputs[b].results[j], markers[firstSnp + j]);
      outputs[b].lines.clear();
      outputs[b].results.clear();
    }
  }
}

// Blocks first .. first + count - 1, each into outputs[b - first], by up to
// `threads` threads; memory running out in any of them ends the run as it
// does on the main thread.
void CTest::runBlocks(size_t first, size_t count, size_t width, size_t threads, std::vector<BlockScratch>& scratch,
                      std::vector<BlockOutput>& outputs) {
  ombra::shareWork(count, threads, [&](size_t b, size_t worker) {
    const size_t firstSnp = (first + b) * width;
    testBlock(firstSnp, std::min(width, markerCount() - firstSnp), width, scratch[worker], outputs[b]);
  });
}

void CTest::testBlock(size_t firstSnp, size_t count, size_t width, BlockScratch& scratch, BlockOutput& out) const {
  const size_t n = tested.size();
  const int p = designColumns;
  // A short block is padded with zero columns: the matrix products treat
  // the last columns of a product otherwise than the others, and a SNP's
  // numbers must not depend on where its block ends (a run split into
  // chunks gives the numbers of the whole run).
  decodeBlock(firstSnp, count, width, scratch);
  // Coefficients = (X'X)^-1 X' G, then G - X coefficients: the residuals
  // of every SNP of the block at once (G is held transposed).
  const ombra::OpenBlas& blas = ombra::openBlas();
  const int entries = static_cast<int>(n);
  const int columns = static_cast<int>(width);
  scratch.coefficients.resize(static_cast<size_t>(p) * width);
  double* g = scratch.genotypes.data();
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasTrans, columns, p, entries, 1.0, g, columns, projectionByEntry.data(),
             p, 0.0, scratch.coefficients.data(), columns);
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasTrans, columns, entries, p, -1.0, scratch.coefficients.data(), columns,
             design.data(), entries, 1.0, g, columns);
  const size_t start = out.results.size();
  for (size_t j = 0; j < count; ++j) {
    ombra::SnpResult result;
    result.f = scratch.sums[j] / (2.0 * static_cast<double>(n));
    result.tested = n;
    result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
    out.results.push_back(result);
  }
  // The terms of the SNPs that vary, a batch of neighbours at a time.
  for (size_t first = 0; first < count; first += kTermsBatch) {
    bool wanted[kTermsBatch];
    bool any = false;
    for (size_t k = 0; k < kTermsBatch; ++k) {
      wanted[k] = first + k < count && !out.results[start + first + k].monomorphic;
      any = any || wanted[k];
    }
    if (!any) continue;
    prepareSnpTerms(g + first, width, wanted, scratch.terms);
    for (size_t k = 0; k < kTermsBatch; ++k) {
      if (wanted[k]) statisticsOf(scratch.terms.terms[k], scratch.statistic, out.results[start + first + k]);
    }
  }
  for (size_t j = 0; j < count; ++j) {
    ombra::appendResultLine(out.lines, resultFormat, markers[firstSnp - rowFirstSnp + j], out.results[start + j]);
  }
}

// The genotype values of the tested entries at SNPs firstSnp ..
// firstSnp + count - 1 (missing ones at their fill value), an entry's SNPs
// side by side in rows of `width` (zero beyond `count`), and each SNP's
// sum, added in entry order.
void CTest::decodeBlock(size_t firstSnp, size_t count, size_t width, BlockScratch& scratch) const {
  const size_t n = tested.size();
  const size_t bytes = (count + 3) / 4;
  scratch.genotypes.resize(n * width);
  scratch.sums.assign(width, 0.0);
  // The value of each code at each SNP; the SNPs past `count` in the last
  // byte read as zeros.
  double values[kWidestBlock][4] = {};
  for (size_t j = 0; j < count; ++j) {
    values[j][1] = 1.0;
    values[j][2] = 2.0;
    values[j][3] = missingValue(static_cast<int>(firstSnp + j));
  }
  const size_t firstByte = (firstSnp - rowFirstSnp) / 4;
  constexpr size_t kAhead = 8;  // rows whose bytes are fetched ahead
  for (size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(testedRows[i + kAhead] + firstByte);
    const unsigned char* row = testedRows[i] + firstByte;
    double* out = scratch.genotypes.data() + i * width;
    for (size_t b = 0; b < bytes; ++b) {
      const unsigned code = row[b];
      out[4 * b] = values[4 * b][code >> 6];
      out[4 * b + 1] = values[4 * b + 1][(code >> 4) & 3];
      out[4 * b + 2] = values[4 * b + 2][(code >> 2) & 3];
      out[4 * b + 3] = values[4 * b + 3][code & 3];
    }
    std::fill(out + 4 * bytes, out + width, 0.0);
    addRow(scratch.sums.data(), out, width);
  }
}
