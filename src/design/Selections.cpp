// Selections (--keep, --remove, --extract, --exclude, --chr, --from-bp,
// --to-bp) and quality-control filters (--mind, --geno, --hwe, --maf) on the
// loaded data sets. A dropped individual or SNP leaves the store as if its
// line or columns had never been read: rows and markers are compacted, `seq`
// renumbered in file order and the allele counts taken again from the rows.
#include "design/Selections.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <unordered_set>

#include "core/Chromosome.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "design/QualityFilters.h"
#include "formats/DosageCounts.h"
#include "formats/GenotypeStream.h"
#include "formats/MarkerStream.h"
#include "formats/ImputationInfo.h"

namespace ombra {

namespace {

// What the selections change: the data sets and the genotype store.
struct Loaded {
  Cohort& cohort;
  GenotypeStore& store;
};

// Drops from one data set the individuals for which stays(famId, person) is
// false, keeping the others' rows in file order; returns how many it dropped.
template <typename Stays>
long dropIndividuals(Loaded& test, DataSet& set, Stays stays) {
  std::vector<int> newSeq(set.rows.size(), -1);
  for (Pedigree& pedigree : set.pedigrees) {
    for (Individual& person : pedigree.members) {
      const size_t seq = static_cast<size_t>(person.seq);
      if (seq < newSeq.size() && stays(pedigree.famId, person)) newSeq[seq] = 0;
    }
  }
  size_t kept = 0;
  for (size_t i = 0; i < set.rows.size(); ++i) {
    if (newSeq[i] < 0) {
      test.store.freeRow(set.rows[i].codes);
      if (set.rows[i].dosages != nullptr) test.store.freeRow(reinterpret_cast<unsigned char*>(set.rows[i].dosages));
      if (set.rows[i].variances != nullptr) test.store.freeRow(reinterpret_cast<unsigned char*>(set.rows[i].variances));
      continue;
    }
    newSeq[i] = static_cast<int>(kept);
    set.rows[kept] = set.rows[i];
    set.rows[kept++].seq = newSeq[i];
  }
  const long dropped = static_cast<long>(set.rows.size() - kept);
  set.rows.resize(kept);
  for (Pedigree& pedigree : set.pedigrees) {
    std::vector<Individual>& members = pedigree.members;
    members.erase(std::remove_if(members.begin(), members.end(),
                                 [&](const Individual& p) {
                                   const size_t seq = static_cast<size_t>(p.seq);
                                   return seq >= newSeq.size() || newSeq[seq] < 0;
                                 }),
                  members.end());
    for (Individual& person : members) person.seq = newSeq[static_cast<size_t>(person.seq)];
  }
  set.pedigrees.erase(std::remove_if(set.pedigrees.begin(), set.pedigrees.end(), [](const Pedigree& p) { return p.members.empty(); }),
                 set.pedigrees.end());
  set.size = static_cast<int>(kept);
  return dropped;
}

// Per SNP, the copies of allele2 among the called genotypes of every loaded
// individual, dosages where a data set has them; empty when no data set has
// dosages (the codes' tallies then count them).
std::vector<double> copiesFromDosages(const Loaded& test) {
  if (!holdsDosages(test.cohort)) return {};
  const DosageCounts counts = cohortDosageCounts(test.cohort, test.store.markers.size());
  std::vector<double> copies(counts.copies.size());
  for (size_t s = 0; s < copies.size(); ++s) {
    copies[s] = static_cast<double>(counts.copies[s]) + static_cast<double>(counts.units[s]) / kDosageOne;
  }
  return copies;
}

// Per SNP, over the called genotypes of every loaded individual (dosages
// where a data set has them): their count, sum and sum of squares, and of
// dosages read from genotype probabilities the sum of their variances;
// empty unless `wanted` and some data set has dosages.
struct DosageMoments {
  std::vector<double> called, sum, squares, variances;
  std::vector<char> fractional;  // per SNP: whether some called dosage is not a whole number of copies
  bool probabilities = true;     // every row of dosages is of probabilities (DataSet::probabilities)
  double frequency(size_t s) const { return called[s] > 0 ? sum[s] / (2 * called[s]) : 0; }
  // IMPUTE's info from probabilities, else MACH's r-squared;
  // 1 for whole-call dosages, as certain as calls.
  double info(size_t s) const {
    if (!(called[s] > 0) || !fractional[s]) return 1;
    if (probabilities) return probabilityInfo(sum[s], variances[s], 0, called[s]);
    return machInfo(sum[s], squares[s], called[s]);
  }
};

DosageMoments dosageMoments(const Loaded& test, bool wanted) {
  DosageMoments moments;
  if (!wanted || !holdsDosages(test.cohort)) return moments;
  const size_t m = test.store.markers.size();
  moments.called.assign(m, 0.0);
  moments.sum.assign(m, 0.0);
  moments.squares.assign(m, 0.0);
  moments.fractional.assign(m, 0);
  moments.variances.assign(m, 0.0);
  for (const DataSet* set : {&test.cohort.family, &test.cohort.unrelated}) {
    for (const GenotypeRow& row : set->rows) {
      if (row.dosages != nullptr && !set->probabilities) moments.probabilities = false;
      for (size_t s = 0; s < m; ++s) {
        double value = 0;
        if (row.dosages != nullptr) {
          if (row.dosages[s] == kMissingDosage) continue;
          value = dosageCopies(row.dosages[s]);
          moments.fractional[s] |= row.dosages[s] % kDosageOne != 0;
          if (row.variances != nullptr) moments.variances[s] += varianceOf(row.variances[s]);
        } else {
          const int code = genotypeCode(row.codes, s);
          if (code == 3) continue;
          value = code;
        }
        moments.called[s] += 1;
        moments.sum[s] += value;
        moments.squares[s] += value * value;
      }
    }
  }
  return moments;
}

// The allele counts as loading the remaining rows would have made them,
// from the genotype counts of every loaded individual.
void setAlleleCounts(Loaded& test, const GenotypeTally& tally) {
  const std::vector<double> fromDosages = copiesFromDosages(test);
  for (size_t s = 0; s < test.store.markers.size(); ++s) {
    test.store.markers[s].allele2Count =
        fromDosages.empty() ? static_cast<double>(tally.at(s, 1) + 2 * tally.at(s, 2)) : fromDosages[s];
  }
  test.store.alleleCountBase = test.cohort.individuals();
}

GenotypeTally tallyAll(Loaded& test) {
  const size_t m = test.store.markers.size();
  GenotypeTally tally(m);
  const std::vector<char> selected(m, 1);
  for (const DataSet* set : {&test.cohort.family, &test.cohort.unrelated}) {
    for (const GenotypeRow& row : set->rows) tallyRow(row.codes, m, 1, tally, selected.data());
  }
  return tally;
}

// Keeps the SNPs `kept` (ascending) in the markers and in every row.
void keepSnps(Loaded& test, const std::vector<size_t>& kept) {
  const long before = static_cast<long>(test.store.markers.size());
  std::vector<Marker> markers;
  markers.reserve(kept.size());
  for (size_t s : kept) markers.push_back(std::move(test.store.markers[s]));
  test.store.markers = std::move(markers);
  std::vector<unsigned char> packed(static_cast<size_t>(rowBytes(static_cast<long>(kept.size()))));
  for (DataSet* set : {&test.cohort.family, &test.cohort.unrelated}) {
    for (GenotypeRow& row : set->rows) {
      std::fill(packed.begin(), packed.end(), 0);
      for (size_t j = 0; j < kept.size(); ++j) {
        packed[j / 4] |= static_cast<unsigned char>(genotypeCode(row.codes, kept[j]) << (2 * (3 - j % 4)));
      }
      if (!packed.empty()) std::memcpy(row.codes, packed.data(), packed.size());
      if (row.dosages == nullptr) continue;
      for (size_t j = 0; j < kept.size(); ++j) row.dosages[j] = row.dosages[kept[j]];
      if (row.variances == nullptr) continue;
      for (size_t j = 0; j < kept.size(); ++j) row.variances[j] = row.variances[kept[j]];
    }
  }
  const long after = static_cast<long>(kept.size());
  for (DataSet* set : {&test.cohort.family, &test.cohort.unrelated}) {
    if (set->markerCount == before) set->markerCount = after;
  }
}

[[noreturn]] void stopNothingLeft(const char* what, const std::string& options) {
  stopRun(std::string("No ") + what + " is left after " + options + ".\n");
}

std::string givenOptions(std::initializer_list<std::pair<const char*, const std::string*>> options) {
  std::string text;
  for (const auto& option : options) {
    if (option.second->empty()) continue;
    if (!text.empty()) text += ", ";
    text += std::string(option.first) + " " + *option.second;
  }
  return text;
}

// Whether each individual of a data set (by seq) counts for the
// Hardy-Weinberg test: every unrelated individual, and the family members
// whose parents are not in their pedigree, as PLINK takes founders.
std::vector<char> foundersBySeq(const DataSet& set) {
  std::vector<char> founder(set.rows.size(), 1);
  if (set.unrelated()) return founder;
  for (const Pedigree& pedigree : set.pedigrees) {
    std::unordered_set<std::string> ids;
    for (const Individual& person : pedigree.members) ids.insert(person.indId);
    for (const Individual& person : pedigree.members) {
      const bool child = ids.count(person.fatherId) != 0 || ids.count(person.motherId) != 0;
      if (child && static_cast<size_t>(person.seq) < founder.size()) founder[static_cast<size_t>(person.seq)] = 0;
    }
  }
  return founder;
}

void printRemoved(const std::string& option, const std::string& value, long count, const char* unit,
                  const char* why) {
  std::cout << option << " " << value << ": " << count << " " << unit << (count == 1 ? "" : "s") << " removed ("
            << why << " " << value << ").\n";
}

// The genotype counts of founders and of the other individuals, and each
// row's missing genotypes among the selected SNPs, from one pass over the
// rows.
struct FilterCounts {
  GenotypeTally founders, others;
  std::vector<char> founder[2];
  std::vector<long> missing[2];
  explicit FilterCounts(size_t markerCount) : founders(markerCount), others(markerCount) {}
  GenotypeTally& groupOf(int set, size_t seq) { return founder[set][seq] ? founders : others; }
  uint64_t all(size_t snp, int code) const { return founders.at(snp, code) + others.at(snp, code); }
  GenotypeTally everyone() const {
    GenotypeTally sum = founders;
    for (size_t i = 0; i < sum.counts.size(); ++i) sum.counts[i] += others.counts[i];
    return sum;
  }
};

FilterCounts countGenotypes(Loaded& test, const std::vector<char>& selected) {
  const size_t m = test.store.markers.size();
  FilterCounts counts(m);
  for (int set : {0, 1}) {
    const DataSet& data = test.cohort.set(set == 1 ? SetKind::kUnrelated : SetKind::kFamily);
    const std::vector<GenotypeRow>& rows = data.rows;
    counts.founder[set] = foundersBySeq(data);
    counts.missing[set].resize(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      counts.missing[set][i] = tallyRow(rows[i].codes, m, 1, counts.groupOf(set, i), selected.data());
    }
  }
  return counts;
}

// --mind: drops the individuals missing more than the threshold of the
// `snps` selected SNPs and takes their codes out of the counts; returns how
// many it dropped.
long filterIndividuals(Loaded& test, const std::string& mind, double threshold, size_t snps,
                       const std::vector<char>& selected, FilterCounts& counts) {
  const size_t m = test.store.markers.size();
  long dropped = 0;
  for (int set : {0, 1}) {
    DataSet& data = test.cohort.set(set == 1 ? SetKind::kUnrelated : SetKind::kFamily);
    const std::vector<GenotypeRow>& rows = data.rows;
    std::vector<char> fails(rows.size(), 0);
    for (size_t i = 0; i < rows.size(); ++i) {
      fails[i] = snps > 0 && static_cast<double>(counts.missing[set][i]) / static_cast<double>(snps) > threshold;
      if (fails[i]) tallyRow(rows[i].codes, m, -1, counts.groupOf(set, i), selected.data());
    }
    dropped += dropIndividuals(test, data, [&](const std::string&, const Individual& person) {
      const size_t seq = static_cast<size_t>(person.seq);
      return seq < fails.size() && fails[seq] == 0;
    });
  }
  printRemoved("--mind", mind, dropped, "individual", "missing rate above");
  if (test.cohort.individuals() == 0) stopRun("No individual is left after --mind " + mind + ".\n");
  return dropped;
}

// --geno, --hwe and --maf, in PLINK's order, on the SNPs in `kept`, which
// keeps those that pass; a SNP is counted against the first filter it fails.
void filterSnps(Loaded& test, const SelectionOptions& o, const FilterThresholds& limits, const FilterCounts& counts,
                std::vector<size_t>& kept) {
  const double people = test.cohort.individuals();
  long genoDropped = 0, hweDropped = 0, mafDropped = 0, infoDropped = 0;
  // Data sets of dosages: frequencies and imputation quality from the
  // dosages, the Hardy-Weinberg test on their nearest calls.
  const DosageMoments moments = dosageMoments(test, limits.maf >= 0 || limits.minfo >= 0);
  std::vector<size_t> passed;
  for (size_t s : kept) {
    if (limits.geno >= 0 && static_cast<double>(counts.all(s, 3)) / people > limits.geno) {
      ++genoDropped;
      continue;
    }
    if (limits.hwe >= 0) {
      const auto f = [&](int code) { return static_cast<long>(counts.founders.at(s, code)); };
      if (hardyWeinbergP(f(1), f(0), f(2)) < limits.hwe) {
        ++hweDropped;
        continue;
      }
    }
    if (limits.maf >= 0) {
      const double called = static_cast<double>(counts.all(s, 0) + counts.all(s, 1) + counts.all(s, 2));
      double f = called > 0 ? static_cast<double>(counts.all(s, 1) + 2 * counts.all(s, 2)) / (2 * called) : 0;
      if (!moments.called.empty()) f = moments.frequency(s);
      if (std::min(f, 1 - f) < limits.maf) {
        ++mafDropped;
        continue;
      }
    }
    if (limits.minfo >= 0 && !moments.called.empty() && moments.info(s) < limits.minfo) {
      ++infoDropped;
      continue;
    }
    passed.push_back(s);
  }
  if (limits.geno >= 0) printRemoved("--geno", o.geno, genoDropped, "snp", "missing rate above");
  if (limits.hwe >= 0) printRemoved("--hwe", o.hwe, hweDropped, "snp", "Hardy-Weinberg exact p below");
  if (limits.maf >= 0) printRemoved("--maf", o.maf, mafDropped, "snp", "minor allele frequency below");
  if (limits.minfo >= 0) printRemoved("--minfo", o.minfo, infoDropped, "snp", "imputation quality INFO below");
  if (passed.empty()) {
    stopNothingLeft("snp", givenOptions({{"--geno", &o.geno}, {"--hwe", &o.hwe}, {"--maf", &o.maf}, {"--minfo", &o.minfo}}));
  }
  kept = std::move(passed);
}

// The filters on the individuals left and the SNPs in `kept`, from one
// counting pass; the allele counts are set from that pass when `recount`
// (individuals were dropped after loading) or --mind dropped any.
void applyQualityFilters(Loaded& test, const SelectionOptions& options, const FilterThresholds& limits,
                         std::vector<size_t>& kept, bool recount) {
  std::vector<char> selected(test.store.markers.size(), 0);
  for (size_t s : kept) selected[s] = 1;
  FilterCounts counts = countGenotypes(test, selected);
  if (limits.mind >= 0 && filterIndividuals(test, options.mind, limits.mind, kept.size(), selected, counts) > 0) {
    recount = true;
  }
  if (recount) setAlleleCounts(test, counts.everyone());
  if (limits.filtersSnps()) filterSnps(test, options, limits, counts, kept);
}

// The markers are read again, keeping those the selection admits; the
// streams then read only theirs.
void selectStreamedSnps(GenotypeStore& store, const SelectionOptions& o, SnpSelection& snpSelection) {
  if (!snpSelection.active()) return;
  MarkerStream& markers = *store.markerStream();
  if (store.snpsSelectedOnLoad) {
    snpSelection.report();
    return;
  }
  markers.select([&](const Marker& m) { return snpSelection.admit(m); });
  snpSelection.report();
  if (markers.size() == 0) {
    stopNothingLeft("snp", givenOptions({{"--extract", &o.extractFile}, {"--exclude", &o.excludeFile},
                                         {"--chr", &o.chrList}, {"--from-bp", &o.fromBp}, {"--to-bp", &o.toBp}}));
  }
  for (SetKind kind : {SetKind::kFamily, SetKind::kUnrelated}) {
    if (GenotypeStream* stream = store.stream(kind)) stream->keepSnps(markers.keptRuns());
  }
}

}  // namespace

void applySelections(Cohort& cohort, GenotypeStore& store, const SelectionOptions& o,
                     SampleSelection& sampleSelection, SnpSelection& snpSelection) {
  Loaded test{cohort, store};
  bool recount = false;
  if (sampleSelection.active()) {
    long dropped = 0;
    for (DataSet* set : {&cohort.family, &cohort.unrelated}) {
      if (set->selectedWhileReading) continue;
      dropped += dropIndividuals(test, *set, [&](const std::string& famId, const Individual& person) {
        return sampleSelection.admit(famId, person.indId);
      });
    }
    sampleSelection.report();
    if (cohort.individuals() == 0) {
      stopNothingLeft("individual", givenOptions({{"--keep", &o.keepFile}, {"--remove", &o.removeFile}}));
    }
    recount = dropped > 0;
  }
  if (store.streaming()) {
    selectStreamedSnps(store, o, snpSelection);
    return;
  }
  std::vector<Marker>& markers = store.markers;
  std::vector<size_t> kept;
  for (size_t s = 0; s < markers.size(); ++s) {
    if (!snpSelection.active() || store.snpsSelectedOnLoad || snpSelection.admit(markers[s])) {
      kept.push_back(s);
    }
  }
  if (snpSelection.active()) {
    snpSelection.report();
    if (kept.empty()) {
      stopNothingLeft("snp", givenOptions({{"--extract", &o.extractFile}, {"--exclude", &o.excludeFile},
                                           {"--chr", &o.chrList}, {"--from-bp", &o.fromBp}, {"--to-bp", &o.toBp}}));
    }
  }
  const FilterThresholds limits(o);
  if (limits.any()) {
    applyQualityFilters(test, o, limits, kept, recount);
  } else if (recount) {
    setAlleleCounts(test, tallyAll(test));
  }
  if (kept.size() < markers.size()) keepSnps(test, kept);
}

void leaveOut(Cohort& cohort, GenotypeStore& store, SetKind kind, const std::function<bool(const Individual&)>& stays,
              const std::vector<size_t>& keptSnps) {
  Loaded test{cohort, store};
  dropIndividuals(test, cohort.set(kind), [&](const std::string&, const Individual& person) { return stays(person); });
  if (keptSnps.size() < store.markers.size()) keepSnps(test, keptSnps);
  setAlleleCounts(test, tallyAll(test));
}

void recountAlleles(Cohort& cohort, GenotypeStore& store) {
  Loaded test{cohort, store};
  setAlleleCounts(test, tallyAll(test));
}

std::optional<BgenRegion> bgenRegion(const SelectionOptions& o) {
  if (o.chrList.empty() || o.chrList.find_first_of(",-") != std::string::npos) return std::nullopt;
  BgenRegion region;
  region.chr = o.chrList;
  const int code = chromosomeCode(o.chrList);
  region.sameChromosome = [code, asked = o.chrList](std::string_view name) {
    return sameChromosome(code, asked, chromosomeCode(name), name);
  };
  const long from = o.fromBp.empty() ? 0 : leadingLong(o.fromBp);
  const long to = o.toBp.empty() ? -1 : leadingLong(o.toBp);
  region.from = static_cast<uint32_t>(std::max(0L, std::min(from, long{UINT32_MAX})));
  if (to >= 0) region.to = static_cast<uint32_t>(std::min(to, long{UINT32_MAX}));
  return region;
}

}  // namespace ombra
