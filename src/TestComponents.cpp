// Principal components: the SNP list, the choice of unrelated individuals,
// the decomposition and the scores, and the PCA file that saves and reloads
// them.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unordered_map>

#include "DosageCounts.h"
#include "MatrixTeam.h"
#include "Test.h"
#include "numerics/ApproxComponents.h"
#include "numerics/ComponentScores.h"
#include "numerics/GramComponents.h"
#include "numerics/OpenBlas.h"
#include "outputs/Progress.h"
#include "outputs/OutputFile.h"

bool CTest::readSnpListOfPCA(std::string fileName) {
  if (!fileExists(fileName)) ombra::stopRun("File " + fileName + " doese not exist!\n");
  OpenFile(inputStream, fileName);
  std::cout << "Reading snp list file: " << fileName << " which will be used in calculating PCA ...\n";
  ombra::LineReader reader(inputStream, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (!line.empty()) pcaSnpNames.emplace_back(line);
  }
  std::cout << "Total " << pcaSnpNames.size() << " in the PCA snp list.\n";
  std::sort(pcaSnpNames.begin(), pcaSnpNames.end());
  forEachMarker([&](size_t s, const Marker& marker) {
    if (std::binary_search(pcaSnpNames.begin(), pcaSnpNames.end(), marker.snpId)) {
      pcaSnpIndices.push_back(static_cast<int>(s));
    }
  });
  if (!pcaSnpIndices.empty()) {
    std::cout << "Total " << pcaSnpIndices.size() << " will be used to calculate the PCA";
    pcaSnpCount = static_cast<int>(pcaSnpIndices.size());
  }
  return true;
}

namespace {

// Groups a pedigree's members by parent pair, in order of first appearance.
std::vector<Family> parentPairs(std::vector<Indi>& members) {
  std::vector<Family> families;
  for (Indi& person : members) {
    person.inPca = false;
    auto same = std::find_if(families.begin(), families.end(), [&](const Family& f) {
      return f.fatherId == person.fatherId && f.motherId == person.motherId;
    });
    if (same != families.end()) {
      same->children.push_back(person.indId);
    } else {
      Family family;
      family.fatherId = person.fatherId;
      family.motherId = person.motherId;
      family.children.push_back(person.indId);
      families.push_back(std::move(family));
    }
  }
  auto isMember = [&](const std::string& id) {
    return std::any_of(members.begin(), members.end(), [&](const Indi& p) { return p.indId == id; });
  };
  for (Family& family : families) {
    family.fatherMissing = !isMember(family.fatherId);
    family.motherMissing = !isMember(family.motherId);
  }
  return families;
}

// Marks the first member with this ID as used for the components.
void take(std::vector<Indi>& members, const std::string& id) {
  auto found = std::find_if(members.begin(), members.end(), [&](const Indi& p) { return p.indId == id; });
  if (found != members.end()) found->inPca = true;
}

// Founders, and one child for all sibships that share an absent parent,
// are mutually unrelated; a sibship with a parent present adds nobody.
void selectUnrelatedMembers(Pedigree& pedigree) {
  std::vector<Family> families = parentPairs(pedigree.members);
  for (size_t r = 0; r < families.size(); ++r) {
    Family& family = families[r];
    if (family.selected || !family.fatherMissing || !family.motherMissing) continue;
    const long father = ombra::leadingLong(family.fatherId);
    const long mother = ombra::leadingLong(family.motherId);
    family.selected = true;
    if (father == 0 && mother == 0) {
      for (const std::string& child : family.children) take(pedigree.members, child);
      continue;
    }
    take(pedigree.members, family.children.front());
    for (size_t later = r + 1; later < families.size(); ++later) {
      Family& other = families[later];
      if (other.selected) continue;
      if ((other.fatherId == family.fatherId && father != 0) || (other.motherId == family.motherId && mother != 0)) {
        other.selected = true;
      }
    }
  }
}

}  // namespace

// A dot in a folder name ("run.v2/pca.txt", "./pca.txt") does not count.
std::string eigenLoadingFileName(const std::string& pcaFileName) {
  const size_t slash = pcaFileName.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  return pcaFileName.substr(0, pcaFileName.find('.', nameStart)) + ".Eigen_Loading.txt";
}

