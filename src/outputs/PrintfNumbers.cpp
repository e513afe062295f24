#include "outputs/PrintfNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ombra {

namespace {

// The widest text of a double here: a sign, 309 integer digits, the point
// and the precision's digits.
constexpr size_t kField = 512;

// Right-aligns `length` characters of `field` in `width` and appends them.
void appendPadded(std::string& out, const char* field, size_t length, int width) {
  const size_t wide = width > 0 ? static_cast<size_t>(width) : 0;
  if (length < wide) out.append(wide - length, ' ');
  out.append(field, length);
}

void appendByToChars(std::string& out, double value, std::chars_format format, int precision, int width) {
  char field[kField];
  const std::to_chars_result written = std::to_chars(field, field + kField, value, format, precision);
  // Only a precision far beyond any column's would not fit; write nothing
  // rather than a cut number.
  if (written.ec != std::errc()) return;
  appendPadded(out, field, static_cast<size_t>(written.ptr - field), width);
}

// The powers of ten that doubles hold exactly.
constexpr double kExactPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common columns, "%.6e" and "%.6f" of ordinary magnitudes, are written
// from one multiplication or division by an exact power of ten, rounded to
// an integer of digits: a single IEEE operation, so the scaled value is
// within half a unit in its last place of the exact one, and its nearest
// integer is the correctly rounded one unless the scaled value lies within
// that error of a half. Those (exact decimal ties among them) and every
// other magnitude go to std::to_chars, which rounds the exact binary value.
// A scaled value below 2^31 keeps that error below 2^-22.
constexpr double kTieMargin = 1.0 / (1 << 20);

// Writes `digits` (below 10^count) as `count` decimal digits ending at `end`.
void putDigits(char* end, uint64_t digits, int count) {
  for (int k = 0; k < count; ++k) {
    *--end = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
}

// The scaled value's nearest integer when it is certain; false near a half.
bool certainRound(double scaled, uint64_t& rounded) {
  const double below = std::floor(scaled);
  const double fraction = scaled - below;  // exact: both lie in the same binade or below
  if (std::fabs(fraction - 0.5) < kTieMargin) return false;
  rounded = static_cast<uint64_t>(below) + (fraction > 0.5 ? 1 : 0);
  return true;
}

// "%.6e" of a finite nonzero magnitude 1e-15 <= |value| < 1e22, or false.
bool scientificSix(double value, char* field, size_t& length) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-15 && magnitude < 1e22)) return false;
  // A first guess of the decimal exponent from the binary one (at most one
  // too small), corrected below until the scaled value rounds to seven
  // digits.
  int exponent = static_cast<int>(std::floor(std::ilogb(magnitude) * 0.30102999566398120));
  uint64_t digits = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 4) return false;
    const int shift = 6 - exponent;
    if (shift < -22 || shift > 22) return false;
    const double scaled = shift >= 0 ? magnitude * kExactPowers[shift] : magnitude / kExactPowers[-shift];
    if (!certainRound(scaled, digits)) return false;
    if (digits < 1000000) {
      --exponent;
    } else if (digits >= 10000000) {
      ++exponent;
    } else {
      break;
    }
  }
  char* at = field;
  if (std::signbit(value)) *at++ = '-';
  at[0] = static_cast<char>('0' + digits / 1000000);
  at[1] = '.';
  putDigits(at + 8, digits % 1000000, 6);
  at += 8;
  *at++ = 'e';
  *at++ = exponent < 0 ? '-' : '+';
  const int power = exponent < 0 ? -exponent : exponent;
  const int powerDigits = power >= 100 ? 3 : 2;
  putDigits(at + powerDigits, static_cast<uint64_t>(power), powerDigits);
  at += powerDigits;
  length = static_cast<size_t>(at - field);
  return true;
}

// "%.6f" of a finite magnitude below 2000 (the statistics' usual range), or false.
bool fixedSix(double value, char* field, size_t& length) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 2000)) return false;
  uint64_t digits = 0;
  if (!certainRound(magnitude * 1e6, digits)) return false;
  char* at = field;
  if (std::signbit(value)) *at++ = '-';
  const uint64_t whole = digits / 1000000;
  char integer[8];
  char* start = integer + sizeof integer;
  uint64_t rest = whole;
  do {
    *--start = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest > 0);
  const size_t integerLength = static_cast<size_t>(integer + sizeof integer - start);
  std::memcpy(at, start, integerLength);
  at += integerLength;
  *at++ = '.';
  putDigits(at + 6, digits % 1000000, 6);
  at += 6;
  length = static_cast<size_t>(at - field);
  return true;
}

}  // namespace

// The fast forms write after this many characters of room for the padding
// (the columns are at most 20 wide), so that a field goes into the line in
// one append.
constexpr size_t kRoom = 24;

void appendRoomy(std::string& out, char* field, size_t length, int width) {
  size_t pad = 0;
  if (width > 0 && length < static_cast<size_t>(width)) pad = std::min(static_cast<size_t>(width) - length, kRoom);
  std::memset(field + kRoom - pad, ' ', pad);
  out.append(field + kRoom - pad, pad + length);
}

void appendScientific(std::string& out, double value, int precision, int width) {
  char field[kRoom + 32];
  size_t length = 0;
  if (precision == 6 && scientificSix(value, field + kRoom, length) && width <= static_cast<int>(kRoom)) {
    appendRoomy(out, field, length, width);
  } else {
    appendByToChars(out, value, std::chars_format::scientific, precision, width);
  }
}

void appendFixedPoint(std::string& out, double value, int precision, int width) {
  char field[kRoom + 32];
  size_t length = 0;
  if (precision == 6 && fixedSix(value, field + kRoom, length) && width <= static_cast<int>(kRoom)) {
    appendRoomy(out, field, length, width);
  } else {
    appendByToChars(out, value, std::chars_format::fixed, precision, width);
  }
}

void appendGeneral(std::string& out, double value, int precision) {
  appendByToChars(out, value, std::chars_format::general, precision, 0);
}

}  // namespace ombra
