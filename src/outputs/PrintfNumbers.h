// Numbers written exactly as C's printf writes them, without printf's cost.
// A run of many phenotypes writes ten numbers per SNP and phenotype, and
// snprintf (format parsing, locale, its stream machinery) was a third of
// such a run. The usual columns come from one scaling by an exact power of
// ten where its rounding is certain, everything else from std::to_chars,
// whose output with a precision is the correctly rounded decimal that
// glibc's printf also gives (ties to even on the exact binary value, "inf",
// "nan" and "-nan" by the sign bit, "-0"), so every result file keeps its
// bytes; tests/PrintfNumbersTest.cpp holds them to snprintf over every kind
// of double.
#ifndef OMBRA_OUTPUTS_PRINTFNUMBERS_H
#define OMBRA_OUTPUTS_PRINTFNUMBERS_H

#include <string>

namespace ombra {

// Appends `value` as printf's "%<width>.<precision>e": scientific notation
// with `precision` digits after the point, right-aligned in at least
// `width` characters (width 0: no padding).
void appendScientific(std::string& out, double value, int precision, int width = 0);

// Appends `value` as printf's "%<width>.<precision>f": every digit of the
// integer part (up to 309 of them), `precision` after the point.
void appendFixedPoint(std::string& out, double value, int precision, int width = 0);

// Appends `value` as printf's "%.<precision>g": the shorter of fixed and
// scientific notation by C's rule, trailing zeros and a bare point removed.
void appendGeneral(std::string& out, double value, int precision);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_PRINTFNUMBERS_H
