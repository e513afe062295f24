#include "outputs/ResultSink.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/OutputFile.h"
#include "core/Version.h"

namespace ombra {

ResultSink::ResultSink(SinkSettings settings)
    : plotPrefix(std::move(settings.plotPrefix)),
      path(settings.path),
      trait(std::move(settings.trait)),
      genomeBuild(std::move(settings.genomeBuild)) {
  layout_.format = settings.format;
  layout_.columns = std::move(settings.columns);
  for (const StatisticColumns& statistic : layout_.columns.statistics()) {
    tallies.push_back(std::make_unique<Tally>());
    Tally& tally = *tallies.back();
    tally.columns = statistic;
    const std::vector<std::string>& wanted = settings.plotStatistics;
    tally.plotted = !plotPrefix.empty() && std::find(wanted.begin(), wanted.end(), statistic.name) != wanted.end();
  }
  const bool gzip = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
  file.open(path, gzip, layout_.format == ResultFormat::kSsf);
  file.put(resultHeader(layout_));
}

void ResultSink::add(const SnpResult& result, const Marker& marker) {
  if (layout_.format == ResultFormat::kSsf) ssf.add(marker, result);
  for (const auto& tally : tallies) {
    if (tally->plotted) {
      const double log10p = result.monomorphic ? std::nan("") : result.values[tally->columns.log10p];
      tally->points.push_back(PlotPoint{marker.chr, marker.position, marker.snpId, log10p});
    }
    if (result.monomorphic) continue;
    tally->tested.add(result.values[tally->columns.statistic]);
    if (result.values[tally->columns.p] < 5e-8) ++tally->genomeWideHits;
  }
}

// The Manhattan and QQ plots of the chosen statistics.
void ResultSink::finish() {
  file.close();
  if (layout_.format == ResultFormat::kSsf) finishSsf();
  if (plotPrefix.empty()) return;
  std::vector<PlotPanel> panels;
  for (const auto& tally : tallies) {
    if (!tally->plotted) continue;
    PlotPanel panel;
    panel.statistic = tally->columns.name;
    panel.lambda = tally->tested.inflation();
    panel.points = std::move(tally->points);
    panels.push_back(std::move(panel));
  }
  OutputFile manhattan(plotPrefix + ".manhattan.svg");
  manhattan.put(manhattanSvg(panels));
  manhattan.close();
  OutputFile qq(plotPrefix + ".qq.svg");
  qq.put(qqSvg(panels));
  qq.close();
}

void ResultSink::finishSsf() {
  std::cout << ssf.missingLocationLine(path);
  const size_t slash = path.rfind('/');
  SsfMetadata metadata;
  metadata.dataFile = slash == std::string::npos ? path : path.substr(slash + 1);
  metadata.md5 = file.md5();
  metadata.software = versionText();
  while (!metadata.software.empty() && std::isspace(static_cast<unsigned char>(metadata.software.back()))) {
    metadata.software.pop_back();
  }
  metadata.date = ssfToday();
  metadata.trait = trait;
  metadata.build = genomeBuild;
  metadata.effect = layout_.columns.effect().name;
  OutputFile yaml(ssfMetadataPath(path));
  yaml.put(ssfMetadataText(metadata, ssf));
  yaml.close();
}

void ResultSink::reportGenomicControl() const {
  if (tallies.empty()) return;
  std::cout << "Genomic inflation (median statistic / 0.4549364) over the " << tallies.front()->tested.size()
            << " tested snps:";
  char value[64];
  for (size_t k = 0; k < tallies.size(); ++k) {
    // A statistic undefined for every SNP has no median: NA, not "nan".
    const double inflation = tallies[k]->tested.inflation();
    if (std::isnan(inflation)) {
      std::snprintf(value, sizeof value, " %s NA", tallies[k]->columns.name.c_str());
    } else {
      std::snprintf(value, sizeof value, " %s %.4f", tallies[k]->columns.name.c_str(), inflation);
    }
    std::cout << value << (k + 1 < tallies.size() ? "," : "\n");
  }
  std::cout << "Snps with p < 5e-8:";
  for (size_t k = 0; k < tallies.size(); ++k) {
    std::cout << " " << tallies[k]->columns.name << " " << tallies[k]->genomeWideHits
              << (k + 1 < tallies.size() ? "," : "\n");
  }
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
