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

namespace {

void appendLeft(std::string& out, const std::string& text, size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void appendFormatted(std::string& out, const char* format, double value) {
  char field[512];  // the widest fixed-notation double takes 317 characters
  const int length = std::snprintf(field, sizeof field, format, value);
  if (length > 0) out.append(field, std::min(static_cast<size_t>(length), sizeof field - 1));
}

}  // namespace

void CTest::Test() {
  allocateScores();
  double* coefficients = nullptr;
  doubleTracker.Vector(coefficients, pcaCount);
  obtainComponents();

  collectTestedIndividuals();
  buildProjection();
  cal_betaa_formula(coefficients, true);

  CreateFile(resultStream, resultFileGiven ? resultFileName : "result.txt");
  testEverySnp(coefficients);
  resultStream.close();

  doubleTracker.FreeVector(coefficients);
  for (std::vector<Pedigree>* peds : {&familyPeds, &unrelatedPeds}) {
    for (Pedigree& pedigree : *peds) {
      for (Indi& person : pedigree.members) {
        doubleTracker.FreeVector(person.pcs);
        person.pcs = nullptr;
      }
    }
  }
}

void CTest::allocateScores() {
  const double people = static_cast<double>(familySize) + unrelatedSize;
  ombra::requireMemory(8.0 * people * pcaCount,
                       "The scores of " + std::to_string(familySize + unrelatedSize) + " individuals on " +
                           std::to_string(pcaCount) + " principal components",
                       "Please ask for fewer principal components with --p.");
  for (std::vector<Pedigree>* peds : {&familyPeds, &unrelatedPeds}) {
    for (Pedigree& pedigree : *peds) {
      for (Indi& person : pedigree.members) doubleTracker.Vector(person.pcs, pcaCount);
    }
  }
}

// Loads the scores, or computes them; with "--op" alone, saves them and ends.
void CTest::obtainComponents() {
  if (loadPCA) {
    ReadingPCA();
    return;
  }
  if (!pcaSnpListFile.empty()) {
    readSnpListOfPCA(pcaSnpListFile);
  } else {
    for (size_t i = 0; i < markers.size(); ++i) pcaSnpIndices.push_back(static_cast<int>(i));
  }
  cal_prin();
  if (savePCA) {
    writePcaFile();
    ombra::endRun(0);
  }
}

void CTest::collectTestedIndividuals() {
  tested.clear();
  testedRows.clear();
  familyEntryEnd.clear();
  for (Pedigree& pedigree : familyPeds) {
    for (Indi& person : pedigree.members) {
      if (person.trait == missingTrait) continue;
      tested.push_back(&person);
      testedRows.push_back(familyRows[static_cast<size_t>(person.seq)].geno);
    }
    familyEntryEnd.push_back(tested.size());
  }
  testedFamilyCount = tested.size();
  for (Pedigree& pedigree : unrelatedPeds) {
    for (Indi& person : pedigree.members) {
      if (person.trait == missingTrait) continue;
      tested.push_back(&person);
      testedRows.push_back(unrelatedRows[static_cast<size_t>(person.seq)].geno);
    }
  }
  const size_t count = static_cast<size_t>(pcaCount);
  testedScores.assign(tested.size() * count, 0.0);
  traitResiduals.resize(tested.size());
  genoResiduals.resize(tested.size());
  for (size_t h = 0; h < tested.size(); ++h) {
    std::copy(tested[h]->pcs, tested[h]->pcs + count, testedScores.data() + h * count);
    traitResiduals[h] = tested[h]->traitValue;
  }
}

// projectionMatrix = (X'X)^-1 X', X holding the scores of the tested
// individuals, so that each value meets its own individual's column.
void CTest::buildProjection() {
  const int p = pcaCount;
  const int n = static_cast<int>(tested.size());
  const double* x = testedScores.data();
  MemoryClass<double> work;
  double** xtx = nullptr;
  double** inverse = nullptr;
  work.Matrix(xtx, p, p);
  work.Matrix(inverse, p, p);
  for (int r = 0; r < p; ++r) {
    for (int c = 0; c < p; ++c) {
      double sum = 0;
      for (int i = 0; i < n; ++i) sum += x[i * p + c] * x[i * p + r];
      xtx[r][c] = sum;
    }
  }
  matrix.Inv(xtx, p, inverse);
  doubleTracker.Matrix(projectionMatrix, p, n);
  doubleTracker.Vector(regressionValues, n);
  for (int r = 0; r < p; ++r) {
    for (int k = 0; k < n; ++k) {
      double sum = 0;
      for (int l = 0; l < p; ++l) sum += x[k * p + l] * inverse[r][l];
      projectionMatrix[r][k] = sum;
    }
  }
  work.FreeMatrix(xtx, p);
  work.FreeMatrix(inverse, p);
}

void CTest::testEverySnp(double* coefficients) {
  resultBuffer.clear();
  const size_t n = tested.size();
  for (size_t m = 0; m < markers.size(); ++m) {
    const Marker& marker = markers[m];
    appendLeft(resultBuffer, marker.snpId, 20);
    appendLeft(resultBuffer, marker.allele1, 5);
    appendLeft(resultBuffer, marker.allele2, 5);

    const size_t byte = m / 4;
    const int shift = static_cast<int>(2 * (3 - m % 4));
    const double missing = missingValue(static_cast<int>(m));
    double sum = 0;
    for (size_t h = 0; h < n; ++h) {
      const int code = (testedRows[h][byte] >> shift) & 3;
      const double value = code != 3 ? code : missing;
      genoResiduals[h] = value;
      sum += value;
    }
    const double f = sum / (2.0 * static_cast<double>(n));
    appendFormatted(resultBuffer, "%10.6e", 1 - f);
    resultBuffer += '\t';
    appendFormatted(resultBuffer, "%10.6e", f);

    if (std::trunc(f) == 1.0 || std::trunc(1 - f) == 1.0) {
      for (int i = 0; i < 3; ++i) appendStatistic(0.0, 1.0, true);
    } else {
      cal_betaa_formula(coefficients, false);
      cal_ss();
      calculate_T();
      calculate_T1();
    }
    resultBuffer += '\n';
    if (resultBuffer.size() >= (size_t{1} << 20)) flushResults();
  }
  flushResults();
}

void CTest::flushResults() {
  resultStream.write(resultBuffer.data(), static_cast<std::streamsize>(resultBuffer.size()));
  resultBuffer.clear();
}

void CTest::appendStatistic(double statistic, double pValue, bool monomorphic) {
  if (monomorphic) {
    resultBuffer.append(14, ' ');
    resultBuffer += '0';
  } else {
    appendFormatted(resultBuffer, "%15.6f", statistic);
  }
  appendFormatted(resultBuffer, "%20.6e", pValue);
}

void CTest::cal_betaa_formula(double* coefficients, bool onTrait) {
  std::vector<double>& values = onTrait ? traitResiduals : genoResiduals;
  const int p = pcaCount;
  const int n = static_cast<int>(values.size());
  for (int m = 0; m < p; ++m) coefficients[m] = 0;
  for (int h = 0; h < n; ++h) regressionValues[h] = values[static_cast<size_t>(h)];
  for (int m = 0; m < p; ++m) {
    const double* row = projectionMatrix[m];
    double sum = 0;
    for (int h = 0; h < n; ++h) sum += row[h] * regressionValues[h];
    coefficients[m] = sum;
  }
  subtractFit(coefficients, values);
  if (onTrait) {
    for (int h = 0; h < n; ++h) tested[static_cast<size_t>(h)]->traitValue = values[static_cast<size_t>(h)];
  }
}

// One component at a time: a regression through the origin on each score.
void CTest::cal_betaa(double* coefficients, bool onTrait) {
  std::vector<double>& values = onTrait ? traitResiduals : genoResiduals;
  const size_t p = static_cast<size_t>(pcaCount);
  for (size_t w = 0; w < p; ++w) {
    double numerator = 0;
    double denominator = 0;
    for (size_t h = 0; h < values.size(); ++h) {
      const double score = testedScores[h * p + w];
      numerator += score * values[h];
      denominator += score * score;
    }
    coefficients[w] = numerator / denominator;
  }
  subtractFit(coefficients, values);
  if (onTrait) {
    for (size_t h = 0; h < values.size(); ++h) tested[h]->traitValue = values[h];
  }
}

void CTest::subtractFit(const double* coefficients, std::vector<double>& values) const {
  const size_t p = static_cast<size_t>(pcaCount);
  for (size_t h = 0; h < values.size(); ++h) {
    const double* score = testedScores.data() + h * p;
    double value = values[h];
    for (size_t w = 0; w < p; ++w) value -= coefficients[w] * score[w];
    values[h] = value;
  }
}

namespace {

// Sample variance of `scores` (0 for none; one score divides 0 by 0).
double spread(const std::vector<double>& scores) {
  if (scores.empty()) return 0;
  double sum = 0;
  for (double s : scores) sum += s;
  const double mean = sum / static_cast<double>(scores.size());
  double squares = 0;
  for (double s : scores) squares += (s - mean) * (s - mean);
  return squares / (static_cast<double>(scores.size()) - 1);
}

}  // namespace

double CTest::calculate_T() { return familyScoreTest(true); }

double CTest::calculate_T1() { return familyScoreTest(false); }

// Each family contributes one score (the mean or the sum of its members'
// centred cross-products), each unrelated individual its own; the squared
// total is compared with the scores' spread.
double CTest::familyScoreTest(bool averageFamilies) {
  const std::vector<double>& y = traitResiduals;
  const std::vector<double>& g = genoResiduals;
  const size_t n = tested.size();
  double ySum = 0;
  double gSum = 0;
  for (size_t h = 0; h < n; ++h) {
    ySum += y[h];
    gSum += g[h];
  }
  const double yBar = ySum / static_cast<double>(n);
  const double gBar = gSum / static_cast<double>(n);

  familyScores.clear();
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) {
      double sum = 0;
      for (size_t h = begin; h < end; ++h) sum += (y[h] - yBar) * (g[h] - gBar);
      familyScores.push_back(averageFamilies ? (1.0 / static_cast<double>(end - begin)) * sum : sum);
    }
    begin = end;
  }
  unrelatedScores.clear();
  for (size_t h = testedFamilyCount; h < n; ++h) unrelatedScores.push_back((y[h] - yBar) * (g[h] - gBar));

  double total = 0;
  for (double s : familyScores) total += s;
  for (double s : unrelatedScores) total += s;
  const double families = static_cast<double>(familyScores.size());
  const double unrelated = static_cast<double>(unrelatedScores.size());
  const double t = total * total / (families * spread(familyScores) + unrelated * spread(unrelatedScores));
  const double p = 1 - statistic.chi2cdf(t, 1);
  appendStatistic(t, p, false);
  return p;
}

