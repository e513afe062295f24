// The mixed model as a model of the run (--model lmm): BETA_LMM SE_LMM and
// the Wald statistic STAT_LMM with its p-value, from a MixedModel fitted
// once. Its sums over the rows are taken stripe by stripe while the
// statistics' pass has the stripe in the cache.
#ifndef OMBRA_ASSOCIATION_LMMMODEL_H
#define OMBRA_ASSOCIATION_LMMMODEL_H

#include "association/MixedModel.h"
#include "association/Model.h"

namespace ombra {

class LmmModel : public Model {
 public:
  // `fit` must outlive the model.
  explicit LmmModel(const MixedModel& fit) : mixed(fit) {}

  std::vector<ColumnSpec> columns() const override;
  std::vector<NamedStatistic> statistics() const override { return {{"LMM", 2}}; }
  std::optional<EffectColumns> effect() const override;
  std::unique_ptr<ModelScratch> newScratch() const override;
  void startBlock(const ResidualBlock& block, ModelScratch* scratch) const override;
  void takeStripe(const ResidualBlock& block, size_t begin, size_t end, ModelScratch* scratch) const override;
  void finishBlock(const ResidualBlock& block, ModelScratch* scratch, ModelRows rows) const override;

 private:
  const MixedModel& mixed;
};

}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_LMMMODEL_H
