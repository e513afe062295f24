// The open side of the per-SNP test: a model beside the three statistics.
//
// Every run computes SS, T and T1 and the plain regression's BETA SE in the
// block's own pass (the base columns below). A further model (the mixed
// model, the next ones) is one class that implements Model: it names its
// columns (with their formats and the values of an untested SNP) and its
// statistics, sees the residuals of each block of SNPs on the design, and
// fills its columns of the block's results. The run lists its models once
// (app/Run.cpp); the table's header, the fixed layout, the genomic-control
// report and the plots follow from that list through resultColumns().
//
// A model is shared by every thread: it keeps what it needs per thread in
// the scratch it makes, and a SNP it cannot test gets not-a-number in its
// columns and a note, never a stop.
#ifndef OMBRA_ASSOCIATION_MODEL_H
#define OMBRA_ASSOCIATION_MODEL_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outputs/ResultColumns.h"
#include "outputs/ResultTable.h"

namespace ombra {

// The residuals on the design of a block's SNPs: `count` SNPs in columns of
// a row-major entries x width matrix (the columns past `count` are zero
// padding), with each SNP's results so far (frequency, whether it varies).
struct ResidualBlock {
  const double* residuals = nullptr;
  size_t entries = 0;
  size_t width = 0;
  size_t count = 0;
  const SnpResult* results = nullptr;
};

// A model's columns of a block's results: column c of SNP j is
// value(j, c), c counted from the model's first column.
class ModelRows {
 public:
  ModelRows(SnpResult* results, size_t firstColumn) : rows(results), first(firstColumn) {}
  double& value(size_t snp, size_t column) const { return rows[snp].values[first + column]; }
  // Adds `text` to the SNP's note (several models' notes are joined by ';').
  void note(size_t snp, const std::string& text) const;

 private:
  SnpResult* rows;
  size_t first;
};

// What a model keeps per thread.
struct ModelScratch {
  virtual ~ModelScratch() = default;
};

// A 1-df statistic among a model's columns: its name and the place of its
// statistic, with its p-value and -log10 p right after it (as
// chiSquareColumns lays them out).
struct NamedStatistic {
  std::string name;
  size_t column = 0;
};

class Model {
 public:
  virtual ~Model() = default;
  virtual std::vector<ColumnSpec> columns() const = 0;
  virtual std::vector<NamedStatistic> statistics() const { return {}; }
  // The effect a summary-statistics file reports in the place of the plain
  // regression's, its columns counted from the model's first (none: the
  // plain regression's stays).
  virtual std::optional<EffectColumns> effect() const { return std::nullopt; }
  // Scratch for one thread (null: none needed).
  virtual std::unique_ptr<ModelScratch> newScratch() const { return nullptr; }
  // Called before the block's stripes.
  virtual void startBlock(const ResidualBlock& block, ModelScratch* scratch) const {
    (void)block, (void)scratch;
  }
  // Columns [begin, end) of the block, handed over while the statistics'
  // pass has them in the cache; every column of the block that varies is
  // handed over once, in order, before finishBlock.
  virtual void takeStripe(const ResidualBlock& block, size_t begin, size_t end, ModelScratch* scratch) const {
    (void)block, (void)begin, (void)end, (void)scratch;
  }
  // Fills the model's columns of the block's SNPs that vary.
  virtual void finishBlock(const ResidualBlock& block, ModelScratch* scratch, ModelRows rows) const = 0;
};

// The base columns every run has: per statistic (SS, T, T1) its statistic,
// p-value and -log10 p, and the fixed layout's p-value, then BETA SE INFO,
// then the p-value and -log10 p of BETA's Wald test, which only the
// summary statistics write.
namespace base {
constexpr size_t kStatistics = 3;
constexpr size_t kPerStatistic = 4;
inline size_t statistic(size_t k) { return k * kPerStatistic; }
inline size_t p(size_t k) { return k * kPerStatistic + 1; }
inline size_t log10p(size_t k) { return k * kPerStatistic + 2; }
inline size_t fixedP(size_t k) { return k * kPerStatistic + 3; }
constexpr size_t kBeta = kStatistics * kPerStatistic;
constexpr size_t kSe = kBeta + 1;
constexpr size_t kInfo = kBeta + 2;
constexpr size_t kWaldP = kBeta + 3;
constexpr size_t kWaldLog10P = kBeta + 4;
constexpr size_t kColumns = kBeta + 5;
}  // namespace base

// The run's columns: the base columns, then each model's in order.
ResultColumns resultColumns(const std::vector<const Model*>& models);
// The place of each model's first column among them.
std::vector<size_t> modelColumns(const std::vector<const Model*>& models);

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_MODEL_H
