// The imputation quality (INFO) of a SNP from its genotypes over n
// individuals, in the two forms imputation programs report: from dosages
// alone MACH's r-squared, from genotype probabilities IMPUTE's info. Both
// are 1 for certain calls in Hardy-Weinberg proportions and fall towards 0
// as the genotypes carry less information; both are 1 when f = sum / 2n is
// 0 or 1.
#ifndef OMBRA_FORMATS_IMPUTATIONINFO_H
#define OMBRA_FORMATS_IMPUTATIONINFO_H

namespace ombra {

// MACH's r-squared: the dosages' variance over the binomial 2f(1 - f), from
// their sum and sum of squares (it can pass 1 slightly).
double machInfo(double sum, double squares, double n);

// IMPUTE's info: 1 - (variances + filled 2f(1 - f)) / (2n f(1 - f)), where
// `variances` is the sum over the individuals of E[g^2] - E[g]^2 of their
// genotype probabilities and `filled` individuals without probabilities (a
// missing genotype held at its fill value) are counted as knowing nothing
// of their genotype: the binomial variance.
double probabilityInfo(double sum, double variances, double filled, double n);

}  // namespace ombra

#endif  // OMBRA_FORMATS_IMPUTATIONINFO_H
