#include "outputs/ResultTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/Records.h"
#include "core/ResourceLimits.h"

namespace ombra {

namespace {

void appendLeft(std::string& out, const std::string& text, size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void appendFormatted(std::string& out, const char* format, double value) {
  char field[512];  // the widest fixed-notation double takes 317 characters
  const int length = std::snprintf(field, sizeof field, format, value);
  if (length > 0) out.append(field, std::min(static_cast<size_t>(length), sizeof field - 1));
}

// A number right-aligned in `width` characters, or NA there.
void appendFixedNumber(std::string& out, const char* format, double value, size_t width) {
  if (std::isnan(value)) {
    out.append(width - 2, ' ');
    out += "NA";
  } else {
    appendFormatted(out, format, value);
  }
}

void appendFixed(std::string& out, const Marker& marker, const SnpResult& r, bool mixedModel) {
  appendLeft(out, marker.snpId, 20);
  appendLeft(out, marker.allele1, 5);
  appendLeft(out, marker.allele2, 5);
  appendFormatted(out, "%10.6e", 1 - r.f);
  out += '\t';
  appendFormatted(out, "%10.6e", r.f);
  for (int k = 0; k < 3; ++k) appendFixedStatistic(out, r.statistic[k], r.p[k], r.monomorphic);
  if (mixedModel) {
    appendFixedNumber(out, "%15.6e", r.lmmBeta, 15);
    appendFixedNumber(out, "%15.6e", r.lmmSe, 15);
    if (std::isnan(r.lmmStatistic)) {
      appendFixedNumber(out, "", r.lmmStatistic, 15);
      appendFixedNumber(out, "", r.lmmP, 20);
    } else {
      appendFixedStatistic(out, r.lmmStatistic, r.lmmP, r.monomorphic);
    }
  }
  out += '\n';
}

void appendNumber(std::string& out, const char* format, double value) {
  if (std::isnan(value)) {
    out += "NA";
  } else {
    appendFormatted(out, format, value);
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
  appendNumber(out, "%.10g", 1 - r.f);
  out += '\t';
  appendNumber(out, "%.10g", r.f);
  out += '\t';
  out += std::to_string(r.tested);
  for (int k = 0; k < 3; ++k) {
    out += '\t';
    appendNumber(out, "%.10g", r.statistic[k]);
    out += '\t';
    appendNumber(out, "%.6e", r.p[k]);
  }
  for (double value : {r.beta, r.se, r.info}) {
    out += '\t';
    appendNumber(out, "%.10g", value);
  }
  if (mixedModel) {
    for (double value : {r.lmmBeta, r.lmmSe, r.lmmStatistic}) {
      out += '\t';
      appendNumber(out, "%.10g", value);
    }
    out += '\t';
    appendNumber(out, "%.6e", r.lmmP);
  }
  out += '\n';
}

}  // namespace

void appendFixedStatistic(std::string& out, double statistic, double p, bool monomorphic) {
  if (monomorphic) {
    out.append(14, ' ');
    out += '0';
  } else {
    appendFormatted(out, "%15.6f", statistic);
  }
  appendFormatted(out, "%20.6e", p);
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
