// One interface for the genotypes of a data set, whatever file they come
// from: the markers it holds and the codes of a block of SNPs.
//
// Codes are Ombra's: 0, 1, 2 copies of the marker's allele2, 3 missing. A
// block is SNP-major: SNP j of the block takes columnBytes(sampleCount())
// bytes starting at out + j * columnBytes(...), individual i of the data
// set's sample order at slot i % 4 of byte i / 4, the first slot in the top
// bits (as in the genotype rows of core/Records.h); unused low slots of a column's
// last byte are 0.
//
// The samples (IDs, parents, sex, trait) come from the data set's .fam or
// .ped through the pedigree reader; a source only checks that its own
// sample count agrees.
#ifndef OMBRA_FORMATS_GENOTYPESOURCE_H
#define OMBRA_FORMATS_GENOTYPESOURCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Records.h"

namespace ombra {

// Bytes of one SNP's column of `samples` packed codes.
inline size_t columnBytes(size_t samples) { return (samples + 3) / 4; }

class GenotypeSource {
 public:
  virtual ~GenotypeSource() = default;
  // Individuals of the source, in the order of its sample file.
  virtual size_t sampleCount() const = 0;
  // The markers in file order, with alleles and allele2 counts filled in.
  virtual const std::vector<Marker>& markers() const = 0;
  // Fills `out` with the codes of SNPs first .. first + count - 1 (a block,
  // as described above). Sources that stream a file may require blocks in
  // increasing order; errors (a file that ends early) stop the run with a
  // message naming the file and the SNP.
  virtual void readSnps(size_t first, size_t count, unsigned char* out) = 0;

  // Sources of imputed data also hold dosages: the expected copies of
  // allele2, in units of 1/kDosageOne copy (so 0, 1 and 2 copies are exact),
  // kMissingDosage where the sample has none.
  virtual bool hasDosages() const { return false; }
  // Fills `codes` as readSnps does (a dosage source gives the nearest call,
  // 3 where missing) and, for a dosage source, `dosages` with the same SNPs:
  // SNP j's sampleCount() values at dosages + j * sampleCount(), in sample
  // order.
  // With `variances` (givesVariances() only), each dosage's variance there
  // too, laid out as the dosages.
  virtual void readDosages(size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                           uint16_t* variances = nullptr) {
    (void)dosages;
    (void)variances;
    readSnps(first, count, codes);
  }

  // Sources that can decode SNPs on several threads at once: prepareReaders
  // makes buffers for `readers` of them, and readDosagesBy then reads as
  // readDosages does (variances included), through the buffers of `reader`
  // < readers; calls with different readers may run at the same time, on
  // different SNPs. A source that reads its file in order (text, htslib)
  // offers one reader.
  virtual size_t concurrentReaders() const { return 1; }
  virtual void prepareReaders(size_t readers) { (void)readers; }
  virtual void readDosagesBy(size_t reader, size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                             uint16_t* variances) {
    (void)reader;
    readDosages(first, count, codes, dosages, variances);
  }

  // Sources of genotype probabilities (BGEN, VCF GP) can give each dosage's
  // variance, for IMPUTE's info; they do once asked (the rows then take 2
  // bytes more an individual and SNP, from the first uncertain genotype).
  virtual bool hasProbabilities() const { return false; }
  void keepVariances(bool wanted) { variancesWanted = wanted; }
  bool givesVariances() const { return variancesWanted && hasProbabilities(); }

 private:
  bool variancesWanted = false;
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_GENOTYPESOURCE_H
