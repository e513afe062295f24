// The result files' numbers are written without snprintf; these hold the
// replacement to snprintf's bytes for each format the result lines use,
// over values of every kind: random bit patterns (all magnitudes,
// subnormals, not-a-numbers of both signs), decimal rounding ties that are
// exact in binary, carries into a new leading digit, the switch points of
// %g, signed zeros, infinities and the largest doubles in fixed notation.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "outputs/PrintfNumbers.h"

namespace {

enum class Kind { kScientific, kFixed, kGeneral };

struct Format {
  const char* printf;
  Kind kind;
  int precision;
  int width;
};

// Every format of the result lines.
const Format kFormats[] = {
    {"%10.6e", Kind::kScientific, 6, 10}, {"%15.6e", Kind::kScientific, 6, 15},
    {"%20.6e", Kind::kScientific, 6, 20}, {"%.6e", Kind::kScientific, 6, 0},
    {"%15.6f", Kind::kFixed, 6, 15},      {"%.10g", Kind::kGeneral, 10, 0},
};

std::string byPrintf(const Format& format, double value) {
  char field[1024];
  const int length = std::snprintf(field, sizeof field, format.printf, value);
  return std::string(field, static_cast<size_t>(length));
}

std::string byOmbra(const Format& format, double value) {
  std::string out = "<";  // text already in the line stays in front
  switch (format.kind) {
    case Kind::kScientific: ombra::appendScientific(out, value, format.precision, format.width); break;
    case Kind::kFixed: ombra::appendFixedPoint(out, value, format.precision, format.width); break;
    case Kind::kGeneral: ombra::appendGeneral(out, value, format.precision); break;
  }
  return out.substr(1);
}

double fromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Checks every format on every value (and its negation); reports the first
// few differences of each format.
void expectAsPrintf(const std::vector<double>& values) {
  for (const Format& format : kFormats) {
    int failures = 0;
    for (double base : values) {
      for (double value : {base, -base}) {
        const std::string expected = byPrintf(format, value);
        const std::string got = byOmbra(format, value);
        if (got != expected && ++failures <= 5) {
          ADD_FAILURE() << format.printf << " of " << std::hexfloat << value << ": printf '" << expected
                        << "', Ombra '" << got << "'";
        }
      }
    }
    EXPECT_EQ(failures, 0) << format.printf << " over " << values.size() << " values";
  }
}

TEST(PrintfNumbers, SpecialValuesAsPrintf) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  expectAsPrintf({0.0, nan, std::copysign(nan, -1.0), fromBits(0x7ff0000000000001ULL), inf,
                  std::numeric_limits<double>::denorm_min(), DBL_MIN, std::nextafter(DBL_MIN, 0.0), DBL_MAX,
                  DBL_EPSILON, 1.0, 0.5, 2.0, 1e-300, 1e300, 1e22, 1e23, 123456789012345678.0});
  // The columns' known cases: NaN statistics print "-nan"/"nan" padded.
  EXPECT_EQ(byOmbra(kFormats[4], -nan), "           -nan");
  EXPECT_EQ(byOmbra(kFormats[2], -0.0), "       -0.000000e+00");
}

TEST(PrintfNumbers, RandomBitPatternsAsPrintf) {
  std::mt19937_64 random(20261208);
  std::vector<double> values;
  for (int i = 0; i < 60000; ++i) values.push_back(fromBits(random()));
  expectAsPrintf(values);
}

TEST(PrintfNumbers, RandomMagnitudesAsPrintf) {
  // Values a result line holds: frequencies, statistics up to thousands,
  // p-values down to the smallest doubles; uniform in the exponent.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(-320, 40);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> values;
  for (int i = 0; i < 60000; ++i) values.push_back(std::pow(10.0, exponent(random)));
  for (int i = 0; i < 20000; ++i) values.push_back(unit(random));
  // Short decimals, as frequencies of small counts are (k / 2n).
  for (int n = 1; n <= 300; ++n) {
    for (int k = 0; k <= 2 * n; k += 7) values.push_back(static_cast<double>(k) / (2.0 * n));
  }
  expectAsPrintf(values);
}

