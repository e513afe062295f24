// The records of a run: markers, individuals and their pedigrees, packed
// genotype rows, and the data set that holds them.
//
// Genotype rows: two bits per individual and SNP, four SNPs per byte with
// the first in the top bits (slot 0 = bits 7-6). Code = copies of `allele2`
// (0, 1, 2), 3 = missing. Unused low slots of a row's last byte are 0. A row
// of M markers has rowBytes(M) bytes. Rows are owned by the genotype store
// that made them (formats/GenotypeStore.h); a data set only points at them.
#ifndef OMBRA_CORE_RECORDS_H
#define OMBRA_CORE_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Chromosome.h"

struct Marker {
  std::string chr;           // as written, which every output prints
  std::string snpId;
  int position = 0;
  int chrCode = ombra::kOtherChromosome;  // the code of `chr`, kept by setChromosome
  std::string allele1;       // "" while unknown
  std::string allele2;       // "" while unknown
  double allele2Count = 0;   // copies of allele2 counted so far, or the .bim's 7th column

  void setChromosome(std::string_view name) {
    chr = name;
    chrCode = ombra::chromosomeCode(name);
  }
};

// Sex as a .fam or .ped sex field gives it: 1 male, 2 female, anything else
// unknown.
enum class Sex : unsigned char { kUnknown, kMale, kFemale };
inline Sex sexOfField(std::string_view field) {
  return field == "1" ? Sex::kMale : field == "2" ? Sex::kFemale : Sex::kUnknown;
}

// One individual of a data set.
struct Individual {
  std::string indId;
  std::string fatherId;
  std::string motherId;
  std::string sexField;     // as written, which the recodings print
  std::string trait;        // as written; compared as text
  double traitValue = 0;    // leading number of `trait`
  int seq = 0;              // position of the individual's row in its data set's row list
  Sex sex = Sex::kUnknown;  // of sexField
  std::vector<double> covariates;  // per covariate column; not-a-number where missing
};

// The individuals that share one family ID, in file order.
struct Pedigree {
  std::string famId;
  std::vector<Individual> members;
};

// Dosages of imputed data: units of 1/kDosageOne copy of allele2, so that
// 0, 1 and 2 copies are exact and a 16-bit probability's rounding (1/65535)
// is kept to within half a unit; kMissingDosage where the sample has none.
constexpr uint16_t kDosageOne = 16384;
constexpr uint16_t kMissingDosage = 0xFFFF;
// The uncertainty of a dosage read from genotype probabilities, for
// IMPUTE's info: the variance E[g^2] - E[g]^2 of the copies (at most 1), in
// units of 1/kVarianceOne, within 1/131070 of it.
constexpr uint16_t kVarianceOne = 0xFFFF;
inline uint16_t varianceUnits(double variance) {
  const double held = variance > 0 ? (variance < 1 ? variance : 1.0) : 0.0;
  return static_cast<uint16_t>(held * kVarianceOne + 0.5);
}
inline double varianceOf(uint16_t units) { return static_cast<double>(units) / kVarianceOne; }

// One packed genotype row.
struct GenotypeRow {
  int seq = 0;
  unsigned char* codes = nullptr;
  int fileSeq = 0;  // the individual's position in its data set's file, kept when others are dropped
  // A data set of imputed data also holds a dosage per SNP slot, beside
  // the codes (which then hold the nearest calls); null for hard calls.
  uint16_t* dosages = nullptr;
  // Beside dosages read from genotype probabilities, when IMPUTE's info is
  // wanted: each slot's variance (kVarianceOne units); null otherwise, and
  // while every one would be 0 (see DataSet::probabilities).
  uint16_t* variances = nullptr;
};

// The value of a dosage in copies of allele2.
inline double dosageCopies(uint16_t dosage) { return static_cast<double>(dosage) / kDosageOne; }
// The call nearest to a dosage (a dosage halfway between two calls takes
// the upper); 3 where it is missing.
inline unsigned nearestCode(uint16_t dosage) {
  return dosage == kMissingDosage ? 3u : (dosage + kDosageOne / 2u) / kDosageOne;
}
// The other allele's dosage; a missing one stays missing.
inline uint16_t otherAlleleDosage(uint16_t dosage) {
  return dosage == kMissingDosage ? dosage : static_cast<uint16_t>(2 * kDosageOne - dosage);
}

enum class SetKind { kFamily, kUnrelated };

// One data set: the family set (pedigrees of related individuals) or the
// unrelated set (every individual a pedigree of its own).
struct DataSet {
  explicit DataSet(SetKind setKind) : kind(setKind) {}
  SetKind kind;
  std::vector<Pedigree> pedigrees;
  std::vector<GenotypeRow> rows;  // by seq
  int size = 0;                   // individuals read
  long markerCount = 0;           // markers in the list when it was read: its rows fit that many
  bool selectedWhileReading = false;  // the sample selection was applied line by line
  // Its dosages come from genotype probabilities whose variances are held:
  // a row without them holds only certain calls (variance 0) at its slots.
  bool probabilities = false;

  bool unrelated() const { return kind == SetKind::kUnrelated; }
  const char* name() const { return unrelated() ? "unrelated" : "family"; }
};

// The two data sets of a run. Analysis order: the family set's pedigrees
// and their members, then the unrelated set's; an individual's place in that
// order is its analysis index.
struct Cohort {
  DataSet family{SetKind::kFamily};
  DataSet unrelated{SetKind::kUnrelated};

  DataSet& set(SetKind kind) { return kind == SetKind::kUnrelated ? unrelated : family; }
  const DataSet& set(SetKind kind) const { return kind == SetKind::kUnrelated ? unrelated : family; }
  int individuals() const { return family.size + unrelated.size; }

  // Calls visit(famId, person, set) for every individual in analysis order.
  template <typename Visit>
  void forEachIndividual(Visit visit) {
    for (DataSet* data : {&family, &unrelated}) {
      for (Pedigree& pedigree : data->pedigrees) {
        for (Individual& person : pedigree.members) visit(pedigree.famId, person, *data);
      }
    }
  }
  template <typename Visit>
  void forEachIndividual(Visit visit) const {
    for (const DataSet* data : {&family, &unrelated}) {
      for (const Pedigree& pedigree : data->pedigrees) {
        for (const Individual& person : pedigree.members) visit(pedigree.famId, person, *data);
      }
    }
  }
};

// How trait and genotypes are adjusted for the components. kIntercept: a
// constant column beside the scores, and a missing genotype at the mean
// dosage of the called ones, so that no statistic depends on which allele is
// counted. kLegacy: the scores alone, and a missing genotype at the allele2
// frequency, as earlier versions did (to reproduce stored results).
enum class Adjustment { kIntercept, kLegacy };

// The 2-bit code of SNP `snp` in a packed row.
inline int genotypeCode(const unsigned char* row, size_t snp) { return (row[snp / 4] >> (2 * (3 - snp % 4))) & 3; }

// Bytes of a genotype row holding `markerCount` SNPs.
inline int rowBytes(long markerCount) { return static_cast<int>((markerCount + 3) / 4); }

#endif  // OMBRA_CORE_RECORDS_H
