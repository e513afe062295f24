// Probability functions of the association test and the wider distribution
// library: special functions, densities, distribution functions, quantiles,
// random draws, Fisher's exact test and multiple-testing procedures.
//
// Invalid arguments print a message on standard output (no line break) and
// give not-a-number; the run goes on. The one exception is chisq(k <= 0),
// which stops the run (core/RunEnd.h) with status 1.
#ifndef OMBRA_STATISTIC_H
#define OMBRA_STATISTIC_H

#include <cstdint>
#include <vector>

class StatisticTool {
 public:
  StatisticTool();

  // ---- Chi-square chain used by the association test (no allocation) ----
  // P(X <= x) for a chi-square variable with v degrees of freedom.
  double chi2cdf(double x, int v);
  // P(X <= x) for a gamma variable with shape a and scale b.
  double gamcdf(double x, double a, double b);
  // Regularized lower incomplete gamma function P(a, x).
  double gammainc(double x, double a);
  // ln Gamma(x) for x > 0.
  double gammaln(double x);

  // ---- Special functions ----
  // jint 0: erf(x), 1: erfc(x), 2: exp(x^2) erfc(x) (W. J. Cody's method).
  double erfcore(double x, double jint);
  double erf(double x);
  double erfc(double x);
  double erfinv(double y);
  double erfcinv(double x);
  // Note: returns ln Gamma(x) (older Lanczos coefficients), not Gamma(x).
  double gamma(double x);
  double beta(double a, double b);
  double betaln(double a, double b);
  // Continued fraction of the incomplete beta function.
  double beta_cf(double a, double b, double x);
  // Regularized incomplete beta function I_x(a, b).
  double betainc(double x, double a, double b);
  // Same as betainc(x, a, b).
  double beta(double x, double a, double b);
  // ln(n!), 0 for n < 1.
  double sumLog(int n);

  // ---- Continuous distributions ----
  double normpdf(double x, double mu, double sigma);
  double normcdf(double x, double mu, double sigma);
  double norminv(double p, double mu, double sigma);
  double lognpdf(double x, double mu, double sigma);
  double logncdf(double x, double mu, double sigma);
  double logninv(double p, double mu, double sigma);
  double gampdf(double x, double a, double b);
  double gaminv(double p, double a, double b);
  double chi2pdf(double x, int v);
  double chi2inv(double p, int v);
  double betapdf(double x, double a, double b);
  double betacdf(double x, double a, double b);
  double betainv(double p, double a, double b);
  double fpdf(double x, int v1, int v2);
  double fcdf(double x, int v1, int v2);
  double finv(double p, double v1, double v2);
  double tpdf(double x, int v);
  double tcdf(double x, double v);
  double tinv(double p, double v);
  // Exponential with mean mu.
  double exppdf(double x, double mu);
  double expcdf(double x, double mu);
  double expinv(double p, double mu);
  double unifpdf(double x, double a, double b);
  double unifcdf(double x, double a, double b);
  double unifinv(double p, double a, double b);
  double raylpdf(double x, double b);
  double raylcdf(double x, double b);
  double raylinv(double p, double b);
  // Weibull with scale A and shape B.
  double weibpdf(double x, int A, int B);
  // Weibull in the form 1 - exp(-a x^b), as are weibinv and weibrnd.
  double weibcdf(double x, double a, double b);
  double weibinv(double p, double a, double b);

  // ---- Discrete distributions (x is a count) ----
  double poisspdf(int x, double lambda);
  double poisscdf(int x, double lambda);
  double poissinv(double p, double lambda);
  double binopdf(int x, int n, double p);
  double binocdf(int x, int n, double p);
  double binoinv(double y, int n, double p);
  // Number of failures before the r-th success.
  double nbinpdf(int x, int r, double p);
  double nbincdf(int x, int r, double p);
  double nbininv(double y, int r, double p);
  // Number of failures before the first success.
  double geopdf(int x, double p);
  double geocdf(int x, double p);
  double geoinv(double y, double p);
  // x successes in N draws without replacement from M items, K of them
  // successes.
  double hygepdf(int x, int M, int K, int N);
  double hygecdf(int x, int M, int K, int N);
  double hygeinv(double p, int M, int K, int N);
  double unidpdf(int x, int n);
  double unidcdf(int x, int n);
  double unidinv(double p, int n);

  // ---- Random draws (Wichmann-Hill uniforms underneath) ----
  // Seeds are reduced into each generator's range; a seed that reduces to 0
  // becomes 1, since a zero seed would stay zero for ever.
  void setSeeds(int64_t s1, int64_t s2, int64_t s3);
  double rand1();
  double nrandom(double mu, double sigma);
  double normrnd(double mu, double sigma);
  // Ends the program with status 1 when k <= 0.
  double chisq(int k);
  // Gamma draw with integer shape k and rate `rate`.
  double llgamma(double rate, int k);
  void Dirichlet(double* out, const int* alpha, int k);
  void multinomial(int n, const double* prob, int* counts, int k);
  double lognrnd(double mu, double sigma);
  double hygernd(int M, int K, int N);
  double geornd(double p);
  double gamrnd(double a, double b);
  double betarnd(double a, double b);
  double frnd(double v1, double v2);
  double exprnd(double mu);
  double poissrnd(double lambda);
  double binornd(int n, double p);
  double nbinrnd(int r, double p);
  double raylrnd(double b);
  double trnd(double v);
  double unidrnd(int n);
  double unifrnd(double a, double b);
  double weibrnd(double a, double b);
  double ncfrnd(double v1, double v2, double delta);
  double nctrnd(double v, double delta);
  double ncx2rnd(double v, double delta);

  // ---- Exact test and multiple testing ----
  // Appends ln(0!) .. ln(n!) to the log-factorial table.
  void InitializeFisherIndex(int n);
  // Hypergeometric probability of the 2 x 2 table (a, b; c, d) given its
  // margins; NaN if a count is negative.
  double ExactTest(int a, int b, int c, int d);
  // tail 0: upper, 1: lower, anything else: two-sided.
  double FisherExactTest(int a, int b, int c, int d, int tail);
  // p holds m p-values in increasing order; results count rejections.
  int LinStepUp(int m, const double* p, double q);
  int ALinStepUp(int m, const double* p, double q);
  int Bonferroni(int m, const double* p, double q);

 private:
  int64_t seed1;
  int64_t seed2;
  int64_t seed3;
  // Entry k holds ln(k!).
  std::vector<double> logFactorial;

  static double reportInvalid(const char* message);
  double lowerGammaSeries(double x, double a);
  double upperGammaFraction(double x, double a);
  double gammaDensity(double x, double a);
  double poissonMass(long long x, double lambda);
  double binomialMass(long long x, long long n, double p);
  double negBinomialMass(long long x, long long r, double p);
  double hyperMass(long long x, long long M, long long K, long long N);
  double normalFromUniformPair();
  double poissonByInversion(double lambda);
  double poissonByRejection(double lambda);
  double tableProbability(long long x, int r1, int c1, int c2);
};

#endif  // OMBRA_STATISTIC_H
