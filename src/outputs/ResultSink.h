// Where the test's results go: the result file (fixed-width or tsv lines,
// gzip-compressed by name), the tally behind the genomic-control report, and
// the points of the plots.
#ifndef OMBRA_OUTPUTS_RESULTSINK_H
#define OMBRA_OUTPUTS_RESULTSINK_H

#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "outputs/Plots.h"
#include "outputs/ResultTable.h"
#include "outputs/StatisticStore.h"

namespace ombra {

struct SinkSettings {
  std::string path = "result.txt";
  ResultFormat format = ResultFormat::kFixed;
  bool mixedModel = false;                     // the mixed model's statistic is the fourth (--model lmm)
  std::string plotPrefix;                      // empty: no plots
  bool plotStatistic[4] = {true, false, false, false};  // which statistics get a panel: SS, T, T1, LMM
};

class ResultSink {
 public:
  // Opens the result file (a tsv table whose name ends in .gz is
  // compressed) and writes its header.
  explicit ResultSink(SinkSettings settings);
  ResultSink(const ResultSink&) = delete;
  ResultSink& operator=(const ResultSink&) = delete;

  ResultLayout layout() const { return ResultLayout(options.format, options.mixedModel); }
  // Result lines, in map order.
  void put(std::string_view lines) { file.put(lines); }
  // Keeps what the genomic-control report and the plots need of a SNP.
  void add(const SnpResult& result, const Marker& marker);
  // Closes the result file and writes the plots.
  void finish();
  // The genomic inflation factor of each statistic over the tested SNPs and
  // the count of genome-wide hits.
  void reportGenomicControl() const;

 private:
  // The statistics of the run: SS, T, T1, and LMM under --model lmm.
  int statistics() const { return options.mixedModel ? 4 : 3; }

  SinkSettings options;
  ResultFile file;
  // Per statistic (SS, T, T1, LMM): the statistics of the tested SNPs and
  // how many reached p < 5e-8.
  StatisticStore testedStatistics[4];
  long genomeWideHits[4] = {0, 0, 0, 0};
  // Per plotted statistic, the p-value of every SNP in map order (not a
  // number where it was not tested).
  std::vector<PlotPoint> plotted[4];
};

// The output `path` of one phenotype of several: its name before the
// extension (result.txt -> result.LDL.txt, result.tsv.gz ->
// result.LDL.tsv.gz, result -> result.LDL), as the log's name is found.
std::string phenotypeOutputName(const std::string& path, const std::string& phenotype);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_RESULTSINK_H
