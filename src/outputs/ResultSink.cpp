#include "outputs/ResultSink.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/OutputFile.h"

namespace ombra {

namespace {
const char* const kNames[4] = {"SS", "T", "T1", "LMM"};
}  // namespace

ResultSink::ResultSink(SinkSettings settings) : options(std::move(settings)) {
  const std::string& name = options.path;
  const bool gzip = options.format == ResultFormat::kTsv && name.size() > 3 &&
                    name.compare(name.size() - 3, 3, ".gz") == 0;
  file.open(name, gzip);
  file.put(resultHeader(layout()));
}

void ResultSink::add(const SnpResult& result, const Marker& marker) {
  const double statistic[4] = {result.statistic[0], result.statistic[1], result.statistic[2], result.lmmStatistic};
  const double p[4] = {result.p[0], result.p[1], result.p[2], result.lmmP};
  if (!options.plotPrefix.empty()) {
    for (int k = 0; k < statistics(); ++k) {
      if (!options.plotStatistic[k]) continue;
      plotted[k].push_back(
          PlotPoint{marker.chr, marker.position, marker.snpId, result.monomorphic ? std::nan("") : p[k]});
    }
  }
  if (result.monomorphic) return;
  for (int k = 0; k < statistics(); ++k) {
    testedStatistics[k].add(statistic[k]);
    if (p[k] < 5e-8) ++genomeWideHits[k];
  }
}

// The Manhattan and QQ plots of the chosen statistics.
void ResultSink::finish() {
  file.close();
  if (options.plotPrefix.empty()) return;
  std::vector<PlotPanel> panels;
  for (int k = 0; k < statistics(); ++k) {
    if (!options.plotStatistic[k]) continue;
    PlotPanel panel;
    panel.statistic = kNames[k];
    panel.lambda = testedStatistics[k].inflation();
    panel.points = plotted[k];
    panels.push_back(std::move(panel));
  }
  OutputFile manhattan(options.plotPrefix + ".manhattan.svg");
  manhattan.put(manhattanSvg(panels));
  manhattan.close();
  OutputFile qq(options.plotPrefix + ".qq.svg");
  qq.put(qqSvg(panels));
  qq.close();
}

void ResultSink::reportGenomicControl() const {
  std::cout << "Genomic inflation (median statistic / 0.4549364) over the " << testedStatistics[0].size()
            << " tested snps:";
  char value[64];
  const int last = statistics() - 1;
  for (int k = 0; k <= last; ++k) {
    std::snprintf(value, sizeof value, " %s %.4f", kNames[k], testedStatistics[k].inflation());
    std::cout << value << (k < last ? "," : "\n");
  }
  std::cout << "Snps with p < 5e-8:";
  for (int k = 0; k <= last; ++k) std::cout << " " << kNames[k] << " " << genomeWideHits[k] << (k < last ? "," : "\n");
}

std::string phenotypeOutputName(const std::string& path, const std::string& phenotype) {
  std::string name = path;
  std::string gzip;
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) {
    gzip = ".gz";
    name.resize(name.size() - 3);
  }
  const size_t slash = name.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;  // the file name itself
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= start) dot = name.size();
  return name.substr(0, dot) + "." + phenotype + name.substr(dot) + gzip;
}

}  // namespace ombra