double CTest::missingValue(int snp) const {
  if (adjustment == Adjustment::kIntercept) return meanDosage[static_cast<size_t>(snp) - rowFirstSnp];
  return markers[static_cast<size_t>(snp)].allele2Count / static_cast<double>(2 * alleleCountBase);
}

void CTest::computeMeanDosages(size_t snps) {
  std::vector<const unsigned char*> rows;
  rows.reserve(familyRows.size() + unrelatedRows.size());
  for (const Index& row : familyRows) rows.push_back(row.geno);
  for (const Index& row : unrelatedRows) rows.push_back(row.geno);
  ombra::DosageCounts counts;
  ombra::addDosageCounts(rows.data(), rows.size(), snps, counts);
  ombra::meanDosages(counts, meanDosage);
}

const unsigned char* CTest::genotypeRow(const Indi& person, bool unrelated) {
  const int n = unrelated ? unrelatedSize : familySize;
  if (person.seq < 0 || person.seq >= n) ombra::stopRun("The index of given individual is not correct");
  return (unrelated ? unrelatedRows : familyRows)[static_cast<size_t>(person.seq)].geno;
}

std::vector<CTest::Member> CTest::componentColumns() {
  std::vector<Member> columns;
  for (Pedigree& pedigree : familyPeds) {
    for (Indi& person : pedigree.members) {
      if (person.inPca) columns.push_back(Member{&person, false});
    }
  }
  for (Pedigree& pedigree : unrelatedPeds) {
    for (Indi& person : pedigree.members) columns.push_back(Member{&person, true});
  }
  return columns;
}

// The decomposition's result in the form both routes share: every singular
// value, largest first, and the leading left singular vectors.
struct CTest::Components {
  std::vector<double> singularValues;
  std::vector<double> loadings;  // row-major, PCA SNP by component (pcaCount columns)
  std::vector<double> mean;      // per PCA SNP, the mean its row was centred on
};

void CTest::cal_prin() {
  const int snps = static_cast<int>(pcaSnpIndices.size());
  pcaSnpCount = snps;
  std::cout << "Calculating PCA with give snps and unrelated individuals ...\n";
  for (Pedigree& pedigree : familyPeds) selectUnrelatedMembers(pedigree);
  const std::vector<Member> columns = componentColumns();
  const int cols = static_cast<int>(columns.size());

  Components components;
  const PcaRoute route = chooseRoute(snps, cols);
  const bool done = (route == PcaRoute::kGram && gramRoute(columns, components, false)) ||
                    (route == PcaRoute::kApprox && gramRoute(columns, components, true));
  if (!done) exactRoute(columns, components);

  if (pcaCount > cols || pcaCount > snps) {
    const int available = std::min(cols, snps);
    std::cout << "The maximum available principal component is " << available
              << ", which smallter than setting value.\n";
    std::cout << "Set the parameter of principal component equals " << available << "\n";
    pcaCount = available;
  }
  if (savePCA) writeEigenLoadings(components);
  computeScores(components);
}

// svdcmp does about 5e8 to 8e8 units of S x C^2 work a second on one core;
// past about a second of it the Gram route is far quicker, and it never
// holds the S x C matrix that the exact route needs twice.
constexpr double kExactWorkLimit = 5e8;

// auto: the exact route while it is quick, the Gram route while its C x C
// matrix fits in a quarter of the memory, the approximate one beyond.
PcaRoute CTest::chooseRoute(int snps, int cols) const {
  switch (pcaMethod) {
    case PcaMethod::kExact: return PcaRoute::kExact;
    case PcaMethod::kFast: return PcaRoute::kGram;
    case PcaMethod::kApprox: return PcaRoute::kApprox;
    case PcaMethod::kAuto: break;
  }
  const int wanted = std::min({pcaCount, cols, snps});
  if (ombra::gramComponentsBytes(snps, cols, wanted) > ombra::availableMemoryBytes() / 4) return PcaRoute::kApprox;
  const double work = static_cast<double>(snps) * cols * cols;
  return work > kExactWorkLimit ? PcaRoute::kGram : PcaRoute::kExact;
}

