#include "association/LmmModel.h"

#include "association/Regression.h"
#include "stats/upperTail.h"

namespace ombra {

namespace {

struct Sums : ModelScratch {
  std::vector<double> explained;  // c = X'(V^-1 - I) r: design columns x width
  std::vector<double> cross, squares;  // per column of the block
};

enum Column : size_t { kBeta, kSe, kStatistic, kP, kLog10P };

}  // namespace

std::vector<ColumnSpec> LmmModel::columns() const {
  std::vector<ColumnSpec> specs = {{"BETA_LMM", columns::number, columns::fixedNumberOrNA},
                                   {"SE_LMM", columns::number, columns::fixedNumberOrNA}};
  for (const ColumnSpec& spec : chiSquareColumns("LMM", true)) specs.push_back(spec);
  return specs;
}

std::optional<EffectColumns> LmmModel::effect() const {
  return EffectColumns{"mixed model (LMM)", kBeta, kSe, kP, kLog10P};
}

std::unique_ptr<ModelScratch> LmmModel::newScratch() const { return std::make_unique<Sums>(); }

void LmmModel::startBlock(const ResidualBlock& block, ModelScratch* scratch) const {
  Sums& sums = static_cast<Sums&>(*scratch);
  sums.explained.assign(mixed.designColumns() * block.width, 0.0);
  sums.cross.assign(block.width, 0.0);
  sums.squares.assign(block.width, 0.0);
}

void LmmModel::takeStripe(const ResidualBlock& block, size_t begin, size_t end, ModelScratch* scratch) const {
  Sums& sums = static_cast<Sums&>(*scratch);
  const double* g = block.residuals + begin;
  mixed.rowSums(g, block.width, end - begin, sums.cross.data() + begin, sums.squares.data() + begin);
  mixed.explainedSums(g, block.width, end - begin, sums.explained.data() + begin, block.width);
}

void LmmModel::finishBlock(const ResidualBlock& block, ModelScratch* scratch, ModelRows rows) const {
  Sums& sums = static_cast<Sums&>(*scratch);
  mixed.familySquares(block.residuals, block.width, block.width, sums.squares.data());
  mixed.lessExplained(sums.explained.data(), block.width, sums.squares.data());
  for (size_t j = 0; j < block.count; ++j) {
    if (block.results[j].monomorphic) continue;
    const double floor = squaresFloor(mixed.floorPerVariance(), block.results[j].f);
    const WaldResult wald = waldTest(sums.cross[j], sums.squares[j], floor, mixed.trait());
    rows.value(j, kBeta) = wald.beta;
    rows.value(j, kSe) = wald.se;
    rows.value(j, kStatistic) = wald.statistic;
    rows.value(j, kP) = chiSquareUpperTail(wald.statistic, 1);
    rows.value(j, kLog10P) = chiSquareLog10Tail(wald.statistic, 1);
  }
}

}  // namespace ombra
