// Mendel errors in the family set: the calls of a child that no
// inheritance from its parents explains, with the error codes of PLINK 1.9
// (1-8 on autosomes, 9 and 10 for a son's X chromosome). Every child with
// at least one parent in the family set is checked (PLINK's --mendel-duos);
// a parent missing at a SNP, or absent from the set, explains anything.
//
// Codes (father x mother -> child; a = allele1, b = allele2, * any):
//   1 a/a x a/a -> a/b   2 b/b x b/b -> a/b   3 b/b x * -> a/a   4 * x b/b -> a/a
//   5 b/b x b/b -> a/a   6 a/a x * -> b/b     7 * x a/a -> b/b   8 a/a x a/a -> b/b
//   9 * x a/a -> b (son, X)   10 * x b/b -> a (son, X)
// Chromosomes Y and MT are not checked; on X a son's call comes from his
// mother alone, and a male's heterozygous X call counts as missing. Parents
// are taken by their columns (a father listed female stays the father).
#ifndef OMBRA_DESIGN_MENDELERRORS_H
#define OMBRA_DESIGN_MENDELERRORS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Records.h"
#include "formats/GenotypeStore.h"

namespace ombra {

struct MendelOptions {
  std::string reportPrefix;  // --mendel: PREFIX.mendel, .lmendel and .fmendel
  bool setMissing = false;   // --set-me-missing
  bool exclude = false;      // --me F S
  double maxChildRate = 1, maxSnpRate = 1;
  bool any() const { return !reportPrefix.empty() || setMissing || exclude; }
};

// The parents of a child as the family set holds them: a father and a
// mother (either may be absent), with how many of their children the set
// holds.
struct NuclearFamily {
  const std::string* famId = nullptr;
  const Individual* father = nullptr;  // null: not in the set
  const Individual* mother = nullptr;
  size_t children = 0;
};

// A child with at least one parent in the set.
struct Trio {
  const Individual* child = nullptr;
  size_t family = 0;  // among Trios::families
};

// In the order PLINK 1.9 reports them: the nuclear families in the order
// their first child appears in the file, each one's children in file order.
struct Trios {
  std::vector<NuclearFamily> families;
  std::vector<Trio> trios;
};
Trios findTrios(const DataSet& family);

// The error code of a child's call given its parents' (codes 0-2 copies of
// allele2, 3 missing); 0 when inheritance explains it. `sonOnX`: the call is
// of a son's X chromosome.
int mendelCode(int father, int mother, int child, bool sonOnX);
// The parents an error implicates beside the child (set missing with it).
bool implicatesFather(int code);
bool implicatesMother(int code);
// Whether the SNPs of a chromosome are checked (not Y, not MT).
bool checkedChromosome(int chrCode);

struct MendelError {
  uint32_t snp = 0;
  uint32_t trio = 0;
  uint8_t code = 0;
};

// The errors of a scan, by SNP then trio (when listed), with their counts
// per SNP (of the markers) and per trio.
struct MendelScan {
  uint64_t total = 0;
  std::vector<MendelError> errors;
  std::vector<uint32_t> perSnp;
  std::vector<uint64_t> perTrio;
  size_t snpsChecked = 0;
};
// `listErrors`: keep every error (for the reports and --set-me-missing),
// not only the counts.
MendelScan scanMendelErrors(const DataSet& family, const std::vector<Marker>& markers, const Trios& trios,
                            bool listErrors);

// Sets missing every call an error of `scan` involves: the child's, and the
// parents' the code implicates; returns how many calls were set missing.
long setMendelErrorsMissing(DataSet& family, const Trios& trios, const MendelScan& scan);

// --me F S as PLINK 1.9 counts: a SNP whose errors exceed S times the
// number of trios, and a child (with its parents) whose errors over every
// checked SNP exceed F times their number, are left out.
struct MendelExclusions {
  std::vector<char> snpOut;        // per marker
  std::vector<char> individualOut; // per seq of the family set
  long snps = 0, individuals = 0;
};
MendelExclusions mendelExclusions(const DataSet& family, const Trios& trios, const MendelScan& scan,
                                  double maxChildRate, double maxSnpRate);

// What the line of a run counts, over one scan or the windows of a
// streamed run.
struct MendelCounts {
  uint64_t errors = 0;
  size_t snpsChecked = 0;
  std::vector<std::pair<std::string, uint64_t>> bySnp;  // the SNPs with errors, in map order
  std::vector<uint64_t> perTrio;
  void add(const std::vector<Marker>& markers, const MendelScan& scan);
};

// The line of a run's Mendel errors: the total, and the SNPs and families
// with the most.
std::string mendelSummary(const Trios& trios, const MendelCounts& counts);

// PREFIX.mendel, PREFIX.lmendel and PREFIX.fmendel, laid out as PLINK 1.9
// lays them out.
void writeMendelReports(const std::string& prefix, const DataSet& family, const std::vector<Marker>& markers,
                        const Trios& trios, const MendelScan& scan);

// The Mendel stage of a loaded run, after the selections and filters: counts
// the errors, writes the reports, leaves out what --me leaves out and sets
// the errors missing for --set-me-missing. With any of the options the
// count's line is printed; without them, the line is returned (when there
// are errors) for the run's log alone, and standard output stays as it was.
std::string checkMendelErrors(Cohort& cohort, GenotypeStore& store, const MendelOptions& options);

// The count of a streamed run without the Mendel options: made window by
// window as the test reads the family set's calls, for the log.
class MendelWatch {
 public:
  // Watches the store's windows when the family set holds trios and calls.
  MendelWatch(const Cohort& cohort, GenotypeStore& store);
  // The count's line for the log once the test has read every window;
  // empty without errors.
  std::string logLine() const;

 private:
  Trios trios;
  MendelCounts counts;
};

}  // namespace ombra

#endif  // OMBRA_DESIGN_MENDELERRORS_H
