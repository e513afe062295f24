#include "components/Components.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <numeric>

#include "core/Memory.h"
#include "core/MemoryClass.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "numerics/ApproxComponents.h"
#include "numerics/ComponentScores.h"
#include "numerics/GramComponents.h"
#include "numerics/Matrix.h"
#include "numerics/MatrixTeam.h"
#include "numerics/OpenBlas.h"
#include "core/OutputFile.h"
#include "outputs/Progress.h"
#include "outputs/RunLog.h"

namespace ombra {

namespace {

// The individuals of the decomposition, in column order, and everyone's
// genotype row in analysis order.
struct Columns {
  std::vector<const unsigned char*> rows;  // per column
  std::vector<char> inPca;                 // per individual in analysis order
  std::vector<const unsigned char*> everyone;
  // The same individuals' dosage rows (null for hard calls); both empty
  // when nobody has dosages.
  std::vector<const uint16_t*> dosageRows, everyoneDosages;
};

// The decomposition's result in the form every route gives: every singular
// value, largest first, and the leading left singular vectors.
struct Decomposition {
  std::vector<double> singularValues;
  std::vector<double> loadings;  // row-major, PCA SNP by component
  std::vector<double> mean;      // per PCA SNP, the mean its row was centred on
};

// What a route works on: the PCA SNPs (slots of the rows), each one's fill
// value, the columns and how many components are wanted.
struct RouteInput {
  const std::vector<int>& snps;
  const std::vector<double>& fill;
  const std::vector<const unsigned char*>& rows;
  const std::vector<const uint16_t*>& dosageRows;  // per column, or empty
  int count;  // components asked for
  int threads;
};

// One parent pair of a pedigree with its children (member positions).
struct ParentPair {
  std::string fatherId;
  std::string motherId;
  bool fatherMissing = false;
  bool motherMissing = false;
  std::vector<size_t> children;
  bool selected = false;
};

// Groups a pedigree's members by parent pair, in order of first appearance.
std::vector<ParentPair> parentPairs(const std::vector<Individual>& members) {
  std::vector<ParentPair> pairs;
  for (size_t m = 0; m < members.size(); ++m) {
    const Individual& person = members[m];
    auto same = std::find_if(pairs.begin(), pairs.end(), [&](const ParentPair& f) {
      return f.fatherId == person.fatherId && f.motherId == person.motherId;
    });
    if (same != pairs.end()) {
      same->children.push_back(m);
    } else {
      ParentPair pair;
      pair.fatherId = person.fatherId;
      pair.motherId = person.motherId;
      pair.children.push_back(m);
      pairs.push_back(std::move(pair));
    }
  }
  auto isMember = [&](const std::string& id) {
    return std::any_of(members.begin(), members.end(), [&](const Individual& p) { return p.indId == id; });
  };
  for (ParentPair& pair : pairs) {
    pair.fatherMissing = !isMember(pair.fatherId);
    pair.motherMissing = !isMember(pair.motherId);
  }
  return pairs;
}

// Marks the first member with the ID of member `m` as used for the
// components.
void take(const std::vector<Individual>& members, size_t m, std::vector<char>& chosen) {
  auto found = std::find_if(members.begin(), members.end(),
                            [&](const Individual& p) { return p.indId == members[m].indId; });
  chosen[static_cast<size_t>(found - members.begin())] = 1;
}

// Founders, and one child for all sibships that share an absent parent,
// are mutually unrelated; a sibship with a parent present adds nobody.
// Returns per member whether it is taken.
std::vector<char> unrelatedMembers(const Pedigree& pedigree) {
  const std::vector<Individual>& members = pedigree.members;
  std::vector<char> chosen(members.size(), 0);
  std::vector<ParentPair> pairs = parentPairs(members);
  for (size_t r = 0; r < pairs.size(); ++r) {
    ParentPair& pair = pairs[r];
    if (pair.selected || !pair.fatherMissing || !pair.motherMissing) continue;
    const long father = leadingLong(pair.fatherId);
    const long mother = leadingLong(pair.motherId);
    pair.selected = true;
    if (father == 0 && mother == 0) {
      for (size_t child : pair.children) take(members, child, chosen);
      continue;
    }
    take(members, pair.children.front(), chosen);
    for (size_t later = r + 1; later < pairs.size(); ++later) {
      ParentPair& other = pairs[later];
      if (other.selected) continue;
      if ((other.fatherId == pair.fatherId && father != 0) || (other.motherId == pair.motherId && mother != 0)) {
        other.selected = true;
      }
    }
  }
  return chosen;
}

const unsigned char* rowOf(const DataSet& set, const Individual& person) {
  if (person.seq < 0 || person.seq >= set.size) stopRun("The index of given individual is not correct");
  return set.rows[static_cast<size_t>(person.seq)].codes;
}

// The family members chosen from their pedigrees, then every unrelated
// individual.
Columns chooseColumns(const Cohort& cohort) {
  Columns columns;
  for (const Pedigree& pedigree : cohort.family.pedigrees) {
    const std::vector<char> chosen = unrelatedMembers(pedigree);
    for (size_t m = 0; m < pedigree.members.size(); ++m) {
      const unsigned char* row = rowOf(cohort.family, pedigree.members[m]);
      const uint16_t* dosages = cohort.family.rows[static_cast<size_t>(pedigree.members[m].seq)].dosages;
      if (chosen[m]) columns.rows.push_back(row);
      if (chosen[m]) columns.dosageRows.push_back(dosages);
      columns.inPca.push_back(chosen[m]);
      columns.everyone.push_back(row);
      columns.everyoneDosages.push_back(dosages);
    }
  }
  for (const Pedigree& pedigree : cohort.unrelated.pedigrees) {
    for (const Individual& person : pedigree.members) {
      const unsigned char* row = rowOf(cohort.unrelated, person);
      columns.rows.push_back(row);
      columns.dosageRows.push_back(cohort.unrelated.rows[static_cast<size_t>(person.seq)].dosages);
      columns.inPca.push_back(1);
      columns.everyone.push_back(row);
      columns.everyoneDosages.push_back(columns.dosageRows.back());
    }
  }
  const auto none = [](const std::vector<const uint16_t*>& rows) {
    return std::all_of(rows.begin(), rows.end(), [](const uint16_t* row) { return row == nullptr; });
  };
  if (none(columns.everyoneDosages)) {
    columns.dosageRows.clear();
    columns.everyoneDosages.clear();
  }
  return columns;
}

// The genotype of a row at `slot`: its dosage where it has one, else its
// code; `missing` for neither.
double genotypeValue(const unsigned char* codes, const uint16_t* dosages, size_t slot, double missing) {
  if (dosages != nullptr) return dosages[slot] != kMissingDosage ? dosageCopies(dosages[slot]) : missing;
  const int code = genotypeCode(codes, slot);
  return code != 3 ? code : missing;
}

// Orders by value, largest first, keeping the column each came from.
struct RankedValue {
  double value = 0;
  int index = 0;
};

// svdcmp does about 5e8 to 8e8 units of S x C^2 work a second on one core;
// past about a second of it the Gram route is far quicker, and it never
// holds the S x C matrix that the exact route needs twice.
constexpr double kExactWorkLimit = 5e8;

// out[j] = genotype of column j at PCA SNP `slot` minus the SNP's mean over
// the columns, which goes to `mean`.
void centredRow(const RouteInput& in, int slot, double missing, double* out, double& mean) {
  const size_t cols = in.rows.size();
  double sum = 0;
  for (size_t j = 0; j < cols; ++j) {
    const uint16_t* dosages = in.dosageRows.empty() ? nullptr : in.dosageRows[j];
    out[j] = genotypeValue(in.rows[j], dosages, static_cast<size_t>(slot), missing);
    sum += out[j];
  }
  mean = sum / static_cast<double>(cols);
  for (size_t j = 0; j < cols; ++j) out[j] -= mean;
}

// The Golub-Reinsch SVD of the whole centred matrix, held in memory.
Decomposition exactRoute(const RouteInput& in) {
  const int snps = static_cast<int>(in.snps.size());
  const int cols = static_cast<int>(in.rows.size());
  // The centred matrix, its column-major working copy and V dominate.
  const double cells = (snps + 1.0) * (cols + 1.0);
  requireMemory(8.0 * (2.0 * cells + (cols + 1.0) * (cols + 1.0)),
                "The principal components of " + std::to_string(snps) + " snps and " + std::to_string(cols) +
                    " individuals",
                "Please give fewer snps for the principal components with --snp-list-pca.");
  MemoryClass<double> memory;
  double** a = nullptr;
  double** v = nullptr;
  double* w = nullptr;
  memory.Matrix(a, snps + 1, cols + 1);
  memory.Matrix(v, cols + 1, cols + 1);
  memory.Vector(w, cols + 1);
  Decomposition result;
  result.mean.assign(static_cast<size_t>(snps), 0.0);
  for (int s = 0; s < snps; ++s) {
    const size_t at = static_cast<size_t>(s);
    centredRow(in, in.snps[at], in.fill[at], a[s + 1] + 1, result.mean[at]);
  }
  Matrix().svdcmp(a, snps, cols, w, v, in.threads);

  std::vector<RankedValue> ranked(static_cast<size_t>(cols));
  for (int j = 0; j < cols; ++j) ranked[static_cast<size_t>(j)] = RankedValue{w[j + 1], j};
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const RankedValue& x, const RankedValue& y) { return x.value > y.value; });
  for (const RankedValue& value : ranked) result.singularValues.push_back(value.value);
  const size_t count = static_cast<size_t>(std::min({in.count, cols, snps}));
  result.loadings.resize(static_cast<size_t>(snps) * count);
  for (int s = 0; s < snps; ++s) {
    for (size_t k = 0; k < count; ++k) {
      result.loadings[static_cast<size_t>(s) * count + k] = a[s + 1][ranked[k].index + 1];
    }
  }
  memory.FreeMatrix(a, snps + 1);
  memory.FreeMatrix(v, cols + 1);
  memory.FreeVector(w);
  return result;
}

