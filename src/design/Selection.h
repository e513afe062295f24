// Which individuals and which SNPs a run keeps (--keep, --remove, --extract,
// --exclude, --chr, --from-bp, --to-bp), and the quality-control thresholds
// (--mind, --geno, --hwe, --maf) applied to what the selections leave.
#ifndef OMBRA_DESIGN_SELECTION_H
#define OMBRA_DESIGN_SELECTION_H

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/Chromosome.h"
#include "core/Records.h"

namespace ombra {

// The option values as given on the command line.
struct SelectionOptions {
  std::string keepFile, removeFile, extractFile, excludeFile, chrList;
  std::string fromBp, toBp;               // empty when not given
  std::string maf, geno, mind, hwe;       // empty when not given
  std::string minfo;                      // empty when not given

  // True when `word` is one of the options above.
  static bool knows(const std::string& word);
  // The words `knows` accepts.
  static std::vector<std::string> words();
  // Stores the value of an option `knows` accepts.
  void set(const std::string& word, const std::string& value);
  bool selectsIndividuals() const { return !keepFile.empty() || !removeFile.empty(); }
  bool selectsSnps() const {
    return !extractFile.empty() || !excludeFile.empty() || !chrList.empty() || !fromBp.empty() || !toBp.empty();
  }
};

// --keep and --remove: an individual stays when the keep file lists it (or
// there is none) and the remove file does not.
class SampleSelection {
 public:
  SampleSelection() = default;
  // Reads the files the options name; stops the run naming the file and
  // line of a line without two IDs.
  explicit SampleSelection(const SelectionOptions& options);
  bool active() const { return hasKeep_ || hasRemove_; }
  // Whether individual (famId, indId) stays; tallies the decision.
  bool admit(std::string_view famId, std::string_view indId);
  // Prints what each file removed, warns of a file that names nobody in
  // the data, and says how many individuals were kept.
  void report() const;
  // The individuals admit left out, as "FID\tIID".
  const std::unordered_set<std::string>& leftOut() const { return leftOut_; }

 private:
  bool hasKeep_ = false, hasRemove_ = false;
  std::string keepFile_, removeFile_;
  std::unordered_set<std::string> keep_, remove_, leftOut_;  // "FID\tIID"
  std::string key_;                                // scratch of admit
  long seen_ = 0, kept_ = 0, notKept_ = 0, removed_ = 0, keepMatched_ = 0, removeMatched_ = 0;
};

// --extract, --exclude, --chr, --from-bp and --to-bp.
class SnpSelection {
 public:
  SnpSelection() = default;
  // Reads the files and parses the chromosome list and positions; stops
  // the run naming the option or the file of a bad value.
  explicit SnpSelection(const SelectionOptions& options);
  bool active() const { return active_; }
  // Whether a SNP stays; tallies the rule that drops it.
  bool admit(const Marker& marker);
  // Whether a SNP stays, without tallying (another data set's SNP, which
  // the tallies of the run's own list do not count).
  bool keeps(const Marker& marker) const;
  // Prints what each rule removed and how many SNPs were kept.
  void report() const;

 private:
  struct ChrRange {
    int low = 0, high = -1;  // chromosome codes (core/Chromosome.h)
    std::string name;        // a name of no code, compared as written
  };
  bool onListedChromosome(const Marker& marker) const;
  int ruleDropping(const Marker& marker) const;

  bool active_ = false;
  SelectionOptions options_;
  std::unordered_set<std::string> extract_, exclude_;
  std::vector<ChrRange> chromosomes_;
  long fromBp_ = -1, toBp_ = -1;
  long seen_ = 0, kept_ = 0, notExtracted_ = 0, excluded_ = 0, otherChr_ = 0, outside_ = 0;
};

// The thresholds of the quality-control filters; negative when not given.
struct FilterThresholds {
  double maf = -1, geno = -1, mind = -1, hwe = -1, minfo = -1;
  // Parses and range-checks the options' values, stopping the run naming
  // the option of a value out of range.
  explicit FilterThresholds(const SelectionOptions& options);
  bool filtersSnps() const { return maf >= 0 || geno >= 0 || hwe >= 0 || minfo >= 0; }
  bool any() const { return filtersSnps() || mind >= 0; }
};

}  // namespace ombra

#endif  // OMBRA_DESIGN_SELECTION_H
