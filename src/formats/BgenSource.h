// The dosages of a BGEN file as a genotype source.
//
// The samples are the individuals of the data set's .fam, in its order, each
// found among the BGEN file's samples by its individual ID or by "FID_IID"
// (formats/SampleMatch.h). The file's samples are named by its sample
// identifier block, or, when it has none, by an Oxford .sample file (ID_2
// the individual ID, ID_1 the family ID: a sample matches by ID_2, else by
// ID_1_ID_2). Samples that match no individual are ignored.
//
// Every record with two alleles is a marker: allele1 the record's first
// allele, allele2 its second, whose dosage the source gives (an allele "."
// is unknown, held as ""); the marker's
// name is the rsid, else the SNPID, else chr:pos:allele1:allele2. Records
// with other allele counts are skipped.
#ifndef OMBRA_FORMATS_BGENSOURCE_H
#define OMBRA_FORMATS_BGENSOURCE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/BgenFile.h"
#include "formats/GenotypeSource.h"
#include "formats/SampleMatch.h"

namespace ombra {

class BgenSource : public GenotypeSource {
 public:
  // Lists the markers of `bgenPath` (only those of `region` when one is
  // given: through the file's .bgi index when there is one) and matches its
  // samples to `individuals`, those of `famPath` in its order. `samplePath`
  // (empty for none) is the .sample file; when given, its sample count must
  // be the BGEN file's even where the file names its samples itself. Stops
  // the run, naming the files, when the samples cannot be named, when the
  // counts differ, when a sample ID appears twice, or when an individual
  // has no sample.
  BgenSource(const std::string& bgenPath, const std::string& samplePath, const std::vector<SampleName>& individuals,
             const std::string& famPath, const BgenRegion* region = nullptr);

  size_t sampleCount() const override { return individualCount; }
  // The markers; a marker's allele2Count (the sum of the individuals'
  // dosages, in copies) is complete once its SNP has been read.
  const std::vector<Marker>& markers() const override { return sites; }
  // Any order of blocks costs the same: each record is read at its offset.
  void readSnps(size_t first, size_t count, unsigned char* out) override;
  bool hasDosages() const override { return true; }
  // Codes are the nearest whole number of copies (a half rounds up), 3
  // where the dosage is missing.
  void readDosages(size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                   uint16_t* variances = nullptr) override;
  bool hasProbabilities() const override { return true; }
  // Every thread may decode: each record is read at its offset.
  size_t concurrentReaders() const override { return SIZE_MAX; }
  void prepareReaders(size_t readers) override;
  void readDosagesBy(size_t reader, size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                     uint16_t* variances) override;

  // BGEN samples that match no individual.
  size_t ignoredSamples() const { return ignored; }
  // Records with other than two alleles.
  size_t skippedRecords() const { return file.skippedRecords(); }
  const BgenFile& bgen() const { return file; }

 private:
  void nameSamples(const std::string& samplePath, const std::vector<SampleName>& individuals,
                   const std::string& famPath);
  // What one reader reuses from SNP to SNP.
  struct ReaderBuffers {
    BgenBlockBuffers block;
    std::vector<uint16_t> fileDosages;  // per BGEN sample, of the SNP being decoded
    std::vector<uint16_t> ownDosages;   // per individual, when the caller wants codes only
    std::vector<uint16_t> fileVariances;  // per BGEN sample, when variances are wanted
  };
  // Decodes SNP `snp` into its column of codes (zeroed before) and, when
  // `dosages` is not null, its dosages in the individuals' order.
  // With `variances`, their variances too.
  void decode(size_t snp, unsigned char* column, uint16_t* dosages, uint16_t* variances, ReaderBuffers& buffers);
  void readBy(ReaderBuffers& buffers, size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
              uint16_t* variances);

  BgenFile file;
  size_t individualCount = 0;
  std::vector<int> seqOfSample;  // per BGEN sample: the individual's seq, or -1
  bool inFileOrder = false;
  size_t ignored = 0;
  std::vector<Marker> sites;
  ReaderBuffers ownBuffers;  // of readSnps and readDosages
  std::vector<std::unique_ptr<ReaderBuffers>> readers;  // of readDosagesBy
};

}  // namespace ombra

#endif  // OMBRA_FORMATS_BGENSOURCE_H
