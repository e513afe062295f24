// Record by record reading of a VCF (plain, gzip or bgzip) or BCF file
// through htslib, for the VCF genotype source.
//
// htslib opens the file, tells the format apart and decompresses it. BCF
// records are decoded by htslib; VCF text lines are split here, because
// htslib's full parse of every sample's fields costs three times as long as
// the rest of the reading and only GT is needed.
#ifndef OMBRA_FORMATS_VCFRECORDS_H
#define OMBRA_FORMATS_VCFRECORDS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ombra {

// The site columns of the current record; the views stay valid until the
// next call of next().
struct VcfSite {
  std::string_view chrom;
  long long position = 0;
  std::string_view id;
  std::string_view ref;
  std::string_view alt;  // the ALT allele when altCount is 1
  int altCount = 0;      // ALT alleles; 0 for an ALT of "."
};

// The FORMAT field a dosage source reads: GT calls, or the dosage of ALT
// (DS), the genotype probabilities (GP) or the haplotype dosages (HDS).
enum class DosageField { kGt, kDs, kGp, kHds };
// "GT", "DS", "GP" or "HDS".
const char* dosageFieldName(DosageField field);

// One sample's dosage of ALT, in units of 1/kDosageOne copy, from the text
// of its `field` value (up to its ':' or the end of the field):
// kMissingDosage for ".". On an empty value, a value that is not a number,
// out of range, or (GP) probabilities that do not sum to 1 within 0.01,
// returns kMissingDosage and sets `problem` to what is wrong. A number too
// small for a double (1e-400) is 0. With `variance`, GP's variance of the
// copies there (see kVarianceOne; 0 for the other fields and a missing one).
uint16_t dosageOfText(DosageField field, const char* text, const char* end, std::string& problem,
                      uint16_t* variance = nullptr);

class VcfRecordReader {
 public:
  // Opens `path` and reads its header. Stops the run with a message naming
  // the file when it cannot be opened, is not a VCF or BCF file, or its
  // header cannot be read.
  static std::unique_ptr<VcfRecordReader> open(const std::string& path);
  virtual ~VcfRecordReader() = default;

  // Sample names of the header, in column order.
  const std::vector<std::string>& sampleNames() const { return samples; }
  // Moves to the next record and sets `site`; false at the end of the file.
  // A corrupt or truncated file stops the run.
  virtual bool next(VcfSite& site) = 0;
  // Genotype codes of the current record, which has exactly one ALT allele:
  // codes[c] for sample column c is the count of ALT alleles of its GT (0, 1,
  // 2; a haploid call 0 or 2), 3 for a missing or half-missing call. A
  // record without GT, with too few or too many sample columns, or with a GT
  // that is not a haploid or diploid call of REF and ALT stops the run naming
  // the record.
  virtual void genotypes(unsigned char* codes) = 0;
  // Whether the current record has `field` (not GT) in its FORMAT.
  virtual bool hasField(DosageField field) = 0;
  // The dosages of ALT from `field` of the current record, which has it:
  // out[c] for sample column c, as dosageOfText gives them. A sample whose
  // value is left out or "." takes its GT call (as PLINK 2 reads it; its
  // export leaves DS out where it equals the call): missing when the call
  // is, or the record has no GT. An empty value, a value that cannot be
  // read, a field of the wrong size or too few or too many sample columns
  // stops the run naming the record and the sample. With `variances`, the
  // dosages' variances (GP's; 0 for calls) there too.
  void dosages(DosageField field, uint16_t* out, uint16_t* variances = nullptr);
  // Sample columns of the current record, which has `field`, whose value
  // is left out or "." and whose GT is called: those that take their call.
  size_t callsTaken(DosageField field);
  // "record R (line L, chromosome C, position P) of PATH", for messages.
  virtual std::string where() const = 0;

 protected:
  explicit VcfRecordReader(std::string filePath) : path(std::move(filePath)) {}
  [[noreturn]] void stopAt(const std::string& problem) const;
  // Whether the current record has GT in its FORMAT.
  virtual bool hasGt() = 0;
  // The values of `field` into out[c]; the columns whose value is left out
  // or "." are put in `leftOut` (out[c] is then kMissingDosage); with
  // `variances`, theirs there (as dosageOfText gives them).
  virtual void fieldDosages(DosageField field, uint16_t* out, uint16_t* variances, std::vector<size_t>& leftOut) = 0;
  // The columns whose value of `field` is left out or ".", into `leftOut`.
  virtual void findLeftOut(DosageField field, std::vector<size_t>& leftOut) = 0;
  // The message for an unreadable `value` of sample column c.
  [[noreturn]] void stopAtValue(DosageField field, std::string_view value, size_t c, const std::string& problem) const;

  std::string path;
  std::vector<std::string> samples;
  long long recordNumber = 0;  // 1-based number of the current record

 private:
  std::vector<size_t> leftOut;
  std::vector<unsigned char> calls;
};

// Why a GT text is not a call this program can code.
enum class GtProblem { kNone, kPolyploid, kOtherAllele, kNotGt };

// The code of a call of `alleles` alleles (none, one or two), `alt` of them
// ALT: ALT copies 0, 1, 2, where a haploid call counts its allele twice (0
// or 2 copies, as PLINK 2 reads it), or 3 when any allele is missing.
inline unsigned char callCode(size_t alleles, unsigned alt, bool missing) {
  if (missing || alleles == 0) return 3;
  return static_cast<unsigned char>(alleles == 1 ? 2 * alt : alt);
}

// The code of one GT text (up to its ':' or the end of the field), as
// callCode gives it ("." and any call with a missing allele are 3). On a
// problem returns 3 and sets `problem`.
unsigned char gtCode(const char* text, const char* end, GtProblem& problem);

// What is wrong with a genotype, as in "the genotype 0/0/1 for sample S,
// which is polyploid: ...".
const char* gtProblemWords(GtProblem problem);

}  // namespace ombra

#endif  // OMBRA_FORMATS_VCFRECORDS_H