// Pools covariances: each data set is centred on its own means; the variance
// comes from the unrelated sums of squares and the spread of family sums.
void CTest::cal_ss() {
  const std::vector<double>& y = traitResiduals;
  const std::vector<double>& g = genoResiduals;
  const size_t n = tested.size();
  const size_t familyMembers = testedFamilyCount;
  const size_t unrelatedCount = n - familyMembers;
  auto mean = [](const std::vector<double>& v, size_t from, size_t to) {
    if (to == from) return 0.0;
    double sum = 0;
    for (size_t h = from; h < to; ++h) sum += v[h];
    return sum / static_cast<double>(to - from);
  };
  const double yBarU = mean(y, familyMembers, n);
  const double gBarU = mean(g, familyMembers, n);
  const double yBarF = mean(y, 0, familyMembers);
  const double gBarF = mean(g, 0, familyMembers);

  double syy = 0;
  double sgg = 0;
  double total = 0;
  for (size_t h = familyMembers; h < n; ++h) {
    const double cross = (y[h] - yBarU) * (g[h] - gBarU);
    total += cross;
    syy += (y[h] - yBarU) * (y[h] - yBarU);
    sgg += (g[h] - gBarU) * (g[h] - gBarU);
  }
  familyScores.clear();  // c_k of the counted pedigrees
  size_t begin = 0;
  for (size_t end : familyEntryEnd) {
    if (end > begin) {
      double sum = 0;
      for (size_t h = begin; h < end; ++h) {
        const double cross = (y[h] - yBarF) * (g[h] - gBarF);
        sum += cross;
        total += cross;
      }
      familyScores.push_back(sum);
    }
    begin = end;
  }
  const size_t pedigrees = familyEntryEnd.size();
  double familySum = 0;
  for (double c : familyScores) familySum += c;
  const double cBar = pedigrees > 0 ? familySum / static_cast<double>(pedigrees) : 0;
  double d = 0;
  for (double c : familyScores) d += (c - cBar) * (c - cBar);

  const double u = static_cast<double>(unrelatedCount);
  double t;
  if (unrelatedCount > 0 && !familyScores.empty()) {
    t = total * total / (syy * sgg / u + d);
  } else if (unrelatedCount > 0) {
    t = total * total / (syy * sgg / u);
  } else {
    t = total * total / d;
  }
  appendStatistic(t, 1 - statistic.chi2cdf(t, 1), false);
}
