// The study design a run's options ask for: the traits of a phenotype file
// in place of the sample files', and the covariate columns every individual
// brings to the design of the test.
#ifndef OMBRA_DESIGN_STUDYDESIGN_H
#define OMBRA_DESIGN_STUDYDESIGN_H

#include <string>
#include <vector>

#include "core/Records.h"

namespace ombra {

struct StudyDesignOptions {
  std::string phenotypeFile;                  // --pheno
  std::string phenotypeName;                  // --pheno-name
  std::string covariateFile;                  // --covar
  std::vector<std::string> covariateRequest;  // --covar-name
  std::string missingTrait = "0";             // --mt
  bool missingTraitGiven = false;
};

// Replaces the traits by the phenotype file's (coded as a sample file's
// trait: 1 unaffected, 2 affected, NA, -9 and the --mt code missing, any
// other number quantitative) and gives every individual its covariates;
// returns the names of the covariate columns (none without covariates).
std::vector<std::string> applyStudyDesign(Cohort& cohort, const StudyDesignOptions& options);

}  // namespace ombra

#endif  // OMBRA_DESIGN_STUDYDESIGN_H
