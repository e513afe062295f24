// The genotypes of a data set read from its file as the run goes: a set of
// SNPs at a time, into rows of the genotype store's layout (core/Records.h), so that
// only the SNPs being worked on are ever held in memory.
#ifndef OMBRA_FORMATS_GENOTYPESTREAM_H
#define OMBRA_FORMATS_GENOTYPESTREAM_H

#include <functional>
#include <memory>
#include <vector>

#include "formats/GenotypeSource.h"
#include "formats/MarkerStream.h"

namespace ombra {

class GenotypeStream {
 public:
  explicit GenotypeStream(std::unique_ptr<GenotypeSource> source);

  // The source's markers, in file order.
  const std::vector<Marker>& markers() const { return source->markers(); }

  // Keeps the SNPs `kept` of the file; from then on SNP k means the k-th
  // kept one.
  void keepSnps(SnpRuns kept);
  // The SNPs of the file that the run holds, in the run's order (any order:
  // another data set's); keepSnps then picks among them. Empty: every SNP,
  // in file order.
  void matchSnps(std::vector<size_t> fileSnps) { matched = std::move(fileSnps); }
  // Per SNP of the file: its codes 0 and 2 swap, so that they count the
  // allele another data set counts.
  void swapAlleles(std::vector<bool> swapped);
  // Whether the source reads dosages, which then fill the rows' dosages.
  bool hasDosages() const { return source->hasDosages(); }
  // Whether it reads the dosages' variances too, which fill the rows'
  // variances once the rows have them: at the first that is not 0 the
  // stream calls `uncertain`, which gives them (attachVariances).
  bool hasVariances() const { return source->hasDosages() && source->givesVariances(); }
  void whenUncertain(std::function<void()> uncertain) { giveVariances = std::move(uncertain); }
  // The variance rows of the individuals of the file (in file order; null
  // for one left out), zeroed.
  void attachVariances(const std::vector<GenotypeRow>& rowOfIndividual);
  // The row that receives the codes (and dosages) of each individual of the
  // file, in file order; codes null for an individual left out of the run.
  void attachRows(const std::vector<GenotypeRow>& rowOfIndividual);

  // Writes the codes of SNPs snps[0] .. snps[count - 1] (ascending, among
  // the kept ones) into slots 0 .. count - 1 of every attached row; unused
  // low slots of the last byte become 0. A file that ends early stops the
  // run with a message naming it and the SNP (the first such SNP, however
  // many threads). Up to `threads` threads decode, where the source can.
  void fill(const size_t* snps, size_t count, size_t threads = 1);

 private:
  // File SNPs first .. first + length - 1, for the staged slots from `slot` on.
  struct Run {
    size_t first;
    size_t length;
    size_t slot;
  };
  // Moves `count` (at most a block's) SNP columns staged in `staged` into
  // the rows from slot `firstSlot` (a multiple of 4) on, individuals shared
  // between `threads`; their variances too, once the rows hold them.
  void place(size_t count, size_t firstSlot, size_t threads);
  // Whether the rows take the variances of `count` staged columns: once
  // some is not 0, the rows are given them (before the threads of place()).
  bool holdVariances(size_t count);
  // Reads a run into the staged slots, swapping the SNPs that swap, through
  // the source's buffers of `reader` (none: its own).
  void readRun(const Run& run, const size_t* reader);
  // Reads `runs`, in their order on one thread, else split between threads.
  void readRuns(size_t threads);
  // The runs that stage the file SNPs fileSnps[0..count) in slots
  // 0..count-1, in increasing file order.
  void planMatched(const std::vector<size_t>& fileSnps);
  void swapColumn(unsigned char* column) const;
  void swapDosages(uint16_t* column) const;
  // Individuals per thread of place(): whole bytes of codes.
  size_t placeShare(size_t threads) const;
  // Points the rows of individuals left out at spare rows of `snps` SNPs,
  // one for each `share` of individuals.
  void prepareSpare(size_t snps, size_t share);

  std::unique_ptr<GenotypeSource> source;
  SnpRuns keptSnps;
  bool selected = false;  // false: every SNP is kept
  std::vector<size_t> matched;       // per SNP of the run before keepSnps: its file SNP; empty: itself
  std::vector<size_t> chunkSnps;     // scratch of fill: the file SNPs of a chunk
  std::vector<std::pair<size_t, size_t>> order;  // scratch of planMatched: (file SNP, slot)
  std::vector<Run> runs;             // scratch of fill: the runs of a chunk
  std::vector<bool> swapsAlleles;    // per file SNP; empty: none swaps
  std::vector<GenotypeRow> targets;        // per individual of the file: its row, or the spare row
  std::vector<unsigned char> spare;  // receives the codes of individuals left out
  std::vector<unsigned char> staged; // SNP-major columns on their way into the rows
  std::vector<uint16_t> stagedDosages;  // the same, for a source with dosages
  std::vector<uint16_t> spareDosages;
  std::vector<uint16_t> stagedVariances;  // the same, for a source giving variances
  std::vector<uint16_t> spareVariances;
  size_t spareShare = 0;             // the share the spare rows were made for
  bool variancesAttached = false;
  std::function<void()> giveVariances;
  std::vector<char> leftOut;         // per individual of the file
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_GENOTYPESTREAM_H