// The Golub-Reinsch SVD of the whole centred matrix, held in memory.
void CTest::exactRoute(const std::vector<Member>& columns, Components& components) {
  const int snps = static_cast<int>(pcaSnpIndices.size());
  const int cols = static_cast<int>(columns.size());
  // The centred matrix, its column-major working copy and V dominate.
  const double cells = (snps + 1.0) * (cols + 1.0);
  ombra::requireMemory(8.0 * (2.0 * cells + (cols + 1.0) * (cols + 1.0)),
                       "The principal components of " + std::to_string(snps) + " snps and " + std::to_string(cols) +
                           " individuals",
                       "Please give fewer snps for the principal components with --snp-list-pca.");
  double** a = nullptr;
  double** v = nullptr;
  double* w = nullptr;
  doubleTracker.Matrix(a, snps + 1, cols + 1);
  doubleTracker.Matrix(v, cols + 1, cols + 1);
  doubleTracker.Vector(w, cols + 1);
  components.mean.assign(static_cast<size_t>(snps), 0.0);
  const std::vector<const unsigned char*> rows = columnRows(columns);
  for (int s = 0; s < snps; ++s) centredRow(rows, s, a[s + 1] + 1, components.mean[static_cast<size_t>(s)]);
  matrix.svdcmp(a, snps, cols, w, v);

  std::vector<myclass> ranked(static_cast<size_t>(cols));
  for (int j = 0; j < cols; ++j) ranked[static_cast<size_t>(j)] = myclass{w[j + 1], j};
  std::stable_sort(ranked.begin(), ranked.end(), compare);
  for (const myclass& value : ranked) components.singularValues.push_back(value.value);
  const size_t count = static_cast<size_t>(std::min({pcaCount, cols, snps}));
  components.loadings.resize(static_cast<size_t>(snps) * count);
  for (int s = 0; s < snps; ++s) {
    for (size_t k = 0; k < count; ++k) {
      components.loadings[static_cast<size_t>(s) * count + k] = a[s + 1][ranked[k].index + 1];
    }
  }
  doubleTracker.FreeMatrix(a, snps + 1);
  doubleTracker.FreeMatrix(v, cols + 1);
  doubleTracker.FreeVector(w);
}

namespace {

// The Gram route, its progress counted in rows visited (three times each).
bool gramDecomposition(const ombra::PackedGenotypes& genotypes, int wanted, ombra::LeadingComponents& leading) {
  ombra::Progress progress("Components", 3 * static_cast<size_t>(genotypes.rows()));
  size_t visited = 0;
  return ombra::gramComponents(genotypes, wanted, leading, [&](int count) {
    progress.update(visited);
    visited += static_cast<size_t>(count);
  });
}

// The approximate route, its progress counted in passes against the most
// it may take; tells how far it went, and warns when it stopped at that
// limit short of its tolerance.
bool approximateDecomposition(const ombra::PackedGenotypes& genotypes, int wanted,
                              ombra::LeadingComponents& leading) {
  ombra::ApproxSettings settings;
  settings.threads = Matrix::svdThreads();
  ombra::Progress progress("Components (approximate)", static_cast<size_t>(settings.maxPasses));
  ombra::ApproxReport report;
  const bool computed = ombra::approxComponents(genotypes, wanted, leading, report, settings,
                                                [&](int passes) { progress.update(static_cast<size_t>(passes)); });
  if (computed) {
    char bound[32], sought[32];
    std::snprintf(bound, sizeof bound, "%.1e", report.errorBound);
    std::snprintf(sought, sizeof sought, "%.0e", settings.tolerance);
    std::cout << "The approximate components took " << report.passes
              << " passes over the genotypes; the relative error of their leading eigenvalues is at most " << bound;
    if (report.errorBound > settings.tolerance) std::cout << " (short of the " << sought << " sought)";
    std::cout << ".\n";
  }
  return computed;
}

}  // namespace

