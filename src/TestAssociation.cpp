// The association test: the components, the least-squares projection on
// their scores, the residuals, the three statistics and the result file.
//
// The test works on the individuals with a trait, in analysis order (family
// pedigrees and their members, then every unrelated individual as an entry
// of its own), held side by side in contiguous arrays: their genotype rows,
// their scores, and the residuals of trait and genotype.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "Test.h"
#include "outputs/Plots.h"
#include "outputs/Progress.h"

void CTest::Test() {
  allocateScores();
  if (streaming) {
    streamComponents();
    holdStreamedRows(streamWindowSnps());
  } else {
    if (adjustment == Adjustment::kIntercept) computeMeanDosages(markers.size());
    obtainComponents();
  }

  collectTestedIndividuals();
  double* coefficients = nullptr;
  doubleTracker.Vector(coefficients, std::max(designColumns, 1));
  buildProjection();
  cal_betaa_formula(coefficients, true);

  const std::string resultName = resultFileGiven ? resultFileName : "result.txt";
  const bool gzip = resultFormat == ombra::ResultFormat::kTsv && resultName.size() > 3 &&
                    resultName.compare(resultName.size() - 3, 3, ".gz") == 0;
  resultFile.open(resultName, gzip);
  resultFile.put(ombra::resultHeader(resultFormat));
  if (canTestInBlocks()) {
    testInBlocks();
  } else {
    testEverySnp(coefficients);
  }
  resultFile.close();
  if (!plotPrefix.empty()) writePlots();

  doubleTracker.FreeVector(coefficients);
  forEachIndividual([&](const std::string&, Indi& person, bool) {
    doubleTracker.FreeVector(person.pcs);
    person.pcs = nullptr;
  });
}

// Computed components are never more than the individuals or the snps, so
// an over-large "--p" only costs memory when the scores are loaded, and is
// checked against the memory available. Returns the scores per individual.
int CTest::allocateScores() {
  const int people = familySize + unrelatedSize;
  const int snps = static_cast<int>(markerCount());
  const int slots = loadPCA ? pcaCount : std::min({pcaCount, people, snps});
  ombra::requireMemory(8.0 * people * slots,
                       "The scores of " + std::to_string(people) + " individuals on " + std::to_string(slots) +
                           " principal components",
                       "Please ask for fewer principal components with --p.");
  forEachIndividual([&](const std::string&, Indi& person, bool) { doubleTracker.Vector(person.pcs, slots); });
  return slots;
}

// Loads the scores, or computes them; with "--op" alone, saves them and ends.
void CTest::obtainComponents() {
  if (loadPCA) {
    ReadingPCA();
    return;
  }
  choosePcaSnps();
  cal_prin();
  if (savePCA) {
    writePcaFile();
    ombra::endRun(0);
  }
}

void CTest::choosePcaSnps() {
  if (!pcaSnpListFile.empty()) {
    readSnpListOfPCA(pcaSnpListFile);
  } else {
    for (size_t i = 0; i < markerCount(); ++i) pcaSnpIndices.push_back(static_cast<int>(i));
  }
}

void CTest::collectTestedIndividuals() {
  tested.clear();
  testedRows.clear();
  familyEntryEnd.clear();
  size_t leftOut = 0;
  // Individuals without a trait take no part; neither do those missing a
  // covariate, who are counted.
  auto takes = [&](const Indi& person) {
    if (person.trait == missingTrait) return false;
    const bool complete = std::none_of(person.covariates.begin(), person.covariates.end(),
                                       [](double value) { return std::isnan(value); });
    leftOut += complete ? 0 : 1;
    return complete;
  };
  for (Pedigree& pedigree : familyPeds) {
    for (Indi& person : pedigree.members) {
      if (!takes(person)) continue;
      tested.push_back(&person);
      testedRows.push_back(familyRows[static_cast<size_t>(person.seq)].geno);
    }
    familyEntryEnd.push_back(tested.size());
  }
  testedFamilyCount = tested.size();
  for (Pedigree& pedigree : unrelatedPeds) {
    for (Indi& person : pedigree.members) {
      if (!takes(person)) continue;
      tested.push_back(&person);
      testedRows.push_back(unrelatedRows[static_cast<size_t>(person.seq)].geno);
    }
  }
  if (leftOut > 0) {
    std::cout << leftOut << " individuals with a trait are left out of the test for a missing covariate.\n";
    if (tested.empty()) ombra::stopRun("There is no individual to test: every individual with a trait misses a covariate.\n");
  }
  requireTraitVariance();
  fillDesign();
}

