#include "design/MendelErrors.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <unordered_map>

#include "core/Chromosome.h"
#include "core/RunEnd.h"
#include "design/Selections.h"

namespace ombra {

namespace {

bool knownParent(const std::string& id) { return !id.empty() && id != "0"; }

const char* const kMendelOptionsHint = "(--mendel PREFIX lists them, --set-me-missing sets them missing.)\n";

// The family set's individuals by seq (file order).
std::vector<const Individual*> individualsBySeq(const DataSet& family) {
  std::vector<const Individual*> bySeq(family.rows.size(), nullptr);
  for (const Pedigree& pedigree : family.pedigrees) {
    for (const Individual& person : pedigree.members) {
      if (person.seq >= 0 && static_cast<size_t>(person.seq) < bySeq.size()) bySeq[person.seq] = &person;
    }
  }
  return bySeq;
}

// Codes by (father * 16 + mother * 4 + child): one table for calls with two
// parents, one for a son's X.
struct CodeTables {
  uint8_t both[64] = {};
  uint8_t sonOnX[64] = {};
  CodeTables() {
    for (int f = 0; f < 4; ++f) {
      for (int m = 0; m < 4; ++m) {
        for (int c = 0; c < 4; ++c) {
          both[f * 16 + m * 4 + c] = static_cast<uint8_t>(mendelCode(f, m, c, false));
          sonOnX[f * 16 + m * 4 + c] = static_cast<uint8_t>(mendelCode(f, m, c, true));
        }
      }
    }
  }
};

// Four SNPs at a time: per pair of parents' bytes, the child codes that
// would be errors, one bit per (slot, code) as 4 * slot + code; per child
// byte, its codes the same way. A byte whose bits meet holds an error.
struct ByteTables {
  std::vector<uint16_t> errorCodes = std::vector<uint16_t>(1 << 16, 0);
  uint16_t childCodes[256] = {};
  explicit ByteTables(const CodeTables& codes) {
    const auto slot = [](unsigned byte, int k) { return (byte >> (2 * (3 - k))) & 3u; };
    for (unsigned b = 0; b < 256; ++b) {
      for (int k = 0; k < 4; ++k) childCodes[b] |= static_cast<uint16_t>(1u << (4 * k + slot(b, k)));
    }
    for (unsigned f = 0; f < 256; ++f) {
      for (unsigned m = 0; m < 256; ++m) {
        uint16_t bits = 0;
        for (int k = 0; k < 4; ++k) {
          for (unsigned c = 0; c < 4; ++c) {
            if (codes.both[slot(f, k) * 16 + slot(m, k) * 4 + c]) bits |= static_cast<uint16_t>(1u << (4 * k + c));
          }
        }
        errorCodes[(f << 8) | m] = bits;
      }
    }
  }
};

void setMissing(unsigned char* row, size_t snp) { row[snp / 4] |= static_cast<unsigned char>(3 << (2 * (3 - snp % 4))); }

}  // namespace

int mendelCode(int father, int mother, int child, bool sonOnX) {
  if (sonOnX) {
    if (child == 2 && mother == 0) return 9;
    if (child == 0 && mother == 2) return 10;
    return 0;
  }
  switch (child) {
    case 1:
      if (father == 0 && mother == 0) return 1;
      if (father == 2 && mother == 2) return 2;
      return 0;
    case 0:
      if (father == 2 && mother == 2) return 5;
      if (father == 2) return 3;
      if (mother == 2) return 4;
      return 0;
    case 2:
      if (father == 0 && mother == 0) return 8;
      if (father == 0) return 6;
      if (mother == 0) return 7;
      return 0;
    default:
      return 0;
  }
}

bool implicatesFather(int code) { return code == 1 || code == 2 || code == 3 || code == 6; }
bool implicatesMother(int code) { return code == 1 || code == 2 || code == 4 || code == 7 || code == 9 || code == 10; }
bool checkedChromosome(int chrCode) { return chrCode != kChromosomeY && chrCode != kChromosomeMT; }

Trios findTrios(const DataSet& family) {
  Trios found;
  std::unordered_map<std::string, std::unordered_map<std::string, const Individual*>> byId;  // famId -> IID
  for (const Pedigree& pedigree : family.pedigrees) {
    auto& members = byId[pedigree.famId];
    for (const Individual& person : pedigree.members) members.emplace(person.indId, &person);
  }
  std::unordered_map<const Individual*, const std::string*> famIdOf;
  for (const Pedigree& pedigree : family.pedigrees) {
    for (const Individual& person : pedigree.members) famIdOf.emplace(&person, &pedigree.famId);
  }
  std::unordered_map<uint64_t, size_t> familyOf;  // (father seq + 1, mother seq + 1)
  std::vector<std::vector<size_t>> childrenOf;
  std::vector<const Individual*> children;
  for (const Individual* person : individualsBySeq(family)) {
    if (person == nullptr) continue;
    const std::string& famId = *famIdOf[person];
    const auto& members = byId[famId];
    auto parent = [&](const std::string& id) -> const Individual* {
      if (!knownParent(id)) return nullptr;
      auto at = members.find(id);
      return at == members.end() ? nullptr : at->second;
    };
    const Individual* father = parent(person->fatherId);
    const Individual* mother = parent(person->motherId);
    if (father == nullptr && mother == nullptr) continue;
    const uint64_t key = (static_cast<uint64_t>(father ? father->seq + 1 : 0) << 32) |
                         static_cast<uint64_t>(mother ? mother->seq + 1 : 0);
    auto [at, added] = familyOf.emplace(key, found.families.size());
    if (added) {
      found.families.push_back(NuclearFamily{&famId, father, mother, 0});
      childrenOf.emplace_back();
    }
    found.families[at->second].children += 1;
    childrenOf[at->second].push_back(children.size());
    children.push_back(person);
  }
  for (size_t f = 0; f < childrenOf.size(); ++f) {
    for (size_t c : childrenOf[f]) found.trios.push_back(Trio{children[c], f});
  }
  return found;
}

MendelScan scanMendelErrors(const DataSet& family, const std::vector<Marker>& markers, const Trios& trios,
                            bool listErrors) {
  static const CodeTables tables;
  static const ByteTables bytesTables(tables);
  MendelScan scan;
  scan.perSnp.assign(markers.size(), 0);
  scan.perTrio.assign(trios.trios.size(), 0);
  // The rows of each trio; a parent absent from the set is a row of missing
  // calls.
  const std::vector<unsigned char> noCalls(static_cast<size_t>(rowBytes(static_cast<long>(markers.size()))), 0xFF);
  struct Rows {
    const unsigned char *child, *father, *mother;
    bool male;
  };
  std::vector<Rows> rows;
  for (const Trio& trio : trios.trios) {
    const NuclearFamily& parents = trios.families[trio.family];
    const auto rowOf = [&](const Individual* person) {
      return person ? family.rows[static_cast<size_t>(person->seq)].codes : noCalls.data();
    };
    rows.push_back(Rows{rowOf(trio.child), rowOf(parents.father), rowOf(parents.mother), trio.child->sex == Sex::kMale});
  }
  // Per byte of the rows: whether its four slots are SNPs checked by the
  // autosomes' table (else each SNP is looked at alone).
  const size_t bytes = noCalls.size();
  std::vector<char> plain(bytes, 1);
  for (size_t s = 0; s < 4 * bytes; ++s) {
    const int chr = s < markers.size() ? markers[s].chrCode : kChromosomeY;
    if (s < markers.size() && checkedChromosome(chr)) ++scan.snpsChecked;
    if (!checkedChromosome(chr) || chr == kChromosomeX) plain[s / 4] = 0;
  }
  const auto record = [&](size_t s, size_t t, uint8_t code) {
    if (listErrors) scan.errors.push_back(MendelError{static_cast<uint32_t>(s), static_cast<uint32_t>(t), code});
    ++scan.total;
    ++scan.perSnp[s];
    ++scan.perTrio[t];
  };
  for (size_t t = 0; t < rows.size(); ++t) {
    const Rows& r = rows[t];
    for (size_t b = 0; b < bytes; ++b) {
      if (plain[b] && !(bytesTables.errorCodes[(r.father[b] << 8) | r.mother[b]] & bytesTables.childCodes[r.child[b]])) {
        continue;
      }
      for (size_t s = 4 * b; s < 4 * b + 4 && s < markers.size(); ++s) {
        const int chr = markers[s].chrCode;
        if (!checkedChromosome(chr)) continue;
        // A male's heterozygous X call, which PLINK takes as missing, never
        // makes an error: only homozygous parents and children do.
        const int index = genotypeCode(r.father, s) * 16 + genotypeCode(r.mother, s) * 4 + genotypeCode(r.child, s);
        const uint8_t code = (chr == kChromosomeX && r.male ? tables.sonOnX : tables.both)[index];
        if (code != 0) record(s, t, code);
      }
    }
  }
  // The reports list them by SNP, then trio.
  std::sort(scan.errors.begin(), scan.errors.end(), [](const MendelError& a, const MendelError& b) {
    return a.snp != b.snp ? a.snp < b.snp : a.trio < b.trio;
  });
  return scan;
}

long setMendelErrorsMissing(DataSet& family, const Trios& trios, const MendelScan& scan) {
  long calls = 0;
  // Every error was found on the calls as read, before any was set missing.
  for (const MendelError& error : scan.errors) {
    const Trio& trio = trios.trios[error.trio];
    const NuclearFamily& parents = trios.families[trio.family];
    std::vector<const Individual*> involved{trio.child};
    if (implicatesFather(error.code)) involved.push_back(parents.father);
    if (implicatesMother(error.code)) involved.push_back(parents.mother);
    for (const Individual* person : involved) {
      unsigned char* row = family.rows[static_cast<size_t>(person->seq)].codes;
      if (genotypeCode(row, error.snp) == 3) continue;
      setMissing(row, error.snp);
      ++calls;
    }
  }
  return calls;
}

MendelExclusions mendelExclusions(const DataSet& family, const Trios& trios, const MendelScan& scan,
                                  double maxChildRate, double maxSnpRate) {
  // PLINK's bounds: whole numbers of errors, rounded down from the rate
  // times the count, with a margin against the rate's rounding.
  const double margin = 1 + std::ldexp(1.0, -44);
  MendelExclusions out;
  out.snpOut.assign(scan.perSnp.size(), 0);
  out.individualOut.assign(family.rows.size(), 0);
  const auto snpBound = static_cast<uint64_t>(maxSnpRate * margin * static_cast<double>(trios.trios.size()));
  for (size_t s = 0; s < scan.perSnp.size(); ++s) {
    if (scan.perSnp[s] > snpBound) {
      out.snpOut[s] = 1;
      ++out.snps;
    }
  }
  const auto childBound = static_cast<uint64_t>(maxChildRate * margin * static_cast<double>(scan.snpsChecked));
  if (childBound >= scan.snpsChecked) return out;
  for (size_t t = 0; t < trios.trios.size(); ++t) {
    if (scan.perTrio[t] <= childBound) continue;
    const NuclearFamily& parents = trios.families[trios.trios[t].family];
    for (const Individual* person : {trios.trios[t].child, parents.father, parents.mother}) {
      if (person == nullptr || out.individualOut[static_cast<size_t>(person->seq)]) continue;
      out.individualOut[static_cast<size_t>(person->seq)] = 1;
      ++out.individuals;
    }
  }
  return out;
}

namespace {

bool holdsDosages(const DataSet& set) {
  for (const GenotypeRow& row : set.rows) {
    if (row.dosages != nullptr) return true;
  }
  return false;
}

// --me: the SNPs and individuals over the bounds leave the run.
void leaveOutForMendel(Cohort& cohort, GenotypeStore& store, const MendelExclusions& out) {
  std::cout << "--me: " << out.snps << (out.snps == 1 ? " snp" : " snps") << " and " << out.individuals
            << (out.individuals == 1 ? " individual" : " individuals") << " left out.\n";
  if (out.snps == 0 && out.individuals == 0) return;
  std::vector<size_t> kept;
  for (size_t s = 0; s < out.snpOut.size(); ++s) {
    if (!out.snpOut[s]) kept.push_back(s);
  }
  if (kept.empty()) stopRun("No snp is left after --me.\n");
  leaveOut(cohort, store, SetKind::kFamily,
           [&](const Individual& person) { return !out.individualOut[static_cast<size_t>(person.seq)]; }, kept);
  if (cohort.individuals() == 0) stopRun("No individual is left after --me.\n");
}

}  // namespace

std::string checkMendelErrors(Cohort& cohort, GenotypeStore& store, const MendelOptions& options) {
  DataSet& family = cohort.family;
  if (family.pedigrees.empty()) {
    if (options.any()) std::cout << "Mendel checks: there is no family set to check.\n";
    return std::string();
  }
  if (holdsDosages(family)) {
    if (options.any()) {
      std::cout << "Mendel checks: the family set holds dosages, not calls; it is not checked.\n";
    }
    return std::string();
  }
  Trios trios = findTrios(family);
  if (trios.trios.empty()) {
    if (options.any()) std::cout << "Mendel checks: no individual of the family set has a parent in it.\n";
    return std::string();
  }
  const bool listErrors = !options.reportPrefix.empty() || options.setMissing;
  MendelScan scan = scanMendelErrors(family, store.markers, trios, listErrors);
  // A run without the Mendel options keeps the standard output it has always
  // had: the count goes to its log.
  MendelCounts counts;
  counts.add(store.markers, scan);
  const std::string summary = mendelSummary(trios, counts);
  if (!options.any()) return scan.total > 0 ? summary + kMendelOptionsHint : std::string();
  std::cout << summary;
  if (!options.reportPrefix.empty()) writeMendelReports(options.reportPrefix, family, store.markers, trios, scan);
  if (options.exclude) {
    leaveOutForMendel(cohort, store, mendelExclusions(family, trios, scan, options.maxChildRate, options.maxSnpRate));
    trios = findTrios(family);
    scan = scanMendelErrors(family, store.markers, trios, listErrors);
  }
  if (options.setMissing) {
    const long calls = setMendelErrorsMissing(family, trios, scan);
    std::cout << "--set-me-missing: " << calls << (calls == 1 ? " call" : " calls") << " of "
              << scan.errors.size() << " Mendel " << (scan.errors.size() == 1 ? "error" : "errors")
              << " set missing.\n";
    if (calls > 0) recountAlleles(cohort, store);
  }
  return std::string();
}

MendelWatch::MendelWatch(const Cohort& cohort, GenotypeStore& store) {
  const GenotypeStream* calls = store.stream(SetKind::kFamily);
  if (calls == nullptr || calls->hasDosages()) return;
  trios = findTrios(cohort.family);
  if (trios.trios.empty()) return;
  store.watchWindows([this, &store](const Cohort& filled, size_t) {
    counts.add(store.markers, scanMendelErrors(filled.family, store.markers, trios, false));
  });
}

std::string MendelWatch::logLine() const {
  return counts.errors > 0 ? mendelSummary(trios, counts) + kMendelOptionsHint : std::string();
}

}  // namespace ombra
