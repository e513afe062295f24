// The genotypes of a run: the marker list, the packed rows of both data
// sets (owned here), the value that stands in for a missing genotype, and,
// for a streamed run, the streams that fill the rows as the run goes.
//
// Streaming: when every data set is a SNP-major file (PLINK 1 fileset,
// VCF/BCF), a row holds only the SNPs being worked on: first the
// components' SNPs, then one window of the test's SNPs after another, and
// `markers` holds the markers of the rows' SNPs. The numbers are those of a
// run that loads every genotype: the same codes, mean dosages counted over
// the same individuals, the same blocks.
//
// Ownership: the store owns every row (the data sets' GenotypeRow only
// point at them) and frees or remakes them (releaseRows, holdStreamedRows);
// a window's refill overwrites them. Nothing outside the store and the
// loaders keeps a pointer into a row: the tested sample names its
// individuals by data set and seq, and the test takes owned copies of the
// genotypes it needs, a block at a time (formats/GenotypeBlock.h).
#ifndef OMBRA_FORMATS_GENOTYPESTORE_H
#define OMBRA_FORMATS_GENOTYPESTORE_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MemoryClass.h"
#include "core/Records.h"
#include "formats/GenotypeSource.h"
#include "formats/GenotypeStream.h"
#include "formats/MarkerReader.h"
#include "formats/MarkerStream.h"

namespace ombra {

class GenotypeStore {
 public:
  // The rule for a missing genotype's value (see Adjustment).
  explicit GenotypeStore(Adjustment fillRule = Adjustment::kIntercept) : adjustment(fillRule) {}
  GenotypeStore(const GenotypeStore&) = delete;
  GenotypeStore& operator=(const GenotypeStore&) = delete;

  // Every marker of a loaded run; a streamed run's markers of the rows' SNPs.
  std::vector<Marker> markers;
  // Individuals whose genotypes were counted into the markers' allele2Count:
  // the divisor that turns a count into a frequency for missing genotypes.
  int alleleCountBase = 0;
  // A .bim supplied the counts; the size of its data set joins the divisor
  // once that data set's .fam has been read.
  bool bimCountPending = false;
  // Per SNP of the rows, the mean dosage of the called genotypes of every
  // loaded individual (computeMeanDosages).
  std::vector<double> meanDosage;

  Adjustment fillRule() const { return adjustment; }
  void setFillRule(Adjustment rule) { adjustment = rule; }
  bool streaming() const { return streamed; }
  // SNPs of the run: the markers, or a streamed run's markers.
  size_t markerCount() const;
  // Calls visit(s, marker) for every marker of the run in map order.
  void forEachMarker(const std::function<void(size_t, const Marker&)>& visit);

  // The value that stands in for a missing genotype at `snp`: the mean
  // dosage (kIntercept; computeMeanDosages must have run) or the allele2
  // frequency (kLegacy).
  double missingValue(size_t snp) const;
  // The genotype value of individual `seq` of `set` at SNP `snp`: 0, 1 or 2
  // copies of allele2, or missingValue(snp); a seq outside the set stops.
  double value(const DataSet& set, int seq, size_t snp) const;
  // Counts the called genotypes and allele2 copies of the first `snps` SNPs
  // of every row of `cohort` into `meanDosage`.
  void computeMeanDosages(const Cohort& cohort, size_t snps, size_t threads = 1);

  // A new row of `bytes` bytes, or null when memory ran out.
  unsigned char* newRow(int bytes);
  void freeRow(unsigned char* row);
  // A new dosage row of `snps` slots, or null when memory ran out (freed
  // with freeRow).
  uint16_t* newDosageRow(size_t snps);
  // The tracker the loaders fill rows through.
  MemoryClass<char>& rowMemory() { return rows; }
  // Frees the rows of both data sets.
  void releaseRows(Cohort& cohort);

  // The data sets' lists differed and the SNP selection was applied to each
  // before they were matched: the selections leave the SNPs as they are.
  bool snpsSelectedOnLoad = false;

  // Streaming. The first streamed set's markers become the run's (printing
  // their count).
  void startStreaming() { streamed = true; }
  void streamMarkers(std::unique_ptr<MarkerReader> reader);
  // A later set's markers, when they are the run's SNPs in the run's order
  // as `same` compares them, are joined to the run's, and `swapped` set
  // (per file SNP, its codes count the other allele); false, `reader` left
  // to the caller, when they are not.
  bool joinMarkers(std::unique_ptr<MarkerReader>& reader, const MarkerStream::Same& same, std::vector<bool>& swapped);
  // The markers of the run's SNPs, in order (read through the files).
  std::vector<Marker> streamedMarkers();
  // Two lists matched: `shared` become the run's markers, the family
  // stream reading its file SNPs `familySnps` for them.
  void matchStreamedMarkers(std::vector<Marker> shared, std::vector<size_t> familySnps);
  // Gives `set` one row per individual of `source`, empty until the stream
  // fills it.
  void startStream(DataSet& set, std::unique_ptr<GenotypeSource> source, std::vector<bool> swapped);
  MarkerStream* markerStream() { return markersRead.get(); }
  GenotypeStream* stream(SetKind kind) { return streams[kind == SetKind::kUnrelated ? 1 : 0].get(); }
  // Whether a stream reads dosages.
  bool holdsDosages() const;
  // The marker in slot 0 of the rows.
  size_t firstRowSnp() const { return rowFirstSnp; }
  // Rows of `snps` SNPs for every individual, attached to the streams.
  void holdStreamedRows(Cohort& cohort, size_t snps);
  // Reads markers snps[0..count) into the rows' slots 0..count-1 and their
  // mean dosages into `meanDosage`, decoding on up to `threads` threads
  // (the same rows for any number).
  void fillRows(Cohort& cohort, const size_t* snps, size_t count, size_t firstSnp, size_t threads = 1);
  // SNPs of a window of the test: whole blocks of `widestBlock` SNPs within
  // a bound on the rows' memory, for `threads` threads.
  size_t windowSnps(const Cohort& cohort, size_t widestBlock, size_t threads) const;
  // Reads markers firstSnp .. firstSnp + count - 1 into the rows, on up to
  // `threads` threads.
  void fillWindow(Cohort& cohort, size_t firstSnp, size_t count, size_t threads = 1);
  // Has `watcher` called after each window is read, when the rows' slots
  // and `markers` hold the window's SNPs (a count made as the test reads).
  void watchWindows(std::function<void(const Cohort&, size_t count)> watcher) { windowWatcher = std::move(watcher); }

 private:
  // Gives the rows of `set` variances of the rows' capacity, zeroed, and
  // attaches them to its stream.
  void holdVariances(DataSet& set);

  Adjustment adjustment;
  bool streamed = false;
  MemoryClass<char> rows;
  size_t rowFirstSnp = 0;
  size_t rowCapacity = 0;
  std::shared_ptr<GenotypeStream> streams[2];  // family set, unrelated set
  // Declared after the streams, whose sources a marker reader may read from.
  std::shared_ptr<MarkerStream> markersRead;
  std::vector<size_t> window;
  std::function<void(const Cohort&, size_t)> windowWatcher;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_GENOTYPESTORE_H
