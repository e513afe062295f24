// The columns of a result line beyond the SNP's own (CHR BP SNP A1 A2 FREQ1
// FREQ2 N): each model of the run contributes named columns, each with how
// it is written in the tsv table and in the fixed-width layout (either may
// be absent), and the value a SNP that was not tested takes there; and it
// names its statistics, whose columns feed the genomic-control report, the
// count of hits and the plots. The table's header, the fixed layout and
// --plot-stat are all built from this one list.
#ifndef OMBRA_OUTPUTS_RESULTCOLUMNS_H
#define OMBRA_OUTPUTS_RESULTCOLUMNS_H

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace ombra {

// Appends one value of a tsv column.
using WriteTsv = void (*)(std::string& out, double value);
// Appends one value of a fixed-width column; `untested` is set for a SNP
// that was not tested (monomorphic).
using WriteFixed = void (*)(std::string& out, double value, bool untested);

struct ColumnSpec {
  std::string name;            // the tsv header's
  WriteTsv tsv = nullptr;      // null: not in the tsv table
  WriteFixed fixed = nullptr;  // null: not in the fixed-width layout
  double untested = std::numeric_limits<double>::quiet_NaN();  // a SNP's value before it is tested
};

// A statistic of the run, by its name ("SS", "LMM"), and the places of its
// statistic, p-value and -log10 p among the run's columns.
struct StatisticColumns {
  std::string name;
  size_t statistic = 0, p = 0, log10p = 0;
};

// The effect a summary-statistics file (GWAS-SSF) reports in its
// mandatory columns: the model's name, as the metadata says it, and the
// places of its effect, standard error, p-value and -log10 p.
struct EffectColumns {
  std::string name;
  size_t beta = 0, se = 0, p = 0, log10p = 0;
  bool holds(size_t column) const { return column == beta || column == se || column == p || column == log10p; }
};

// The run's columns, model after model.
class ResultColumns {
 public:
  // Appends a model's columns and returns the place of its first.
  size_t add(const std::vector<ColumnSpec>& specs);
  // Names a statistic whose three columns are already added.
  void addStatistic(StatisticColumns statistic) { named.push_back(std::move(statistic)); }
  // Names the effect of the summary statistics (the last one named).
  void setEffect(EffectColumns effect) { reported = std::move(effect); }

  const std::vector<ColumnSpec>& columns() const { return specs_; }
  const std::vector<StatisticColumns>& statistics() const { return named; }
  const EffectColumns& effect() const { return reported; }
  size_t size() const { return specs_.size(); }
  // The values of an untested SNP, one per column.
  std::vector<double> untestedValues() const;

 private:
  std::vector<ColumnSpec> specs_;
  std::vector<StatisticColumns> named;
  EffectColumns reported;
};

// The writers the models use.
namespace columns {
// tsv: "%.10g", or NA for not a number.
void number(std::string& out, double value);
// tsv: "%.6e", or NA.
void pValue(std::string& out, double value);
// fixed: a statistic, "%15.6f" ("0" for an untested SNP).
void fixedStatistic(std::string& out, double value, bool untested);
// fixed: the same, but NA right-aligned in 15 for not a number.
void fixedStatisticOrNA(std::string& out, double value, bool untested);
// fixed: a p-value, "%20.6e".
void fixedPValue(std::string& out, double value, bool untested);
// fixed: "%20.6e", or NA right-aligned in 20.
void fixedPValueOrNA(std::string& out, double value, bool untested);
// fixed: "%15.6e", or NA right-aligned in 15.
void fixedNumberOrNA(std::string& out, double value, bool untested);
}  // namespace columns

// The three columns of a 1-df chi-square statistic named `name`
// (STAT_name, P_name, LOG10P_name), written as the tsv table writes them;
// `fixed` adds the statistic and its p-value to the fixed layout as the
// mixed model's have always been written.
std::vector<ColumnSpec> chiSquareColumns(const std::string& name, bool fixed);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_RESULTCOLUMNS_H
