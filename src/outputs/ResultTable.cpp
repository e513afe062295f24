#include "outputs/ResultTable.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/Records.h"
#include "core/ResourceLimits.h"
#include "outputs/PrintfNumbers.h"

namespace ombra {

namespace {

void appendLeft(std::string& out, const std::string& text, size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

// A number right-aligned in `width` characters as "%<width>.6e", or NA there.
void appendFixedNumber(std::string& out, double value, int width) {
  if (std::isnan(value)) {
    out.append(static_cast<size_t>(width) - 2, ' ');
    out += "NA";
  } else {
    appendScientific(out, value, 6, width);
  }
}

void appendFixed(std::string& out, const Marker& marker, const SnpResult& r, bool mixedModel) {
  appendLeft(out, marker.snpId, 20);
  appendLeft(out, marker.allele1, 5);
  appendLeft(out, marker.allele2, 5);
  appendScientific(out, 1 - r.f, 6, 10);
  out += '\t';
  appendScientific(out, r.f, 6, 10);
  for (int k = 0; k < 3; ++k) appendFixedStatistic(out, r.statistic[k], r.p[k], r.monomorphic);
  if (mixedModel) {
    appendFixedNumber(out, r.lmmBeta, 15);
    appendFixedNumber(out, r.lmmSe, 15);
    if (std::isnan(r.lmmStatistic)) {
      // Its p-value is not a number too (an earlier version wrote nothing
      // in its column otherwise, a short line).
      out.append(13, ' ');
      out += "NA";
      appendFixedNumber(out, r.lmmP, 20);
    } else {
      appendFixedStatistic(out, r.lmmStatistic, r.lmmP, r.monomorphic);
    }
  }
  out += '\n';
}

// "%.10g" (or "%.6e" for a p-value), or NA for not a number.
void appendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NA";
  } else {
    appendGeneral(out, value, 10);
  }
}

void appendPValue(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NA";
  } else {
    appendScientific(out, value, 6);
  }
}

void appendTsv(std::string& out, const Marker& marker, const SnpResult& r, bool mixedModel) {
  out += marker.chr;
  out += '\t';
  out += std::to_string(marker.position);
  out += '\t';
  out += marker.snpId;
  for (const std::string* allele : {&marker.allele1, &marker.allele2}) {
    out += '\t';
    out += allele->empty() ? std::string("NA") : *allele;
  }
  out += '\t';
  appendNumber(out, 1 - r.f);
  out += '\t';
  appendNumber(out, r.f);
  out += '\t';
  out += std::to_string(r.tested);
  for (int k = 0; k < 3; ++k) {
    out += '\t';
    appendNumber(out, r.statistic[k]);
    out += '\t';
    appendPValue(out, r.p[k]);
  }
  for (double value : {r.beta, r.se, r.info}) {
    out += '\t';
    appendNumber(out, value);
  }
  if (mixedModel) {
    for (double value : {r.lmmBeta, r.lmmSe, r.lmmStatistic}) {
      out += '\t';
      appendNumber(out, value);
    }
    out += '\t';
    appendPValue(out, r.lmmP);
  }
  out += '\n';
}

}  // namespace

void appendFixedStatistic(std::string& out, double statistic, double p, bool monomorphic) {
  if (monomorphic) {
    out.append(14, ' ');
    out += '0';
  } else {
    appendFixedPoint(out, statistic, 6, 15);
  }
  appendScientific(out, p, 6, 20);
}

std::string resultHeader(ResultLayout layout) {
  if (layout.format == ResultFormat::kFixed) return std::string();
  std::string header = "CHR\tBP\tSNP\tA1\tA2\tFREQ1\tFREQ2\tN\tSTAT_SS\tP_SS\tSTAT_T\tP_T\tSTAT_T1\tP_T1\tBETA\tSE\tINFO";
  if (layout.mixedModel) header += "\tBETA_LMM\tSE_LMM\tSTAT_LMM\tP_LMM";
  return header + '\n';
}

void appendResultLine(std::string& out, ResultLayout layout, const Marker& marker, const SnpResult& result) {
  if (layout.format == ResultFormat::kFixed) {
    appendFixed(out, marker, result, layout.mixedModel);
  } else {
    appendTsv(out, marker, result, layout.mixedModel);
  }
}

ResultFile::~ResultFile() {
  if (compressed) deflateEnd(&stream);
}

void ResultFile::open(const std::string& path, bool gzip) {
  file.open(path);
  compressed = gzip;
  if (!compressed) return;
  stream = z_stream{};
  // windowBits 15 + 16: a gzip header and trailer around the deflate data.
  if (deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    stopRun(outOfMemoryMessage());
  }
  buffer.resize(size_t{1} << 18);
}

void ResultFile::deflateInto(int flush) {
  do {
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    deflate(&stream, flush);
    const size_t produced = buffer.size() - stream.avail_out;
    file.put(std::string_view(reinterpret_cast<const char*>(buffer.data()), produced));
  } while (stream.avail_out == 0);
}

void ResultFile::put(std::string_view text) {
  if (!compressed) {
    file.put(text);
    return;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  deflateInto(Z_NO_FLUSH);
}

void ResultFile::close() {
  if (compressed) {
    stream.next_in = nullptr;
    stream.avail_in = 0;
    deflateInto(Z_FINISH);
    deflateEnd(&stream);
    compressed = false;
  }
  file.close();
}

double genomicInflation(std::vector<double> statistics) {
  statistics.erase(std::remove_if(statistics.begin(), statistics.end(), [](double s) { return !std::isfinite(s); }),
                   statistics.end());
  if (statistics.empty()) return std::numeric_limits<double>::quiet_NaN();
  const size_t half = statistics.size() / 2;
  std::nth_element(statistics.begin(), statistics.begin() + static_cast<long>(half), statistics.end());
  double median = statistics[half];
  if (statistics.size() % 2 == 0) {
    median = (median + *std::max_element(statistics.begin(), statistics.begin() + static_cast<long>(half))) / 2;
  }
  return median / 0.4549364;
}

}  // namespace ombra
