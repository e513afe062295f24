// The result file as GWAS-SSF 1.0 summary statistics (the GWAS Catalog's
// format, --out-format ssf): a tab-separated table whose first eight
// columns are the format's mandatory ones in its order, then its encouraged
// variant_id rsid n neg_log_10_p_value, then Ombra's own columns; and the
// YAML metadata file beside it (NAME-meta.yaml). The mandatory beta,
// standard_error and p_value are those of the run's effect (ResultColumns::
// effect(): the plain regression's, or the mixed model's), for the allele
// A2, whose copies every effect counts.
#ifndef OMBRA_OUTPUTS_SSFTABLE_H
#define OMBRA_OUTPUTS_SSFTABLE_H

#include <cstddef>
#include <string>

#include "outputs/ResultColumns.h"

struct Marker;

namespace ombra {

struct SnpResult;

// The format's chromosome code: 1-22, X (and XY, whose positions are X's)
// 23, Y 24, MT 25; 0 for a chromosome it has no code for.
int ssfChromosome(int chromosomeCode);

// The header line of a table of `columns`.
std::string ssfHeader(const ResultColumns& columns);
// Appends one SNP's line; NA for whatever is missing or not a number, and
// for the effect of a SNP that was not tested.
void appendSsfLine(std::string& out, const ResultColumns& columns, const Marker& marker, const SnpResult& result);

// What the metadata and the closing line say of the SNPs written.
class SsfSummary {
 public:
  void add(const Marker& marker, const SnpResult& result);
  size_t sampleSize() const { return tested; }
  // Whether the lines are in order of chromosome code and position, each
  // with both.
  bool sorted() const { return inOrder && withoutLocation() == 0; }
  size_t withoutChromosome() const { return noChromosome; }
  size_t withoutPosition() const { return noPosition; }
  // The line saying how many SNPs have NA for their chromosome or position
  // ("" when none has).
  std::string missingLocationLine(const std::string& path) const;

 private:
  size_t withoutLocation() const { return noChromosome + noPosition; }

  size_t tested = 0;
  size_t noChromosome = 0, noPosition = 0;
  bool inOrder = true;
  int lastChromosome = 0;
  long lastPosition = 0;
};

// What the metadata file says besides the summary.
struct SsfMetadata {
  std::string dataFile;     // the data file's name, as written
  std::string md5;          // of its bytes
  std::string software;     // the program and its version
  std::string date;         // YYYY-MM-DD
  std::string trait;        // the trait's description
  std::string build;        // the genome assembly, "" when not given
  std::string effect;       // the model whose effect fills beta and p_value
};

// The metadata file's name for the data file `path`.
inline std::string ssfMetadataPath(const std::string& path) { return path + "-meta.yaml"; }
// The metadata file's text.
std::string ssfMetadataText(const SsfMetadata& metadata, const SsfSummary& summary);
// Today's date (UTC) as the metadata writes it.
std::string ssfToday();

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_SSFTABLE_H
