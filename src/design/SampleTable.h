// A whitespace-separated table of values per individual, as PLINK writes
// covariate and phenotype files: a header line whose first two names are the
// family and individual ID columns (FID IID, or #FID IID), then one line per
// individual.
#ifndef OMBRA_DESIGN_SAMPLETABLE_H
#define OMBRA_DESIGN_SAMPLETABLE_H

#include <string>
#include <unordered_map>
#include <vector>

namespace ombra {

class SampleTable {
 public:
  // Reads `path`; stops the run with a message naming the file (and line)
  // when it has no such header, a row of another length, or an ID pair
  // twice.
  explicit SampleTable(const std::string& path);

  const std::string& path() const { return path_; }
  // Names of the value columns (after the two ID columns), in file order.
  const std::vector<std::string>& names() const { return names_; }
  // The position among names() of `name`; stops the run naming the file and
  // the option when there is none.
  size_t column(const std::string& name, const std::string& option) const;
  // The row of an individual, or null when the file does not list it.
  const std::vector<std::string>* row(const std::string& famId, const std::string& indId) const;

 private:
  std::string path_;
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> rows_;
  std::unordered_map<std::string, size_t> rowOf_;  // "FID\tIID" -> row
};

// True for the missing codes of a table value: NA, -9 and `missingTrait`.
bool isMissingValue(const std::string& value, const std::string& missingTrait);

// True when all of `text` reads as a finite number.
bool isNumber(const std::string& text, double& value);

}  // namespace ombra

#endif  // OMBRA_DESIGN_SAMPLETABLE_H