// The Gram matrix accumulated from blocks of centred rows, or (approximate)
// the subspace iteration that streams them; false (after a message) when
// OpenBLAS is not there, so that the exact route takes over.
bool CTest::gramRoute(const std::vector<Member>& columns, Components& components, bool approximate) {
  const int snps = static_cast<int>(pcaSnpIndices.size());
  const int cols = static_cast<int>(columns.size());
  const int wanted = std::min({pcaCount, cols, snps});
  ombra::requireMemory(approximate ? ombra::approxComponentsBytes(snps, cols, wanted)
                                   : ombra::gramComponentsBytes(snps, cols, wanted),
                       "The principal components of " + std::to_string(snps) + " snps and " + std::to_string(cols) +
                           " individuals",
                       "Please use fewer unrelated individuals for the principal components.");
  ombra::PackedGenotypes genotypes;
  genotypes.columns = columnRows(columns);
  genotypes.snps = pcaSnpIndices;
  for (int snp : pcaSnpIndices) genotypes.fill.push_back(missingValue(snp));
  ombra::LeadingComponents leading;
  if (ombra::openBlas().loaded()) ombra::openBlas().setThreads(Matrix::svdThreads());
  const bool computed = approximate ? approximateDecomposition(genotypes, wanted, leading)
                                    : gramDecomposition(genotypes, wanted, leading);
  if (!computed) {
    std::cout << "OpenBLAS (libopenblas.so.0) could not be loaded; the exact decomposition is used instead.\n";
    return false;
  }
  components.mean = std::move(leading.means);
  components.singularValues = std::move(leading.singularValues);
  components.loadings = std::move(leading.loadings);
  return true;
}

// The genotype rows of the component columns, in column order.
std::vector<const unsigned char*> CTest::columnRows(const std::vector<Member>& columns) {
  std::vector<const unsigned char*> rows;
  rows.reserve(columns.size());
  for (const Member& column : columns) rows.push_back(genotypeRow(*column.person, column.unrelated));
  return rows;
}

// out[j] = genotype of column j at PCA SNP s minus the SNP's mean over the
// columns, which goes to `mean`.
void CTest::centredRow(const std::vector<const unsigned char*>& rows, int s, double* out, double& mean) const {
  const size_t snp = static_cast<size_t>(pcaSnpIndices[static_cast<size_t>(s)]);
  const double missing = missingValue(static_cast<int>(snp));
  const size_t cols = rows.size();
  double sum = 0;
  for (size_t j = 0; j < cols; ++j) {
    const int code = genotypeCode(rows[j], snp);
    out[j] = code != 3 ? code : missing;
    sum += out[j];
  }
  mean = sum / static_cast<double>(cols);
  for (size_t j = 0; j < cols; ++j) out[j] -= mean;
}

void CTest::writeEigenLoadings(const Components& components) {
  ombra::OutputFile file(eigenLoadingFileName(pcaFileName));
  std::ostream& out = file.stream();
  out << "Sum of All Eigen Value ..." << "\n";
  for (double value : components.singularValues) out << value << "\t";
  out << "\n\n\n" << "Eigen Value ..." << "\n";
  for (int k = 0; k < pcaCount; ++k) out << components.singularValues[static_cast<size_t>(k)] << "\t";
  out << "\n\n\n" << "Loading ..." << "\n";
  const size_t snps = pcaSnpIndices.size();
  const size_t count = static_cast<size_t>(pcaCount);
  for (size_t s = 0; s < snps; ++s) {
    for (size_t k = 0; k < count; ++k) out << components.loadings[s * count + k] << "\t";
    out << "\n";
  }
  file.close();
}

