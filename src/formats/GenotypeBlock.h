// A block of SNPs for the tested individuals, owned whole: each entry's
// values (calls or dosages in copies of allele2, a missing one at its SNP's
// fill value), each SNP's fill value and marker (copies), which SNPs of the
// run it holds, and the per-SNP sums the test takes from the values.
//
// A block is read from the genotype store's rows and keeps nothing of them:
// the individuals are named by data set and seq (GenotypeEntry), and each
// read looks their rows up afresh. So a stage that frees or refills the rows
// (a streamed run's next window, the rows made again for a wider one) leaves
// every block whole, and a block read once (a resident block) stays valid
// for as long as its owner keeps it.
//
// It lives beside the store, below the tested sample (design/) and the
// test (association/), which both take it.
#ifndef OMBRA_FORMATS_GENOTYPEBLOCK_H
#define OMBRA_FORMATS_GENOTYPEBLOCK_H

#include <cstddef>
#include <vector>

#include "core/Records.h"
#include "formats/GenotypeStore.h"

namespace ombra {

// The SNPs of the widest block.
constexpr size_t kWidestBlock = 256;

// A tested individual's genotypes: its data set and its seq there.
struct GenotypeEntry {
  SetKind set = SetKind::kFamily;
  int seq = 0;
};

struct GenotypeBlock {
  std::vector<size_t> snps;      // per SNP: its index among the run's SNPs
  size_t width = 0;              // columns per entry: the SNPs, then zero columns
  size_t entries = 0;
  bool dosages = false;          // some entry's values are dosages
  std::vector<double> values;    // entries x width, row-major: an entry's SNPs side by side
  std::vector<double> fill;      // per SNP: the value of a missing genotype
  std::vector<Marker> markers;   // per SNP
  std::vector<double> sums;      // per column: the sum of its values, added in entry order
  std::vector<double> squares;   // per column: the sum of its values' squares, in entry order (with dosages)
  std::vector<size_t> missing;   // per SNP: entries whose genotype or dosage is missing (filled)
  bool countMissing = true;      // set by the owner: whether `missing` is counted (else left at 0, but for
                                 // probabilities, whose INFO needs it)
  std::vector<char> wholeCalls;  // per column: whether every called value is a whole number of copies
  // Every entry of dosages holds probabilities' (DataSet::probabilities).
  bool probabilities = false;
  std::vector<double> variances;  // per column, with probabilities: the sum of the called entries' variances

  // The imputation quality of SNP j over the entries (with dosages): IMPUTE's
  // info with probabilities (a filled entry knowing nothing), else MACH's
  // r-squared of the values.
  double imputationInfo(size_t j) const;

  size_t count() const { return snps.size(); }
  // Entries with a called genotype or a dosage at SNP j.
  size_t called(size_t j) const { return entries - missing[j]; }
  const double* row(size_t entry) const { return values.data() + entry * width; }
};

// SNPs firstSnp .. firstSnp + count - 1 of the run for `entries`, into
// `block` (whose storage is reused): `width` columns (at most
// kWidestBlock), count at most width, zero beyond count. The store's rows must hold the SNPs (a streamed run's
// window), firstSnp's slot in them and `width` being multiples of 4.
void readBlock(const GenotypeStore& store, const Cohort& cohort, const std::vector<GenotypeEntry>& entries,
               size_t firstSnp, size_t count, size_t width, GenotypeBlock& block);

// The SNPs `snps` of the run (any of them, in the order given) for
// `entries`, into `block`: one column each, the same numbers as a block of
// readBlock that holds them. A streamed run reads them into the rows' first
// slots, so a window read before must be tested before this is called.
void readSnps(GenotypeStore& store, Cohort& cohort, const std::vector<GenotypeEntry>& entries,
              const std::vector<size_t>& snps, GenotypeBlock& block);

// The same as a block of its own, to hold beside the stream for a whole
// test.
GenotypeBlock residentBlock(GenotypeStore& store, Cohort& cohort, const std::vector<GenotypeEntry>& entries,
                            const std::vector<size_t>& snps);

}  // namespace ombra

#endif  // OMBRA_FORMATS_GENOTYPEBLOCK_H
