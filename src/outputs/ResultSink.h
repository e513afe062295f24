// Where the test's results go: the result file (fixed-width, tsv or GWAS-SSF
// lines, gzip-compressed by name; GWAS-SSF with its metadata file), the
// tally behind the genomic-control report, and the points of the plots.
#ifndef OMBRA_OUTPUTS_RESULTSINK_H
#define OMBRA_OUTPUTS_RESULTSINK_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "outputs/Plots.h"
#include "outputs/ResultTable.h"
#include "outputs/SsfTable.h"
#include "outputs/StatisticStore.h"

namespace ombra {

struct SinkSettings {
  std::string path = "result.txt";
  ResultFormat format = ResultFormat::kFixed;
  ResultColumns columns;                   // the run's models' columns
  std::string plotPrefix;                  // empty: no plots
  std::vector<std::string> plotStatistics = {"SS"};  // the statistics that get a panel, by name
  std::string trait = "trait";             // GWAS-SSF metadata: the trait's description
  std::string genomeBuild;                 // GWAS-SSF metadata: the assembly, "" when not given
};

class ResultSink {
 public:
  // Opens the result file (compressed when its name ends in .gz) and
  // writes its header.
  explicit ResultSink(SinkSettings settings);
  ResultSink(const ResultSink&) = delete;
  ResultSink& operator=(const ResultSink&) = delete;

  const ResultLayout& layout() const { return layout_; }
  // Result lines, in map order.
  void put(std::string_view lines) { file.put(lines); }
  // Keeps what the genomic-control report and the plots need of a SNP.
  void add(const SnpResult& result, const Marker& marker);
  // Closes the result file and writes the GWAS-SSF metadata and the plots.
  void finish();
  // The genomic inflation factor of each statistic over the tested SNPs and
  // the count of genome-wide hits.
  void reportGenomicControl() const;

 private:
  // What the report and the plots keep of one named statistic.
  struct Tally {
    StatisticColumns columns;
    StatisticStore tested;        // its values over the tested SNPs, for the median
    long genomeWideHits = 0;      // tested SNPs with p < 5e-8
    bool plotted = false;
    std::vector<PlotPoint> points;  // per SNP in map order, when plotted
  };

  // Closes the GWAS-SSF table's metadata.
  void finishSsf();

  ResultLayout layout_;
  std::string plotPrefix;
  std::string path;
  std::string trait, genomeBuild;
  SsfSummary ssf;
  ResultFile file;
  std::vector<std::unique_ptr<Tally>> tallies;  // per statistic of the columns
};

// The output `path` of one phenotype of several: its name before the
// extension (result.txt -> result.LDL.txt, result.tsv.gz ->
// result.LDL.tsv.gz, result -> result.LDL), as the log's name is found.
std::string phenotypeOutputName(const std::string& path, const std::string& phenotype);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_RESULTSINK_H