// Every family member and every unrelated individual gets the projection
// of its own centred genotypes on the leading left singular vectors.
void CTest::computeScores(const Components& components) {
  const size_t count = static_cast<size_t>(pcaCount);
  if (count == 0) return;
  struct Scored {
    Indi* person;
    const unsigned char* row;
  };
  std::vector<Scored> everyone;
  forEachIndividual([&](const std::string&, Indi& person, bool unrelated) {
    everyone.push_back(Scored{&person, genotypeRow(person, unrelated)});
  });
  std::vector<double> fill;
  for (int snp : pcaSnpIndices) fill.push_back(missingValue(snp));
  ombra::ScoreInputs inputs;
  inputs.slots = pcaSnpIndices.data();
  inputs.fill = fill.data();
  inputs.mean = components.mean.data();
  inputs.loadings = components.loadings.data();
  inputs.snps = pcaSnpIndices.size();
  inputs.components = count;
  // Individuals side by side, the groups shared between threads.
  constexpr size_t kLanes = ombra::kScoreLanes;
  matrixsvd::Team team(Matrix::svdThreads());
  team.forEach((everyone.size() + kLanes - 1) / kLanes, [&](size_t unit, int) {
    const size_t first = unit * kLanes;
    const size_t lanes = std::min(everyone.size() - first, kLanes);
    const unsigned char* rows[kLanes];
    double* scores[kLanes];
    for (size_t i = 0; i < lanes; ++i) {
      rows[i] = everyone[first + i].row;
      scores[i] = everyone[first + i].person->pcs;
    }
    ombra::componentScores(inputs, rows, scores, lanes);
  });
}

void CTest::writePcaFile() {
  ombra::OutputFile file;
  file.open(pcaFileName, "Create PCA file failed!\n");
  std::ostream& out = file.stream();
  forEachIndividual([&](const std::string& famId, const Indi& person, bool unrelated) {
    out << famId << "\t" << person.indId << "\t" << person.trait << "\t" << (unrelated || person.inPca ? 1 : 0)
        << "\t";
    for (int k = 0; k < pcaCount; ++k) out << person.pcs[k] << "\t";
    out << "\n";
  });
  file.close();
}

namespace {

// The first member named `indId` among the pedigrees with family ID `famId`.
Indi* findIndividual(std::vector<Pedigree>& peds, const std::unordered_map<std::string_view, size_t>& byFamily,
                     std::string_view famId, std::string_view indId) {
  auto found = byFamily.find(famId);
  if (found == byFamily.end()) return nullptr;
  for (Indi& person : peds[found->second].members) {
    if (person.indId == indId) return &person;
  }
  return nullptr;
}

std::unordered_map<std::string_view, size_t> pedigreesByFamily(const std::vector<Pedigree>& peds) {
  std::unordered_map<std::string_view, size_t> index;
  for (size_t i = 0; i < peds.size(); ++i) index.emplace(peds[i].famId, i);
  return index;
}

}  // namespace

bool CTest::ReadingPCA() {
  OpenFile(inputStream, pcaFileName);
  std::cout << "Load calculated PCA from file " << pcaFileName << "...\n";
  const auto familyIndex = pedigreesByFamily(familyPeds);
  const auto unrelatedIndex = pedigreesByFamily(unrelatedPeds);
  const ombra::FieldSplitter separators("\t ");
  const size_t needed = static_cast<size_t>(pcaCount) + 4;
  ombra::LineReader reader(inputStream, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) continue;
    lineFields.clear();
    separators.split(line, lineFields);
    const std::string famId(lineFields.size() > 0 ? lineFields[0] : std::string_view());
    const std::string indId(lineFields.size() > 1 ? lineFields[1] : std::string_view());
    if (lineFields.size() < needed) {
      ombra::stopRun("The individual " + famId + "\t" + indId + " has not enought PCA are required " +
                     std::to_string(pcaCount) + "\n");
    }
    Indi* person = findIndividual(familyPeds, familyIndex, famId, indId);
    if (person == nullptr) person = findIndividual(unrelatedPeds, unrelatedIndex, famId, indId);
    if (person == nullptr) {
      ombra::stopRun("Can not found the same individual " + famId + "\t" + indId +
                     " in the pedigree. However, this individual is coming up in the PCA data file.\n");
    }
    for (int k = 0; k < pcaCount; ++k) person->pcs[k] = ombra::leadingDouble(lineFields[4 + static_cast<size_t>(k)]);
    person->pcaLoaded = true;
  }
  reportIndividualsWithoutScores();
  return true;
}

void CTest::reportIndividualsWithoutScores() {
  std::string missing;
  forEachIndividual([&](const std::string& famId, const Indi& person, bool) {
    if (!person.pcaLoaded) missing += famId + " " + person.indId + "\n";
  });
  if (!missing.empty()) ombra::stopRun("Some individuals do not have PCA. They are:\n" + missing);
}