// A trait every tested individual shares leaves nothing to explain: each
// statistic would be zero or the noise of rounding, reported as a result.
void CTest::requireTraitVariance() const {
  if (tested.empty()) return;
  const double first = tested.front()->traitValue;
  for (const Indi* person : tested) {
    if (person->traitValue != first) return;
  }
  ombra::stopRun("The trait does not vary: all " + std::to_string(tested.size()) +
                 " tested individuals have the trait " + tested.front()->trait +
                 ", so there is nothing to test. Please check the trait column and the missing-trait code (--mt).\n");
}

// The design: the constant (first, so that the legacy design is the same
// matrix without its first column), the scores, then the covariates that
// add a direction to them over the tested individuals.
void CTest::fillDesign() {
  const size_t count = static_cast<size_t>(pcaCount);
  const size_t n = tested.size();
  const size_t first = adjustment == Adjustment::kIntercept ? 1 : 0;
  const std::vector<size_t> kept = independentCovariates(first + count);
  const size_t columns = first + count + kept.size();
  designColumns = static_cast<int>(columns);
  design.assign(columns * n, 0.0);
  traitResiduals.resize(n);
  genoResiduals.resize(n);
  for (size_t h = 0; h < n; ++h) {
    if (first == 1) design[h] = 1.0;
    for (size_t k = 0; k < count; ++k) design[(first + k) * n + h] = tested[h]->pcs[k];
    for (size_t c = 0; c < kept.size(); ++c) design[(first + count + c) * n + h] = tested[h]->covariates[kept[c]];
    traitResiduals[h] = tested[h]->traitValue;
  }
}

// The covariates, in order, that are not constant or a linear combination
// of the design's first `leading` columns and the covariates kept before
// them; each one left out is reported by name.
std::vector<size_t> CTest::independentCovariates(size_t leading) const {
  std::vector<size_t> kept;
  if (covariateNames.empty()) return kept;
  const size_t n = tested.size();
  std::vector<std::vector<double>> basis;  // orthonormal, over the tested entries
  auto addDirection = [&](std::vector<double> v) {
    double before = 0;
    for (double x : v) before += x * x;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::vector<double>& q : basis) {
        double dot = 0;
        for (size_t h = 0; h < n; ++h) dot += q[h] * v[h];
        for (size_t h = 0; h < n; ++h) v[h] -= dot * q[h];
      }
    }
    double after = 0;
    for (double x : v) after += x * x;
    if (!(after > 1e-18 * before) || after == 0) return false;
    for (double& x : v) x /= std::sqrt(after);
    basis.push_back(std::move(v));
    return true;
  };
  const bool intercept = adjustment == Adjustment::kIntercept;
  for (size_t k = 0; k < leading; ++k) {
    std::vector<double> column(n);
    for (size_t h = 0; h < n; ++h) column[h] = intercept && k == 0 ? 1.0 : tested[h]->pcs[k - (intercept ? 1 : 0)];
    addDirection(std::move(column));
  }
  for (size_t c = 0; c < covariateNames.size(); ++c) {
    std::vector<double> column(n);
    for (size_t h = 0; h < n; ++h) column[h] = tested[h]->covariates[c];
    if (addDirection(std::move(column))) {
      kept.push_back(c);
    } else {
      std::cout << "The covariate " << covariateNames[c]
                << " is constant or a linear combination of the other columns of the design among the tested "
                   "individuals; it is left out.\n";
    }
  }
  return kept;
}