// The Gram route, its progress counted in rows visited (three times each).
bool gramDecomposition(const PackedGenotypes& genotypes, int wanted, int threads, LeadingComponents& leading) {
  Progress progress("Components", 3 * static_cast<size_t>(genotypes.rows()));
  size_t visited = 0;
  return gramComponents(genotypes, wanted, threads, leading, [&](int count) {
    progress.update(visited);
    visited += static_cast<size_t>(count);
  });
}

// The approximate route, its progress counted in passes against the most
// it may take; tells how far it went, and warns when it stopped at that
// limit short of its tolerance.
bool approximateDecomposition(const PackedGenotypes& genotypes, int wanted, int threads,
                              LeadingComponents& leading) {
  ApproxSettings settings;
  settings.threads = threads;
  Progress progress("Components (approximate)", static_cast<size_t>(settings.maxPasses));
  ApproxReport report;
  const bool computed = approxComponents(genotypes, wanted, leading, report, settings,
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

// The Gram matrix accumulated from blocks of centred rows, or (approximate)
// the block Krylov iteration that streams them; false (after a message)
// when OpenBLAS is not there, so that the exact route takes over.
bool gramRoute(const RouteInput& in, bool approximate, Decomposition& result) {
  const int snps = static_cast<int>(in.snps.size());
  const int cols = static_cast<int>(in.rows.size());
  const int wanted = std::min({in.count, cols, snps});
  requireMemory(approximate ? approxComponentsBytes(snps, cols, wanted) : gramComponentsBytes(snps, cols, wanted),
                "The principal components of " + std::to_string(snps) + " snps and " + std::to_string(cols) +
                    " individuals",
                "Please use fewer unrelated individuals for the principal components.");
  PackedGenotypes genotypes;
  genotypes.columns = in.rows;
  genotypes.snps = in.snps;
  genotypes.fill = in.fill;
  genotypes.dosageColumns = in.dosageRows;
  requireOpenBlas(std::string("The components of the ") + (approximate ? "approximate" : "Gram") + " route",
                  "Or give --pca-method exact, whose numbers never need it.");
  LeadingComponents leading;
  setBlasThreads(in.threads);
  const bool computed = approximate ? approximateDecomposition(genotypes, wanted, in.threads, leading)
                                    : gramDecomposition(genotypes, wanted, in.threads, leading);
  if (!computed) {
    // Held back under an address-space limit: the run was told so already.
    if (!openBlas().heldBack) {
      std::cout << "OpenBLAS (libopenblas.so.0) could not be loaded; the exact decomposition is used instead.\n";
    }
    return false;
  }
  result.mean = std::move(leading.means);
  result.singularValues = std::move(leading.singularValues);
  result.loadings = std::move(leading.loadings);
  return true;
}

void writeEigenLoadings(const std::string& path, const Decomposition& result, int count, size_t snps) {
  OutputFile file(path);
  std::ostream& out = file.stream();
  out << "Sum of All Eigen Value ..." << "\n";
  for (double value : result.singularValues) out << value << "\t";
  out << "\n\n\n" << "Eigen Value ..." << "\n";
  for (int k = 0; k < count; ++k) out << result.singularValues[static_cast<size_t>(k)] << "\t";
  out << "\n\n\n" << "Loading ..." << "\n";
  const size_t width = static_cast<size_t>(count);
  for (size_t s = 0; s < snps; ++s) {
    for (size_t k = 0; k < width; ++k) out << result.loadings[s * width + k] << "\t";
    out << "\n";
  }
  file.close();
}

bool wholeCalls(const std::vector<const uint16_t*>& rows, const std::vector<int>& slots) {
  for (const uint16_t* row : rows) {
    if (row == nullptr) continue;
    for (int slot : slots) {
      const uint16_t dosage = row[slot];
      if (dosage != kMissingDosage && dosage % kDosageOne != 0) return false;
    }
  }
  return true;
}

// The scores of data with dosages: each individual's centred values times
// the loadings, added in SNP order as the packed kernel adds them.
void dosageScores(const RouteInput& in, const Decomposition& result, const Columns& columns,
                  ComponentScores& scores) {
  const size_t count = static_cast<size_t>(scores.count);
  matrixsvd::Team team(in.threads);
  team.forEach(columns.everyone.size(), [&](size_t i, int) {
    double* out = scores.values.data() + i * count;
    for (size_t s = 0; s < in.snps.size(); ++s) {
      const double value = genotypeValue(columns.everyone[i], columns.everyoneDosages[i],
                                         static_cast<size_t>(in.snps[s]), in.fill[s]) - result.mean[s];
      const double* loadings = result.loadings.data() + s * count;
      for (size_t k = 0; k < count; ++k) out[k] += value * loadings[k];
    }
  });
}

// Every individual's projection of its own centred genotypes on the leading
// left singular vectors, eight individuals side by side, the groups shared
// between threads.
void computeScores(const RouteInput& in, const Decomposition& result, const Columns& columns,
                   ComponentScores& scores) {
  const std::vector<const unsigned char*>& everyone = columns.everyone;
  const size_t count = static_cast<size_t>(scores.count);
  scores.values.assign(everyone.size() * count, 0.0);
  if (count == 0) return;
  if (!columns.everyoneDosages.empty()) {
    dosageScores(in, result, columns, scores);
    return;
  }
  ScoreInputs inputs;
  inputs.slots = in.snps.data();
  inputs.fill = in.fill.data();
  inputs.mean = result.mean.data();
  inputs.loadings = result.loadings.data();
  inputs.snps = in.snps.size();
  inputs.components = count;
  constexpr size_t kLanes = kScoreLanes;
  matrixsvd::Team team(in.threads);
  team.forEach((everyone.size() + kLanes - 1) / kLanes, [&](size_t unit, int) {
    const size_t first = unit * kLanes;
    const size_t lanes = std::min(everyone.size() - first, kLanes);
    const unsigned char* rows[kLanes];
    double* out[kLanes];
    for (size_t i = 0; i < lanes; ++i) {
      rows[i] = everyone[first + i];
      out[i] = scores.values.data() + (first + i) * count;
    }
    componentScores(inputs, rows, out, lanes);
  });
}

}  // namespace

std::vector<int> choosePcaSnps(GenotypeStore& store, const std::string& listFile) {
  std::vector<int> snps;
  if (listFile.empty()) {
    for (size_t i = 0; i < store.markerCount(); ++i) snps.push_back(static_cast<int>(i));
    return snps;
  }
  if (!fileExists(listFile)) stopRun("File " + listFile + " doese not exist!\n");
  std::ifstream in;
  openInput(in, listFile);
  std::cout << "Reading snp list file: " << listFile << " which will be used in calculating PCA ...\n";
  std::vector<std::string> names;
  LineReader reader(in, size_t{1} << 20);
  std::string_view line;
  while (reader.next(line)) {
    if (!line.empty()) names.emplace_back(line);
  }
  std::cout << "Total " << names.size() << " in the PCA snp list.\n";
  std::sort(names.begin(), names.end());
  store.forEachMarker([&](size_t s, const Marker& marker) {
    if (std::binary_search(names.begin(), names.end(), marker.snpId)) snps.push_back(static_cast<int>(s));
  });
  if (!snps.empty()) std::cout << "Total " << snps.size() << " will be used to calculate the PCA";
  return snps;
}

void requireScoreMemory(int people, int slots) {
  requireMemory(8.0 * people * slots,
                "The scores of " + std::to_string(people) + " individuals on " + std::to_string(slots) +
                    " principal components",
                "Please ask for fewer principal components with --p.");
}

namespace {

// The constants of auto's estimates, in seconds of one core. They were
// fitted to the processor time (user) of one-thread runs (--threads 1,
// --p 10) on sets simulated by bench/simulate_plink (three populations, 1%
// missing) on the development machine (2 cores of a shared x86-64, OpenBLAS
// 0.3), so that the load of other work does not count:
//   Gram route, C = 4,000: S = 2,000 took 6.5 s, S = 20,000 took 11.7 s,
//     which gives the S C^2 product (5.2 s over 2.9e11); C = 8,000 with
//     S = 4,000 took 61.6 s, of which the C^3 eigen-decomposition about
//     57 s (1.1e-10 C^3; 0.92e-10 at C = 4,000).
//   Approximate route: C = 4,000, S = 20,000, 36 passes in 6.0 s; C = 8,000,
//     S = 4,000, 32 passes in 3.5 s. Per pass that is 1.7e-9 s a cell of A
//     (its two products with a block of 20 vectors, in single precision
//     but for the last, and the decoding of the packed rows) and 6.9e-6 s
//     a column (the basis of up to 300 vectors: orthonormalising, Ritz
//     pairs, restarts); C = 4,000, S = 2,000 (25 passes, 0.8 s) agrees to
//     a fifth.
// The passes depend on the spectrum: 25 to 36 on those sets and 45 on the
// cohort benchmark (15,000 x 20,000), so 50 are assumed, which keeps the
// approximate route off wherever the Gram route is anywhere near as quick.
constexpr double kGramProductSeconds = 1.8e-11;  // per S x C^2 (ssyrk on small integers, corrections)
constexpr double kGramEigenSeconds = 1.0e-10;    // per C^3 (tridiagonal reduction of G, MRRR)
constexpr double kApproxCellSeconds = 1.7e-9;    // per S x C cell and pass, at a block of 20 vectors
constexpr double kApproxColumnSeconds = 6.9e-6;  // per column and pass (the basis, one thread)
constexpr double kApproxPasses = 50;             // passes expected

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f s" : "%.0f s", value);
  return text;
}

}  // namespace

