// The study design a run's options ask for: the traits of a phenotype file
// in place of the sample files', and the covariate columns every
// individual brings to the design of the test.
#include "design/StudyDesign.h"

#include <algorithm>
#include <iostream>
#include <memory>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "design/Covariates.h"
#include "design/SampleTable.h"

namespace ombra {

namespace {


// The covariate columns' names, after giving every individual its values.
std::vector<std::string> attachCovariates(Cohort& cohort, const std::string& covariateFile,
                                          const std::vector<std::string>& covariateRequest,
                                          const std::string& missingCode) {
  std::unique_ptr<SampleTable> table;
  if (!covariateFile.empty()) table = std::make_unique<SampleTable>(covariateFile);
  std::vector<SampleKey> people;
  cohort.forEachIndividual([&](const std::string& famId, Individual& person, const DataSet&) {
    people.push_back(SampleKey{&famId, &person.indId, person.sex});
  });
  CovariateColumns columns = buildCovariates(table.get(), covariateRequest, people, missingCode);
  size_t i = 0;
  cohort.forEachIndividual(
      [&](const std::string&, Individual& person, const DataSet&) { person.covariates = std::move(columns.values[i++]); });
  std::cout << "Covariates (" << columns.names.size() << " columns):";
  for (const std::string& name : columns.names) std::cout << " " << name;
  std::cout << "\n";
  return columns.names;
}

// A phenotype is named by its column's name: two columns of that name in
// the header leave it unclear which is meant.
void refuseAmbiguousColumns(const std::vector<std::string>& names, const std::vector<size_t>& columns,
                            const std::string& file) {
  for (size_t k : columns) {
    if (std::count(names.begin(), names.end(), names[k]) > 1) {
      stopRun("The column " + names[k] + " named by --pheno-name appears more than once in the header of " + file +
              ": please give each column its own name.\n");
    }
  }
}

}  // namespace

std::vector<size_t> resolvePhenotypeNames(const std::vector<std::string>& names, const std::string& request,
                                          const std::string& file) {
  const auto find = [&](const std::string& name) {
    return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  std::vector<size_t> columns;
  size_t from = 0;
  while (from <= request.size()) {
    const size_t comma = std::min(request.find(',', from), request.size());
    const std::string word = request.substr(from, comma - from);
    from = comma + 1;
    if (word.empty()) stopRun("The option --pheno-name has an empty name in " + request + ".\n");
    if (find(word) < names.size()) {
      columns.push_back(find(word));
      continue;
    }
    if (word == "all") {
      for (size_t k = 0; k < names.size(); ++k) columns.push_back(k);
      continue;
    }
    // A range: the first split whose both ends are columns (a name may
    // itself hold a hyphen).
    size_t first = names.size(), last = names.size();
    for (size_t dash = word.find('-'); dash != std::string::npos && first == names.size();
         dash = word.find('-', dash + 1)) {
      if (find(word.substr(0, dash)) < names.size() && find(word.substr(dash + 1)) < names.size()) {
        first = find(word.substr(0, dash));
        last = find(word.substr(dash + 1));
      }
    }
    const size_t dash = word.find('-');
    if (first == names.size() && dash != std::string::npos && dash > 0 && dash + 1 < word.size()) {
      const std::string left = word.substr(0, dash), right = word.substr(dash + 1);
      const std::string missing = find(left) < names.size() ? right : left;
      stopRun("The range " + word + " named by --pheno-name needs columns at both ends, but " + missing +
              " is not in the header of " + file + ".\n");
    }
    if (first == names.size()) {
      stopRun("The column " + word + " named by --pheno-name is not in the header of " + file + ".\n");
    }
    if (first > last) {
      stopRun("The range " + word + " named by --pheno-name runs backwards: the column " + names[last] +
              " comes before " + names[first] + " in " + file + ".\n");
    }
    for (size_t k = first; k <= last; ++k) columns.push_back(k);
  }
  std::vector<bool> seen(names.size(), false);
  for (size_t k : columns) {
    if (seen[k]) stopRun("The column " + names[k] + " is named twice by --pheno-name.\n");
    seen[k] = true;
  }
  refuseAmbiguousColumns(names, columns, file);
  return columns;
}

PhenotypeTable::PhenotypeTable(const StudyDesignOptions& options)
    : table(options.phenotypeFile), missingTrait(options.missingTrait), missingTraitGiven(options.missingTraitGiven) {
  if (table.names().empty()) stopRun("The phenotype file " + options.phenotypeFile + " has no phenotype column.\n");
  columns = options.phenotypeName.empty()
                ? std::vector<size_t>{0}
                : resolvePhenotypeNames(table.names(), options.phenotypeName, options.phenotypeFile);
  if (columns.size() > 1) {
    for (size_t k = 0; k < columns.size(); ++k) {
      // The name becomes part of the result file's name.
      if (name(k).find('/') != std::string::npos) {
        stopRun("The phenotype " + name(k) + " named by --pheno-name has a / in its name, which cannot be part of "
                "its result file's name.\n");
      }
    }
  }
}

namespace {

// Whether a present value is 0, 1 or 2, the codes of a case-control column.
bool isCaseControlCode(const std::string& text) {
  double value = 0;
  return isNumber(text, value) && (value == 0 || value == 1 || value == 2);
}

}  // namespace

PhenotypeTable::Reading PhenotypeTable::readingOf(const Cohort& cohort, size_t column) const {
  Reading reading = Reading::kCaseControl;
  cohort.forEachIndividual([&](const std::string& famId, const Individual& person, const DataSet&) {
    const std::vector<std::string>* row = table.row(famId, person.indId);
    if (row == nullptr || (*row)[column].empty() || isMissingCode((*row)[column])) return;
    if (!isCaseControlCode((*row)[column])) reading = Reading::kQuantitative;
  });
  return reading;
}

bool PhenotypeTable::isMissingCode(const std::string& text) const {
  return text == "NA" || text == "-9" || (missingTraitGiven && text == missingTrait);
}

// As PLINK 2 reads a phenotype: NA, -9 and a code given with --mt are
// missing; a column of 1, 2 and 0 is case-control (1 unaffected, 2
// affected) with 0 missing; any other column is quantitative, 0 a value.
void PhenotypeTable::apply(Cohort& cohort, size_t k, bool report) const {
  const size_t column = columns[k];
  const std::string& phenotypeFile = table.path();
  const Reading reading = readingOf(cohort, column);
  long affected = 0, unaffected = 0, other = 0, missing = 0, zeros = 0;
  const double missingValue = leadingDouble(missingTrait);
  cohort.forEachIndividual([&](const std::string& famId, Individual& person, const DataSet&) {
    const std::vector<std::string>* row = table.row(famId, person.indId);
    static const std::string kNone;
    const std::string& text = row != nullptr ? (*row)[column] : kNone;
    double value = 0;
    const bool zero = isNumber(text, value) && value == 0;
    zeros += zero;
    const bool zeroMissing = reading == Reading::kCaseControl && zero;
    if (text.empty() || isMissingCode(text) || zeroMissing) {
      person.trait = missingTrait;
      person.traitValue = missingValue;
      ++missing;
      return;
    }
    if (!isNumber(text, value)) {
      stopRun("The phenotype " + text + " of individual " + famId + " " + person.indId + " in " + phenotypeFile +
              " is not a number.\n");
    }
    // The run tells a missing trait by the text of the missing code: a
    // value written as that code (0 without --mt) is held written otherwise.
    person.trait = text == missingTrait ? "0.0" : text;
    person.traitValue = value;
    ++(text == "2" ? affected : text == "1" ? unaffected : other);
  });
  if (!report) return;
  std::cout << "Phenotype " << table.names()[column] << " from " << phenotypeFile << ": " << affected
            << " affected, " << unaffected << " unaffected, " << other << " other values, " << missing
            << " missing.\n";
  // A quantitative column without zeros (of any code) reads as it always
  // has: no line.
  if (reading == Reading::kQuantitative && zeros == 0) return;
  std::cout << "Phenotype " << table.names()[column] << " is read as "
            << (reading == Reading::kCaseControl ? "case-control (1 unaffected, 2 affected; 0, NA and -9 missing"
                                                 : "quantitative (0 a value; NA and -9 missing")
            << (missingTraitGiven ? ", and " + missingTrait + " from --mt" : std::string()) << "): " << missing
            << " missing.\n";
}

std::vector<std::string> applyStudyDesign(Cohort& cohort, const StudyDesignOptions& options,
                                          const PhenotypeTable* phenotypes) {
  if (!options.phenotypeName.empty() && options.phenotypeFile.empty()) {
    stopRun("The option --pheno-name needs a phenotype file (--pheno).\n");
  }
  std::unique_ptr<PhenotypeTable> read;
  if (phenotypes == nullptr && !options.phenotypeFile.empty()) {
    read = std::make_unique<PhenotypeTable>(options);
    phenotypes = read.get();
  }
  if (phenotypes != nullptr) {
    for (size_t k = 0; k < phenotypes->count(); ++k) phenotypes->apply(cohort, k, true);
    if (phenotypes->count() > 1) phenotypes->apply(cohort, 0, false);
  }
  if (options.covariateFile.empty() && options.covariateRequest.empty()) return {};
  // A covariate of 0 is a value (a sex code, an indicator), so the default
  // missing-trait code 0 does not make it missing; a code given with --mt
  // does.
  const std::string missingCode = options.missingTraitGiven ? options.missingTrait : std::string("NA");
  return attachCovariates(cohort, options.covariateFile, options.covariateRequest, missingCode);
}

}  // namespace ombra
