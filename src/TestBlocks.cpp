// The per-SNP test on blocks of SNPs. A block's genotypes are decoded for
// the tested entries into one matrix (a column per SNP), residualised
// against the whole design by two matrix products, and each column then
// gives its SNP's statistics. Blocks are shared out between threads; a
// block's numbers do not depend on the thread that computes it or on how
// many there are, and the result lines are written in map order.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <new>
#include <thread>

#include "Test.h"
#include "numerics/OpenBlas.h"
#include "outputs/Progress.h"

namespace {

// A block's genotype matrix stays near this many doubles (4 MB).
constexpr size_t kBlockCells = size_t{1} << 19;
// Blocks handed out per thread before the finished lines are written.
constexpr size_t kBlocksPerThread = 8;

// SNPs per block: a multiple of 4 (whole bytes of a genotype row) that
// depends on the number of tested entries only.
size_t blockSnps(size_t entries) {
  const size_t fit = kBlockCells / std::max<size_t>(entries, 1);
  return std::max<size_t>(4, std::min(CTest::kWidestBlock, fit) & ~size_t{3});
}

}  // namespace

// What a block leaves for the writer: its lines and its SNPs' numbers.
struct CTest::BlockOutput {
  std::string lines;
  std::vector<ombra::SnpResult> results;
};

// What one thread works on; nothing in it is shared.
struct CTest::BlockScratch {
  std::vector<double> genotypes;     // entries x SNPs of the block, column-major
  std::vector<double> coefficients;  // design columns x SNPs of the block, column-major
  std::vector<double> sums;          // per SNP of the block
  SnpTerms terms[kTermsBatch];
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
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  auto work = [&](size_t worker) {
    try {
      for (size_t b = next++; b < count && !failed; b = next++) {
        const size_t firstSnp = (first + b) * width;
        testBlock(firstSnp, std::min(width, markerCount() - firstSnp), width, scratch[worker], outputs[b]);
      }
    } catch (...) {
      if (!failed.exchange(true)) failure = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  try {
    for (size_t t = 1; t < std::min(threads, count); ++t) helpers.emplace_back(work, t);
  } catch (const std::system_error&) {
    // Go on with the threads that started (maybe none but this one).
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

void CTest::testBlock(size_t firstSnp, size_t count, size_t width, BlockScratch& scratch, BlockOutput& out) const {
  const size_t n = tested.size();
  const int p = designColumns;
  decodeBlock(firstSnp, count, scratch);
  // A short block is padded with zero columns: the matrix products treat
  // the last columns of a product otherwise than the others, and a SNP's
  // numbers must not depend on where its block ends (a run split into
  // chunks gives the numbers of the whole run).
  scratch.genotypes.resize(n * width, 0.0);
  std::fill(scratch.genotypes.begin() + static_cast<std::ptrdiff_t>(n * count), scratch.genotypes.end(), 0.0);
  // Coefficients = (X'X)^-1 X' G, then G - X coefficients: the residuals
  // of every SNP of the block at once.
  const ombra::OpenBlas& blas = ombra::openBlas();
  const int entries = static_cast<int>(n);
  const int columns = static_cast<int>(width);
  scratch.coefficients.resize(static_cast<size_t>(p) * width);
  double* g = scratch.genotypes.data();
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, p, columns, entries, 1.0, projectionByEntry.data(), p, g,
             entries, 0.0, scratch.coefficients.data(), p);
  blas.dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, entries, columns, p, -1.0, design.data(), entries,
             scratch.coefficients.data(), p, 1.0, g, entries);
  const size_t start = out.results.size();
  for (size_t j = 0; j < count; ++j) {
    ombra::SnpResult result;
    result.f = scratch.sums[j] / (2.0 * static_cast<double>(n));
    result.tested = n;
    result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
    out.results.push_back(result);
  }
  // The terms of the SNPs that vary, kTermsBatch at a time.
  size_t pending[kTermsBatch];
  const double* residuals[kTermsBatch];
  SnpTerms* terms[kTermsBatch];
  for (size_t i = 0; i < kTermsBatch; ++i) terms[i] = &scratch.terms[i];
  size_t filled = 0;
  const auto finish = [&]() {
    if (filled == kTermsBatch) {
      prepareSnpTermsBatch(residuals, terms);
    } else {
      for (size_t i = 0; i < filled; ++i) prepareSnpTerms(residuals[i], *terms[i]);
    }
    for (size_t i = 0; i < filled; ++i) statisticsOf(*terms[i], scratch.statistic, out.results[start + pending[i]]);
    filled = 0;
  };
  for (size_t j = 0; j < count; ++j) {
    if (out.results[start + j].monomorphic) continue;
    pending[filled] = j;
    residuals[filled++] = g + j * n;
    if (filled == kTermsBatch) finish();
  }
  finish();
  for (size_t j = 0; j < count; ++j) {
    ombra::appendResultLine(out.lines, resultFormat, markers[firstSnp - rowFirstSnp + j], out.results[start + j]);
  }
}

// The genotype values of the tested entries at SNPs firstSnp ..
// firstSnp + count - 1 (missing ones at their fill value), a column per SNP,
// and each column's sum, added in entry order. Entries go in tiles, so that
// the bytes of a tile's rows stay in the first-level cache while its
// columns are written in runs.
void CTest::decodeBlock(size_t firstSnp, size_t count, BlockScratch& scratch) const {
  constexpr size_t kTile = 64;
  const size_t n = tested.size();
  scratch.genotypes.resize(n * count);
  scratch.sums.assign(count, 0.0);
  double fill[kWidestBlock];
  for (size_t j = 0; j < count; ++j) fill[j] = missingValue(static_cast<int>(firstSnp + j));
  double* sums = scratch.sums.data();
  const size_t firstByte = (firstSnp - rowFirstSnp) / 4;
  const unsigned char* rows[kTile];
  for (size_t tile = 0; tile < n; tile += kTile) {
    const size_t size = std::min(kTile, n - tile);
    for (size_t i = 0; i < size; ++i) rows[i] = testedRows[tile + i] + firstByte;
    // The four SNPs of a byte at once: one load of the byte, four chains of
    // additions side by side.
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
      const size_t byte = j / 4;
      const double values[4][4] = {{0.0, 1.0, 2.0, fill[j]},
                                   {0.0, 1.0, 2.0, fill[j + 1]},
                                   {0.0, 1.0, 2.0, fill[j + 2]},
                                   {0.0, 1.0, 2.0, fill[j + 3]}};
      double* out = scratch.genotypes.data() + j * n + tile;
      double sum[4] = {sums[j], sums[j + 1], sums[j + 2], sums[j + 3]};
      for (size_t i = 0; i < size; ++i) {
        const unsigned code = rows[i][byte];
        for (size_t k = 0; k < 4; ++k) {
          const double value = values[k][(code >> (2 * (3 - k))) & 3];
          out[k * n + i] = value;
          sum[k] += value;
        }
      }
      for (size_t k = 0; k < 4; ++k) sums[j + k] = sum[k];
    }
    for (; j < count; ++j) {
      const size_t byte = j / 4;
      const int shift = static_cast<int>(2 * (3 - j % 4));
      const double values[4] = {0.0, 1.0, 2.0, fill[j]};
      double* out = scratch.genotypes.data() + j * n + tile;
      double sum = sums[j];
      for (size_t i = 0; i < size; ++i) {
        const double value = values[(rows[i][byte] >> shift) & 3];
        out[i] = value;
        sum += value;
      }
      sums[j] = sum;
    }
  }
}
