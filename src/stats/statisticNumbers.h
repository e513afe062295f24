// Constants and small numeric helpers shared by the sources of StatisticTool.
#ifndef OMBRA_STATISTIC_NUMBERS_H
#define OMBRA_STATISTIC_NUMBERS_H

#include <cmath>
#include <limits>

namespace statnum {

constexpr double kEps = 2.220446049250313e-16;      // 2^-52
constexpr double kSqrtEps = 1.4901161193847656e-08;  // 2^-26
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSqrt2Pi = 2.50662827463100050242;
constexpr double kTwoOverSqrtPi = 1.12837916709551257390;
constexpr double kSmallestNormal = 2.2250738585072014e-308;

// base^n for n >= 0 by repeated squaring and multiplication.
inline double intPower(double base, long long n) {
  double result = 1.0;
  while (n > 0) {
    if (n & 1) result *= base;
    base *= base;
    n >>= 1;
  }
  return result;
}

// c * ln(y), taken as 0 when c is 0 so that boundary terms like 0 * ln(0)
// vanish instead of becoming not-a-number.
inline double xlogy(double c, double y) { return c == 0 ? 0.0 : c * std::log(y); }

// base^power for base >= 0 and power > 0, through exp and log.
inline double realPower(double base, double power) {
  return base == 0 ? 0.0 : std::exp(power * std::log(base));
}

}  // namespace statnum

#endif  // OMBRA_STATISTIC_NUMBERS_H
