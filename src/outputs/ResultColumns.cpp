#include "outputs/ResultColumns.h"

#include <cmath>

#include "outputs/PrintfNumbers.h"

namespace ombra {

size_t ResultColumns::add(const std::vector<ColumnSpec>& specs) {
  const size_t first = specs_.size();
  specs_.insert(specs_.end(), specs.begin(), specs.end());
  return first;
}

std::vector<double> ResultColumns::untestedValues() const {
  std::vector<double> values;
  values.reserve(specs_.size());
  for (const ColumnSpec& spec : specs_) values.push_back(spec.untested);
  return values;
}

namespace columns {

namespace {
// NA right-aligned in `width`.
void appendNA(std::string& out, size_t width) {
  out.append(width - 2, ' ');
  out += "NA";
}
}  // namespace

void number(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NA";
  } else {
    appendGeneral(out, value, 10);
  }
}

void pValue(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NA";
  } else {
    appendScientific(out, value, 6);
  }
}

void fixedStatistic(std::string& out, double value, bool untested) {
  if (untested) {
    out.append(14, ' ');
    out += '0';
  } else {
    appendFixedPoint(out, value, 6, 15);
  }
}

void fixedStatisticOrNA(std::string& out, double value, bool untested) {
  if (std::isnan(value)) {
    appendNA(out, 15);
  } else {
    fixedStatistic(out, value, untested);
  }
}

void fixedPValue(std::string& out, double value, bool) { appendScientific(out, value, 6, 20); }

void fixedPValueOrNA(std::string& out, double value, bool) {
  if (std::isnan(value)) {
    appendNA(out, 20);
  } else {
    appendScientific(out, value, 6, 20);
  }
}

void fixedNumberOrNA(std::string& out, double value, bool) {
  if (std::isnan(value)) {
    appendNA(out, 15);
  } else {
    appendScientific(out, value, 6, 15);
  }
}

}  // namespace columns

std::vector<ColumnSpec> chiSquareColumns(const std::string& name, bool fixed) {
  return {
      {"STAT_" + name, columns::number, fixed ? columns::fixedStatisticOrNA : nullptr, 0.0},
      {"P_" + name, columns::pValue, fixed ? columns::fixedPValueOrNA : nullptr, 1.0},
      {"LOG10P_" + name, columns::number, nullptr, 0.0},
  };
}

}  // namespace ombra
