#include "association/Model.h"

namespace ombra {

namespace {

const char* const kBaseNames[base::kStatistics] = {"SS", "T", "T1"};

std::vector<ColumnSpec> baseColumns() {
  std::vector<ColumnSpec> specs;
  for (const char* name : kBaseNames) {
    std::vector<ColumnSpec> three = chiSquareColumns(name, false);
    three[0].fixed = columns::fixedStatisticOrNA;
    specs.insert(specs.end(), three.begin(), three.end());
    // The fixed layout's p-value, as it has always been written (see
    // StatisticTerms::statistics); not in the tsv table.
    specs.push_back({std::string("P_") + name, nullptr, columns::fixedPValueOrNA, 1.0});
  }
  specs.push_back({"BETA", columns::number, nullptr});
  specs.push_back({"SE", columns::number, nullptr});
  specs.push_back({"INFO", columns::number, nullptr, 1.0});
  specs.push_back({"P_BETA", nullptr, nullptr});
  specs.push_back({"LOG10P_BETA", nullptr, nullptr});
  return specs;
}

}  // namespace

void ModelRows::note(size_t snp, const std::string& text) const {
  std::string& note = rows[snp].note;
  if (!note.empty()) note += ';';
  note += text;
}

ResultColumns resultColumns(const std::vector<const Model*>& models) {
  ResultColumns run;
  run.add(baseColumns());
  for (size_t k = 0; k < base::kStatistics; ++k) {
    run.addStatistic({kBaseNames[k], base::statistic(k), base::p(k), base::log10p(k)});
  }
  run.setEffect({"plain regression", base::kBeta, base::kSe, base::kWaldP, base::kWaldLog10P});
  for (const Model* model : models) {
    const size_t first = run.add(model->columns());
    for (const NamedStatistic& named : model->statistics()) {
      run.addStatistic({named.name, first + named.column, first + named.column + 1, first + named.column + 2});
    }
    if (std::optional<EffectColumns> effect = model->effect()) {
      run.setEffect({effect->name, first + effect->beta, first + effect->se, first + effect->p,
                     first + effect->log10p});
    }
  }
  return run;
}

std::vector<size_t> modelColumns(const std::vector<const Model*>& models) {
  std::vector<size_t> firsts;
  size_t next = base::kColumns;
  for (const Model* model : models) {
    firsts.push_back(next);
    next += model->columns().size();
  }
  return firsts;
}

}  // namespace ombra