// projectionMatrix = (X'X)^-1 X', X holding the design of the tested
// individuals, so that each value meets its own individual's column.
void CTest::buildProjection() {
  const int p = designColumns;
  const int n = static_cast<int>(tested.size());
  const double* x = design.data();  // x[c * n + i]: design column c of entry i
  MemoryClass<double> work;
  double** xtx = nullptr;
  double** inverse = nullptr;
  work.Matrix(xtx, p, p);
  work.Matrix(inverse, p, p);
  for (int r = 0; r < p; ++r) {
    for (int c = 0; c < p; ++c) {
      double sum = 0;
      for (int i = 0; i < n; ++i) sum += x[c * n + i] * x[r * n + i];
      xtx[r][c] = sum;
    }
  }
  matrix.Inv(xtx, p, inverse);
  doubleTracker.Matrix(projectionMatrix, p, n);
  doubleTracker.Vector(regressionValues, n);
  for (int r = 0; r < p; ++r) {
    for (int k = 0; k < n; ++k) {
      double sum = 0;
      for (int l = 0; l < p; ++l) sum += x[l * n + k] * inverse[r][l];
      projectionMatrix[r][k] = sum;
    }
  }
  projectionByEntry.resize(size_t(n) * size_t(p));
  for (int r = 0; r < p; ++r) {
    for (int k = 0; k < n; ++k) projectionByEntry[size_t(k) * p + r] = projectionMatrix[r][k];
  }
  work.FreeMatrix(xtx, p);
  work.FreeMatrix(inverse, p);
}

void CTest::testEverySnp(double* coefficients) {
  const size_t n = tested.size();
  std::string lines;
  ombra::Progress progress("Testing snps", markers.size());
  for (size_t m = 0; m < markers.size(); ++m) {
    if (m % 256 == 0) progress.update(m);
    const double missing = missingValue(static_cast<int>(m));
    double sum = 0;
    for (size_t h = 0; h < n; ++h) {
      const int code = genotypeCode(testedRows[h], m);
      const double value = code != 3 ? code : missing;
      genoResiduals[h] = value;
      sum += value;
    }
    ombra::SnpResult result;
    result.f = sum / (2.0 * static_cast<double>(n));
    result.tested = n;
    result.monomorphic = std::trunc(result.f) == 1.0 || std::trunc(1 - result.f) == 1.0;
    if (!result.monomorphic) {
      cal_betaa_formula(coefficients, false);
      prepareStatistics();
      statisticsOf(snpBatch.terms[0], statistic, result);
    }
    ombra::appendResultLine(lines, resultFormat, markers[m], result);
    tallyResult(result, markers[m]);
    if (lines.size() >= (size_t{1} << 20)) {
      resultFile.put(lines);
      lines.clear();
    }
  }
  resultFile.put(lines);
}

// The three statistics of a SNP from its terms, with their p-values.
void CTest::statisticsOf(const SnpTerms& terms, StatisticTool& tool, ombra::SnpResult& result) const {
  result.statistic[0] = ssStatistic(terms);
  result.statistic[1] = familyStatistic(terms, true);
  result.statistic[2] = familyStatistic(terms, false);
  for (int k = 0; k < 3; ++k) result.p[k] = 1 - tool.chi2cdf(result.statistic[k], 1);
}

// Keeps what the genomic-control report needs of a tested SNP.
void CTest::tallyResult(const ombra::SnpResult& result, const Marker& marker) {
  if (!plotPrefix.empty()) {
    for (int k = 0; k < 3; ++k) {
      if (!plotStatistic[k]) continue;
      plotted[k].push_back(ombra::PlotPoint{marker.chr, marker.position, marker.snpId,
                                            result.monomorphic ? std::nan("") : result.p[k]});
    }
  }
  if (result.monomorphic) return;
  for (int k = 0; k < 3; ++k) {
    testedStatistics[k].add(result.statistic[k]);
    if (result.p[k] < 5e-8) ++genomeWideHits[k];
  }
}

