#include "outputs/SsfTable.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "core/Chromosome.h"
#include "core/Records.h"
#include "outputs/ResultTable.h"

namespace ombra {

namespace {

const char* const kSsfColumns =
    "chromosome\tbase_pair_location\teffect_allele\tother_allele\tbeta\tstandard_error\teffect_allele_frequency\t"
    "p_value\tvariant_id\trsid\tn\tneg_log_10_p_value";

// The format's rsid: "rs" and digits.
bool isRsid(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "rs") != 0) return false;
  for (size_t k = 2; k < name.size(); ++k) {
    if (name[k] < '0' || name[k] > '9') return false;
  }
  return true;
}

void appendField(std::string& out, const std::string& text) {
  out += '\t';
  out += text.empty() ? std::string("NA") : text;
}

void appendNumber(std::string& out, double value, void (*write)(std::string&, double)) {
  out += '\t';
  write(out, value);
}

// A YAML string in double quotes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

}  // namespace

int ssfChromosome(int code) {
  if (code >= 1 && code <= kChromosomeX) return code;
  if (code == kChromosomeXY) return kChromosomeX;
  if (code == kChromosomeY) return 24;
  if (code == kChromosomeMT) return 25;
  return 0;
}

std::string ssfHeader(const ResultColumns& columns) {
  std::string header = kSsfColumns;
  header += "\tSNP\tN";
  for (const ColumnSpec& spec : columns.columns()) {
    if (spec.tsv != nullptr) header += '\t' + spec.name;
  }
  return header + "\tNOTE\n";
}

void appendSsfLine(std::string& out, const ResultColumns& columns, const Marker& marker, const SnpResult& r) {
  const int chromosome = ssfChromosome(marker.chrCode);
  const std::string chr = chromosome > 0 ? std::to_string(chromosome) : std::string();
  const std::string position = marker.position > 0 ? std::to_string(marker.position) : std::string();
  out += chr.empty() ? std::string("NA") : chr;
  appendField(out, position);
  appendField(out, marker.allele2);
  appendField(out, marker.allele1);
  // An untested SNP has no effect to report.
  const EffectColumns& effect = columns.effect();
  const auto effectValue = [&](size_t column) {
    return r.monomorphic ? std::numeric_limits<double>::quiet_NaN() : r.values[column];
  };
  appendNumber(out, effectValue(effect.beta), columns::number);
  appendNumber(out, effectValue(effect.se), columns::number);
  appendNumber(out, r.f, columns::number);
  appendNumber(out, effectValue(effect.p), columns::pValue);
  const bool identified = !chr.empty() && !position.empty() && !marker.allele1.empty() && !marker.allele2.empty();
  appendField(out, identified ? chr + '_' + position + '_' + marker.allele1 + '_' + marker.allele2 : std::string());
  appendField(out, isRsid(marker.snpId) ? marker.snpId : std::string());
  appendField(out, std::to_string(r.called));
  appendNumber(out, effectValue(effect.log10p), columns::number);
  appendField(out, marker.snpId);
  appendField(out, std::to_string(r.tested));
  const std::vector<ColumnSpec>& specs = columns.columns();
  for (size_t c = 0; c < specs.size(); ++c) {
    if (specs[c].tsv != nullptr) appendNumber(out, r.values[c], specs[c].tsv);
  }
  appendField(out, r.note);
  out += '\n';
}

void SsfSummary::add(const Marker& marker, const SnpResult& result) {
  if (result.tested > tested) tested = result.tested;
  const int chromosome = ssfChromosome(marker.chrCode);
  noChromosome += chromosome == 0;
  noPosition += marker.position <= 0;
  if (chromosome < lastChromosome || (chromosome == lastChromosome && marker.position < lastPosition)) {
    inOrder = false;
  }
  lastChromosome = chromosome;
  lastPosition = marker.position;
}

std::string SsfSummary::missingLocationLine(const std::string& path) const {
  std::string line;
  if (noPosition > 0) {
    line += std::to_string(noPosition) + " snps have no position (a map position of 0): their base_pair_location in " +
            path + " is NA.\n";
  }
  if (noChromosome > 0) {
    line += std::to_string(noChromosome) +
            " snps are on a chromosome GWAS-SSF has no code for (it has 1-22, X, Y, XY and MT): their chromosome in " +
            path + " is NA.\n";
  }
  return line;
}

std::string ssfMetadataText(const SsfMetadata& m, const SsfSummary& summary) {
  std::string text = "# GWAS-SSF metadata of " + m.dataFile + "\n";
  text += "file_type: GWAS-SSF v1.0\n";
  text += "data_file_name: " + quoted(m.dataFile) + "\n";
  text += "data_file_md5sum: " + m.md5 + "\n";
  text += "date_metadata_last_modified: " + m.date + "\n";
  text += "analysis_software: " + quoted(m.software) + "\n";
  text += "trait_description:\n  - " + quoted(m.trait) + "\n";
  // NR: not reported, as the GWAS Catalog writes an unknown assembly.
  text += "genome_assembly: " + (m.build.empty() ? std::string("NR") : m.build) + "\n";
  text += "coordinate_system: 1-based\n";
  text += "samples:\n  - sample_size: " + std::to_string(summary.sampleSize()) + "\n";
  text += std::string("is_sorted: ") + (summary.sorted() ? "true" : "false") + "\n";
  text += "is_harmonised: false\n";
  text += "# The model whose effect (per copy of effect_allele), standard error and p-value fill beta,\n"
          "# standard_error and p_value; n counts the individuals with a called genotype or a dosage.\n";
  text += "ombra_effect_model: " + quoted(m.effect) + "\n";
  return text;
}

std::string ssfToday() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", &utc);
  return day;
}

}  // namespace ombra