TEST(PrintfNumbers, ExactDecimalTiesRoundToEvenAsPrintf) {
  std::vector<double> values;
  // j / 2^7 ends in 5 at the 7th decimal: an exact tie for "%.6f".
  for (int j = 0; j < 4096; ++j) values.push_back(j / 128.0);
  for (int j = 0; j < 4096; ++j) values.push_back(1000.0 + j / 128.0);
  // d.dddddd5 x 10^k exact in binary: ties at the 7th significant digit
  // ("%.6e"), from integers plus a half and from integers ending in 5.
  for (int j = 0; j < 2000; ++j) values.push_back(1234560.5 + j);
  for (int j = 0; j < 2000; ++j) values.push_back(9999990.5 + j * 0.5);
  for (int64_t j = 0; j < 2000; ++j) values.push_back(static_cast<double>(12345605 + 10 * j));
  // 11 significant digits ending in 5: ties for "%.10g".
  for (int64_t j = 0; j < 2000; ++j) values.push_back(static_cast<double>(int64_t{12345678905} + 10 * j));
  for (int j = 0; j < 2000; ++j) values.push_back(1234567890.5 + j);
  // Dyadic fractions with long exact expansions.
  for (int k = 1; k <= 1074; ++k) values.push_back(std::ldexp(3.0, -k));
  for (int k = 0; k <= 1023; ++k) values.push_back(std::ldexp(1.0, k) + (k < 52 ? 0.5 : 0));
  expectAsPrintf(values);
}

TEST(PrintfNumbers, CarriesAndGeneralSwitchPointsAsPrintf) {
  std::vector<double> values;
  // A rounding that carries into a new leading digit (9.9999995 -> 1.000000e+01)
  // and its neighbours on both sides, at every decimal scale.
  const double nines[] = {9.9999995, 9.99999949999, 99999.9999995, 0.99999995, 9999999.5, 9.9999999995,
                          99999.99999, 999999.9999, 9999999999.5, 0.000099999999995, 0.0001, 1e-5};
  for (double nine : nines) {
    for (int scale = -300; scale <= 300; scale += 3) {
      double value = nine * std::pow(10.0, scale);
      for (int step = 0; step < 6; ++step) value = std::nextafter(value, 0.0);
      for (int step = 0; step < 12; ++step) {
        values.push_back(value);
        value = std::nextafter(value, HUGE_VAL);
      }
    }
  }
  // Powers of ten and their neighbours: %g changes notation at 1e-4 and 1e10.
  for (int k = -320; k <= 308; ++k) {
    const double power = std::pow(10.0, k);
    values.push_back(power);
    values.push_back(std::nextafter(power, 0.0));
    values.push_back(std::nextafter(power, HUGE_VAL));
  }
  expectAsPrintf(values);
}

// The common magnitudes are written from one scaling by a power of ten; the
// doubles nearest a decimal half of the last written digit, and their
// neighbours a few units away, must still round as printf rounds them.
TEST(PrintfNumbers, NearDecimalHalvesOfOrdinaryMagnitudesAsPrintf) {
  std::mt19937_64 random(99);
  std::uniform_int_distribution<int> seven(1000000, 9999999), exponent(-17, 23), whole(0, 2100);
  std::uniform_int_distribution<int> six(0, 999999);
  std::vector<double> values;
  char text[64];
  for (int i = 0; i < 6000; ++i) {
    // d.dddddd5 x 10^k (scientific) and w.dddddd5 (fixed), as the nearest double.
    std::snprintf(text, sizeof text, "%d5e%d", seven(random), exponent(random) - 7);
    double scientific = std::strtod(text, nullptr);
    std::snprintf(text, sizeof text, "%d.%06d5", whole(random), six(random));
    double fixed = std::strtod(text, nullptr);
    for (int step = 0; step < 3; ++step) {
      scientific = std::nextafter(scientific, 0.0);
      fixed = std::nextafter(fixed, 0.0);
    }
    for (int step = 0; step < 7; ++step) {
      values.push_back(scientific);
      values.push_back(fixed);
      scientific = std::nextafter(scientific, HUGE_VAL);
      fixed = std::nextafter(fixed, HUGE_VAL);
    }
  }
  expectAsPrintf(values);
}

TEST(PrintfNumbers, HugeFixedValuesKeepEveryDigit) {
  std::vector<double> values = {DBL_MAX, 1e308, 1.7976931348623157e308, 1e300, 123456789e200, 4.5e15, 9007199254740993.0};
  for (int k = 60; k <= 1023; k += 7) values.push_back(std::ldexp(1.0, k) * 1.2345);
  expectAsPrintf(values);
  std::string out;
  ombra::appendFixedPoint(out, DBL_MAX, 6, 15);
  EXPECT_EQ(out.size(), 309u + 7u);
}

TEST(PrintfNumbers, AppendsAfterTheLineSoFar) {
  std::string out = "rs1\t";
  ombra::appendScientific(out, 0.25, 6, 10);
  out += '\t';
  ombra::appendFixedPoint(out, 3.5, 6, 15);
  ombra::appendScientific(out, 1e-300, 6, 20);
  out += '\t';
  ombra::appendGeneral(out, 0.1, 10);
  EXPECT_EQ(out, "rs1\t2.500000e-01\t       3.500000       1.000000e-300\t0.1");
}

}  // namespace