// The Gram route's products share every thread; the approximate route's
// at most two lanes, and its basis work one. Wider blocks (--p above 10)
// make the approximate route's products longer in proportion.
RouteEstimate estimateRoutes(int snps, int cols, int wanted, int threads, double memoryBytes) {
  const double s = std::max(snps, 0);
  const double c = std::max(cols, 0);
  ApproxSettings settings;
  const double l = std::min({double(wanted) + settings.oversampling, c, s});
  RouteEstimate estimate;
  estimate.exactWork = s * c * c;
  estimate.gramSeconds = (kGramProductSeconds * s * c * c + kGramEigenSeconds * c * c * c) / std::max(threads, 1);
  const double lanes = std::min(std::max(threads, 1), 2);
  estimate.approxSeconds =
      kApproxPasses * (kApproxCellSeconds * s * c * std::max(l, 1.0) / 20.0 / lanes + kApproxColumnSeconds * c);
  estimate.gramFits = gramComponentsBytes(snps, cols, wanted) <= memoryBytes / 4;
  return estimate;
}

PcaRoute chooseRoute(PcaMethod method, const RouteEstimate& estimate) {
  switch (method) {
    case PcaMethod::kExact: return PcaRoute::kExact;
    case PcaMethod::kFast: return PcaRoute::kGram;
    case PcaMethod::kApprox: return PcaRoute::kApprox;
    case PcaMethod::kAuto: break;
  }
  if (!estimate.gramFits) return PcaRoute::kApprox;
  if (estimate.exactWork <= kExactWorkLimit) return PcaRoute::kExact;
  return estimate.approxSeconds < estimate.gramSeconds ? PcaRoute::kApprox : PcaRoute::kGram;
}

