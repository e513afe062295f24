// The genotypes of a VCF or BCF file as a genotype source.
//
// The samples are the individuals of the data set's .fam, in its order; each
// is found among the file's sample columns by its individual ID, or else by
// "FID_IID". Sample columns that match no individual are ignored. Records
// that are not biallelic SNPs or indels are skipped; every other record is a
// marker: allele1 = REF, allele2 = ALT, code = copies of ALT from GT.
//
// The number of records is known only once the file has been read, and the
// store's rows need it. The file is therefore read twice: once for the
// markers (site columns only), then for the genotypes of each block asked
// for, so that memory holds one block besides the rows.
#ifndef OMBRA_FORMATS_VCFSOURCE_H
#define OMBRA_FORMATS_VCFSOURCE_H

#include <memory>
#include <string>
#include <vector>

#include "formats/GenotypeSource.h"
#include "formats/SampleMatch.h"
#include "formats/VcfRecords.h"

namespace ombra {

class VcfSource : public GenotypeSource {
 public:
  // Reads the header and the sites of `path` and matches its samples to
  // `individuals` (the individuals of `famPath`, in its order). Stops the
  // run, naming the files, when an individual has no sample column, when
  // two sample columns match one individual or one column several, or when
  // the file cannot be read.
  // With a dosage field other than GT, the source holds dosages from it; a
  // record without the field gives its GT calls as dosages, and so does a
  // sample whose value is left out or ".".
  VcfSource(const std::string& path, const std::vector<SampleName>& individuals, const std::string& famPath,
            DosageField dosageField = DosageField::kGt);

  size_t sampleCount() const override { return individualCount; }
  // The markers; a marker's allele2Count (ALT copies among the individuals)
  // is complete once its SNP has been read.
  const std::vector<Marker>& markers() const override { return sites; }
  // Blocks are read in increasing order most cheaply; an earlier block
  // reads the file again from its start.
  void readSnps(size_t first, size_t count, unsigned char* out) override;
  bool hasDosages() const override { return field != DosageField::kGt; }
  DosageField dosageField() const { return field; }
  void readDosages(size_t first, size_t count, unsigned char* codes, uint16_t* dosages,
                   uint16_t* variances = nullptr) override;
  bool hasProbabilities() const override { return field == DosageField::kGp; }
  // Records kept whose dosages come from GT, for want of the dosage field.
  size_t recordsWithoutField() const { return withoutField; }
  // Samples of the records with the field whose value is left out or "."
  // and whose dosage is their GT call.
  size_t samplesTakingCalls() const { return callsTaken; }

  // Sample columns that match no individual.
  size_t ignoredSamples() const { return ignored; }
  // Records that are not biallelic SNPs or indels.
  size_t skippedRecords() const { return skipped; }

 private:
  void readSites();
  Marker markerOf(const VcfSite& site) const;
  // Moves the genotype pass to the next marker's record and checks that it
  // is the record the first pass found.
  void advance();
  // Packs the current record's codes into one SNP-major column.
  void decode(unsigned char* column, size_t snp);
  // Moves the genotype pass to block `first`, from the file's start when it
  // lies behind.
  void seek(size_t first);
  // The current record's dosages into `dosages` (in the individuals' order)
  // and their nearest calls into a SNP-major column.
  void decodeDosages(unsigned char* column, uint16_t* dosages, uint16_t* variances, size_t snp);

  std::string path;
  size_t individualCount = 0;
  std::vector<int> seqOfColumn;  // per sample column: individual's seq, or -1
  bool inFileOrder = false;      // individual i is sample column i, for every i
  std::vector<Marker> sites;
  size_t ignored = 0;
  size_t skipped = 0;
  std::unique_ptr<VcfRecordReader> reader;  // the genotype pass
  size_t nextSnp = 0;                       // marker whose record comes next in the genotype pass
  std::vector<unsigned char> codes;         // per sample column, of the current record
  DosageField field = DosageField::kGt;
  std::vector<bool> fromGt;                 // per marker of a dosage source: its record lacks the field
  size_t withoutField = 0;
  size_t callsTaken = 0;
  std::vector<uint16_t> columnDosages;      // per sample column, of the current record
  std::vector<uint16_t> columnVariances;    // the same, when variances are wanted
};

// True for a record this source keeps: one ALT allele, REF and ALT made of
// the bases A, C, G, T, N and different, either both one base (a SNP) or of
// different lengths (an indel); or a monomorphic site, REF made of those
// bases and ALT "." (its marker's allele2 unknown, "").
bool isBiallelicSnpOrIndel(const VcfSite& site);

}  // namespace ombra

#endif  // OMBRA_FORMATS_VCFSOURCE_H
