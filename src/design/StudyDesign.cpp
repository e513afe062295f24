// The study design a run's options ask for: the traits of a phenotype file
// in place of the sample files', and the covariate columns every
// individual brings to the design of the test.
#include "design/StudyDesign.h"

#include <iostream>
#include <memory>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "design/Covariates.h"
#include "design/SampleTable.h"

namespace ombra {

namespace {


// The same coding as a sample file's trait: 1 unaffected, 2 affected, the
// missing codes (NA, -9, --mt) missing, any other number quantitative.
void applyPhenotype(Cohort& cohort, const std::string& phenotypeFile, const std::string& phenotypeName,
                    const std::string& missingTrait) {
  const SampleTable table(phenotypeFile);
  if (table.names().empty()) stopRun("The phenotype file " + phenotypeFile + " has no phenotype column.\n");
  const size_t column = phenotypeName.empty() ? 0 : table.column(phenotypeName, "--pheno-name");
  long affected = 0, unaffected = 0, other = 0, missing = 0;
  cohort.forEachIndividual([&](const std::string& famId, Individual& person, const DataSet&) {
    const std::vector<std::string>* row = table.row(famId, person.indId);
    const std::string text = row != nullptr ? (*row)[column] : std::string();
    double value = 0;
    if (text.empty() || isMissingValue(text, missingTrait)) {
      person.trait = missingTrait;
      person.traitValue = leadingDouble(missingTrait);
      ++missing;
      return;
    }
    if (!isNumber(text, value)) {
      stopRun("The phenotype " + text + " of individual " + famId + " " + person.indId + " in " +
                     phenotypeFile + " is not a number.\n");
    }
    person.trait = text;
    person.traitValue = value;
    ++(text == "2" ? affected : text == "1" ? unaffected : other);
  });
  std::cout << "Phenotype " << table.names()[column] << " from " << phenotypeFile << ": " << affected
            << " affected, " << unaffected << " unaffected, " << other << " other values, " << missing
            << " missing.\n";
}

// The covariate columns' names, after giving every individual its values.
std::vector<std::string> attachCovariates(Cohort& cohort, const std::string& covariateFile,
                                          const std::vector<std::string>& covariateRequest,
                                          const std::string& missingCode) {
  std::unique_ptr<SampleTable> table;
  if (!covariateFile.empty()) table = std::make_unique<SampleTable>(covariateFile);
  std::vector<SampleKey> people;
  cohort.forEachIndividual([&](const std::string& famId, Individual& person, const DataSet&) {
    people.push_back(SampleKey{&famId, &person.indId, &person.sex});
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

}  // namespace

std::vector<std::string> applyStudyDesign(Cohort& cohort, const StudyDesignOptions& options) {
  if (!options.phenotypeName.empty() && options.phenotypeFile.empty()) {
    stopRun("The option --pheno-name needs a phenotype file (--pheno).\n");
  }
  if (!options.phenotypeFile.empty()) {
    applyPhenotype(cohort, options.phenotypeFile, options.phenotypeName, options.missingTrait);
  }
  if (options.covariateFile.empty() && options.covariateRequest.empty()) return {};
  // A covariate of 0 is a value (a sex code, an indicator), so the default
  // missing-trait code 0 does not make it missing; a code given with --mt
  // does.
  const std::string missingCode = options.missingTraitGiven ? options.missingTrait : std::string("NA");
  return attachCovariates(cohort, options.covariateFile, options.covariateRequest, missingCode);
}

}  // namespace ombra