std::string routeLine(PcaMethod method, PcaRoute route, const RouteEstimate& estimate) {
  const char* name = route == PcaRoute::kExact ? "exact" : route == PcaRoute::kGram ? "Gram" : "approximate";
  std::string line = std::string("Components: ") + name + " route (";
  if (method != PcaMethod::kAuto) return line + "--pca-method)";
  if (!estimate.gramFits) return line + "the Gram matrix would need more than a quarter of the memory)";
  if (route == PcaRoute::kExact) return line + "S x C^2 below 5e8)";
  if (route == PcaRoute::kApprox) {
    return line + "estimated " + seconds(estimate.approxSeconds) + " against " + seconds(estimate.gramSeconds) +
           " for the exact route)";
  }
  return line + "estimated " + seconds(estimate.gramSeconds) + " against " + seconds(estimate.approxSeconds) +
         " for the approximate route)";
}

ComponentScores computeComponents(Cohort& cohort, GenotypeStore& store, const PcaSettings& settings) {
  std::vector<int> snps = choosePcaSnps(store, settings.snpListFile);
  if (store.streaming()) {
    // The PCA SNPs take slots 0, 1, ... of the rows in map order, as they
    // would be taken from rows of every SNP.
    const std::vector<size_t> wanted(snps.begin(), snps.end());
    store.holdStreamedRows(cohort, std::max<size_t>(wanted.size(), 1));
    store.fillRows(cohort, wanted.data(), wanted.size(), 0, static_cast<size_t>(std::max(1, settings.threads)));
    std::iota(snps.begin(), snps.end(), 0);
  }
  std::vector<double> fill;
  for (int snp : snps) fill.push_back(store.missingValue(static_cast<size_t>(snp)));

  std::cout << "Calculating PCA with give snps and unrelated individuals ...\n";
  Columns columns = chooseColumns(cohort);
  // Dosages that are all whole calls are their codes: the hard-call
  // kernels then give the numbers of the same genotypes read as calls.
  if (wholeCalls(columns.everyoneDosages, snps)) {
    columns.dosageRows.clear();
    columns.everyoneDosages.clear();
  }
  const int count = static_cast<int>(snps.size());
  const int cols = static_cast<int>(columns.rows.size());
  const RouteInput input{snps, fill, columns.rows, columns.dosageRows, settings.count, settings.threads};

  Decomposition result;
  const RouteEstimate estimate =
      estimateRoutes(count, cols, std::min({settings.count, cols, count}), settings.threads, availableMemoryBytes());
  PcaRoute route = chooseRoute(settings.method, estimate);
  // The approximate route keeps a copy of the genotypes as 2-bit calls.
  if (route == PcaRoute::kApprox && !columns.dosageRows.empty()) {
    std::cout << "The approximate route reads hard calls only; the components of dosages take the Gram route.\n";
    route = PcaRoute::kGram;
  }
  noteRunFact(routeLine(settings.method, route, estimate) + "\n");
  const bool done = (route == PcaRoute::kGram && gramRoute(input, false, result)) ||
                    (route == PcaRoute::kApprox && gramRoute(input, true, result));
  if (!done) result = exactRoute(input);

  ComponentScores scores;
  scores.count = settings.count;
  if (settings.count > cols || settings.count > count) {
    const int available = std::min(cols, count);
    std::cout << "The maximum available principal component is " << available
              << ", which smallter than setting value.\n";
    std::cout << "Set the parameter of principal component equals " << available << "\n";
    scores.count = available;
  }
  if (!settings.eigenLoadingFile.empty()) writeEigenLoadings(settings.eigenLoadingFile, result, scores.count, snps.size());
  computeScores(input, result, columns, scores);
  scores.inPca = columns.inPca;
  return scores;
}

// A dot in a folder name ("run.v2/pca.txt", "./pca.txt") does not count.
std::string eigenLoadingFileName(const std::string& pcaFileName) {
  const size_t slash = pcaFileName.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  return pcaFileName.substr(0, pcaFileName.find('.', nameStart)) + ".Eigen_Loading.txt";
}

void writePcaFile(const std::string& path, const Cohort& cohort, const ComponentScores& scores) {
  OutputFile file;
  file.open(path, "Create PCA file failed!\n");
  std::ostream& out = file.stream();
  size_t index = 0;
  cohort.forEachIndividual([&](const std::string& famId, const Individual& person, const DataSet&) {
    out << famId << "\t" << person.indId << "\t" << person.trait << "\t" << (scores.inPca[index] ? 1 : 0) << "\t";
    const double* values = scores.of(index++);
    for (int k = 0; k < scores.count; ++k) out << values[k] << "\t";
    out << "\n";
  });
  file.close();
}

}  // namespace ombra
