#include "outputs/ResultTable.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/Records.h"
#include "core/ResourceLimits.h"
#include "outputs/PrintfNumbers.h"
#include "outputs/SsfTable.h"

namespace ombra {

namespace {

void appendLeft(std::string& out, const std::string& text, size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void appendFixed(std::string& out, const ResultLayout& layout, const Marker& marker, const SnpResult& r) {
  appendLeft(out, marker.snpId, 20);
  appendLeft(out, marker.allele1, 5);
  appendLeft(out, marker.allele2, 5);
  appendScientific(out, 1 - r.f, 6, 10);
  out += '\t';
  appendScientific(out, r.f, 6, 10);
  const std::vector<ColumnSpec>& specs = layout.columns.columns();
  for (size_t c = 0; c < specs.size(); ++c) {
    if (specs[c].fixed != nullptr) specs[c].fixed(out, r.values[c], r.monomorphic);
  }
  out += '\n';
}

void appendTsv(std::string& out, const ResultLayout& layout, const Marker& marker, const SnpResult& r) {
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
  columns::number(out, 1 - r.f);
  out += '\t';
  columns::number(out, r.f);
  out += '\t';
  out += std::to_string(r.tested);
  const std::vector<ColumnSpec>& specs = layout.columns.columns();
  for (size_t c = 0; c < specs.size(); ++c) {
    if (specs[c].tsv == nullptr) continue;
    out += '\t';
    specs[c].tsv(out, r.values[c]);
  }
  out += '\t';
  out += r.note.empty() ? std::string("NA") : r.note;
  out += '\t';
  out += marker.allele2.empty() ? std::string("NA") : marker.allele2;
  out += '\t';
  out += std::to_string(r.called);
  out += '\n';
}

}  // namespace

bool ResultLayout::writes(size_t first, size_t count) const {
  const std::vector<ColumnSpec>& specs = columns.columns();
  for (size_t c = first; c < first + count && c < specs.size(); ++c) {
    if (format == ResultFormat::kFixed ? specs[c].fixed != nullptr : specs[c].tsv != nullptr) return true;
    if (format == ResultFormat::kSsf && columns.effect().holds(c)) return true;
  }
  return false;
}

std::string resultHeader(const ResultLayout& layout) {
  if (layout.format == ResultFormat::kFixed) return std::string();
  if (layout.format == ResultFormat::kSsf) return ssfHeader(layout.columns);
  std::string header = "CHR\tBP\tSNP\tA1\tA2\tFREQ1\tFREQ2\tN";
  for (const ColumnSpec& spec : layout.columns.columns()) {
    if (spec.tsv != nullptr) header += '\t' + spec.name;
  }
  return header + "\tNOTE\tEFFECT_ALLELE\tN_CALLED\n";
}

void appendResultLine(std::string& out, const ResultLayout& layout, const Marker& marker, const SnpResult& result) {
  switch (layout.format) {
    case ResultFormat::kFixed: appendFixed(out, layout, marker, result); break;
    case ResultFormat::kTsv: appendTsv(out, layout, marker, result); break;
    case ResultFormat::kSsf: appendSsfLine(out, layout.columns, marker, result); break;
  }
}

ResultFile::~ResultFile() {
  if (compressed) deflateEnd(&stream);
}

void ResultFile::open(const std::string& path, bool gzip, bool digest) {
  file.open(path);
  hash = digest ? std::make_unique<Md5>() : nullptr;
  digestHex.clear();
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
    write(std::string_view(reinterpret_cast<const char*>(buffer.data()), produced));
  } while (stream.avail_out == 0);
}

void ResultFile::write(std::string_view bytes) {
  if (hash != nullptr) hash->add(bytes);
  file.put(bytes);
}

void ResultFile::put(std::string_view text) {
  if (!compressed) {
    write(text);
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
  if (hash != nullptr) digestHex = hash->hex();
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
