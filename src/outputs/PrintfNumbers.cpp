#include "outputs/PrintfNumbers.h"

#include <charconv>
#include <cstring>

namespace ombra {

namespace {

// The widest text of a double here: a sign, 309 integer digits, the point
// and the precision's digits (at most 17 significant are ever asked for,
// but a fixed precision may be larger).
constexpr size_t kField = 512;

void appendField(std::string& out, double value, std::chars_format format, int precision, int width) {
  char field[kField];
  const std::to_chars_result written = std::to_chars(field, field + kField, value, format, precision);
  // Only a precision far beyond any column's would not fit; write nothing
  // rather than a cut number.
  if (written.ec != std::errc()) return;
  const size_t length = static_cast<size_t>(written.ptr - field);
  const size_t wide = width > 0 ? static_cast<size_t>(width) : 0;
  const size_t pad = length < wide ? wide - length : 0;
  const size_t at = out.size();
  out.resize(at + pad + length);
  char* to = &out[at];
  std::memset(to, ' ', pad);
  std::memcpy(to + pad, field, length);
}

}  // namespace

void appendScientific(std::string& out, double value, int precision, int width) {
  appendField(out, value, std::chars_format::scientific, precision, width);
}

void appendFixedPoint(std::string& out, double value, int precision, int width) {
  appendField(out, value, std::chars_format::fixed, precision, width);
}

void appendGeneral(std::string& out, double value, int precision) {
  appendField(out, value, std::chars_format::general, precision, 0);
}

}  // namespace ombra