// The genomic inflation factor of each statistic over the tested SNPs and
// the count of genome-wide hits, after the run's other lines.
void CTest::reportGenomicControl() const {
  static const char* const kNames[3] = {"SS", "T", "T1"};
  std::cout << "Genomic inflation (median statistic / 0.4549364) over the " << testedStatistics[0].size()
            << " tested snps:";
  char value[64];
  for (int k = 0; k < 3; ++k) {
    std::snprintf(value, sizeof value, " %s %.4f", kNames[k], testedStatistics[k].inflation());
    std::cout << value << (k < 2 ? "," : "\n");
  }
  std::cout << "Snps with p < 5e-8:";
  for (int k = 0; k < 3; ++k) std::cout << " " << kNames[k] << " " << genomeWideHits[k] << (k < 2 ? "," : "\n");
}

// The Manhattan and QQ plots of the chosen statistics.
void CTest::writePlots() const {
  static const char* const kNames[3] = {"SS", "T", "T1"};
  std::vector<ombra::PlotPanel> panels;
  for (int k = 0; k < 3; ++k) {
    if (!plotStatistic[k]) continue;
    ombra::PlotPanel panel;
    panel.statistic = kNames[k];
    panel.lambda = testedStatistics[k].inflation();
    panel.points = plotted[k];
    panels.push_back(std::move(panel));
  }
  ombra::OutputFile manhattan(plotPrefix + ".manhattan.svg");
  manhattan.put(ombra::manhattanSvg(panels));
  manhattan.close();
  ombra::OutputFile qq(plotPrefix + ".qq.svg");
  qq.put(ombra::qqSvg(panels));
  qq.close();
}

void CTest::appendStatistic(double statistic, double pValue, bool monomorphic) {
  ombra::appendFixedStatistic(resultBuffer, statistic, pValue, monomorphic);
}

void CTest::cal_betaa_formula(double* coefficients, bool onTrait) {
  std::vector<double>& values = onTrait ? traitResiduals : genoResiduals;
  const int p = designColumns;
  const int n = static_cast<int>(values.size());
  for (int m = 0; m < p; ++m) coefficients[m] = 0;
  for (int h = 0; h < n; ++h) regressionValues[h] = values[static_cast<size_t>(h)];
  // The p sums advance side by side, each adding in increasing h.
  const double* byEntry = projectionByEntry.data();
  for (int h = 0; h < n; ++h) {
    const double value = regressionValues[h];
    const double* column = byEntry + size_t(h) * p;
    for (int m = 0; m < p; ++m) coefficients[m] += column[m] * value;
  }
  subtractFit(coefficients, values);
  if (onTrait) {
    for (int h = 0; h < n; ++h) tested[static_cast<size_t>(h)]->traitValue = values[static_cast<size_t>(h)];
    traitTerms.ready = false;
  }
}

// One design column at a time: a regression through the origin on each.
void CTest::cal_betaa(double* coefficients, bool onTrait) {
  std::vector<double>& values = onTrait ? traitResiduals : genoResiduals;
  const size_t p = static_cast<size_t>(designColumns);
  for (size_t w = 0; w < p; ++w) {
    double numerator = 0;
    double denominator = 0;
    for (size_t h = 0; h < values.size(); ++h) {
      const double score = design[w * values.size() + h];
      numerator += score * values[h];
      denominator += score * score;
    }
    coefficients[w] = numerator / denominator;
  }
  subtractFit(coefficients, values);
  if (onTrait) {
    for (size_t h = 0; h < values.size(); ++h) tested[h]->traitValue = values[h];
    traitTerms.ready = false;
  }
}

// Each value loses its fit one design column at a time, in column order.
void CTest::subtractFit(const double* coefficients, std::vector<double>& values) const {
  const size_t p = static_cast<size_t>(designColumns);
  const size_t n = values.size();
  double* value = values.data();
  for (size_t w = 0; w < p; ++w) {
    const double coefficient = coefficients[w];
    const double* score = design.data() + w * n;
    for (size_t h = 0; h < n; ++h) value[h] -= coefficient * score[h];
  }
}
