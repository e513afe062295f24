// The study design a run's options ask for: the traits of a phenotype file
// in place of the sample files', and the covariate columns every
// individual brings to the design of the test.
#include <iostream>
#include <memory>

#include "Test.h"
#include "design/Covariates.h"
#include "design/SampleTable.h"

void CTest::applyStudyDesign() {
  if (!phenotypeName.empty() && phenotypeFile.empty()) {
    ombra::stopRun("The option --pheno-name needs a phenotype file (--pheno).\n");
  }
  if (!phenotypeFile.empty()) applyPhenotype();
  if (!covariateFile.empty() || !covariateRequest.empty()) attachCovariates();
}

// The same coding as a sample file's trait: 1 unaffected, 2 affected, the
// missing codes (NA, -9, --mt) missing, any other number quantitative.
void CTest::applyPhenotype() {
  const ombra::SampleTable table(phenotypeFile);
  if (table.names().empty()) ombra::stopRun("The phenotype file " + phenotypeFile + " has no phenotype column.\n");
  const size_t column = phenotypeName.empty() ? 0 : table.column(phenotypeName, "--pheno-name");
  long affected = 0, unaffected = 0, other = 0, missing = 0;
  forEachIndividual([&](const std::string& famId, Indi& person, bool) {
    const std::vector<std::string>* row = table.row(famId, person.indId);
    const std::string text = row != nullptr ? (*row)[column] : std::string();
    double value = 0;
    if (text.empty() || ombra::isMissingValue(text, missingTrait)) {
      person.trait = missingTrait;
      person.traitValue = ombra::leadingDouble(missingTrait);
      ++missing;
      return;
    }
    if (!ombra::isNumber(text, value)) {
      ombra::stopRun("The phenotype " + text + " of individual " + famId + " " + person.indId + " in " +
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

void CTest::attachCovariates() {
  std::unique_ptr<ombra::SampleTable> table;
  if (!covariateFile.empty()) table = std::make_unique<ombra::SampleTable>(covariateFile);
  std::vector<ombra::SampleKey> people;
  forEachIndividual([&](const std::string& famId, Indi& person, bool) {
    people.push_back(ombra::SampleKey{&famId, &person.indId, &person.sex});
  });
  // A covariate of 0 is a value (a sex code, an indicator), so the default
  // missing-trait code 0 does not make it missing; a code given with --mt
  // does.
  const std::string missingCode = missingTraitGiven ? missingTrait : std::string("NA");
  ombra::CovariateColumns columns = ombra::buildCovariates(table.get(), covariateRequest, people, missingCode);
  covariateNames = columns.names;
  size_t i = 0;
  forEachIndividual([&](const std::string&, Indi& person, bool) { person.covariates = std::move(columns.values[i++]); });
  std::cout << "Covariates (" << covariateNames.size() << " columns):";
  for (const std::string& name : covariateNames) std::cout << " " << name;
  std::cout << "\n";
}
