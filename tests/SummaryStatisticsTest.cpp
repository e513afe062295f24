// Results others read: the allele the effects count and the called count
// in the table, the same whatever the input format and as PLINK 2 reports
// them; and the GWAS-SSF file (--out-format ssf), held to the format's
// column rules by a validator of its own, with its metadata.
// g++ 12 with the sanitizers sees std::function members of <regex>'s
// automaton as maybe uninitialised, a false report inside the library's
// headers, where this file's use of <regex> instantiates them.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "TestSupport.h"
#include "outputs/Md5.h"
#include "stats/upperTail.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream cells(line);
  for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

// A tab-separated table with a header, its cells by column name.
struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  explicit Table(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    header = splitTabs(line);
    while (std::getline(in, line)) rows.push_back(splitTabs(line));
  }
  size_t column(const std::string& name) const {
    for (size_t k = 0; k < header.size(); ++k) {
      if (header[k] == name) return k;
    }
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  const std::string& at(size_t row, const std::string& name) const { return rows[row][column(name)]; }
  double number(size_t row, const std::string& name) const { return std::stod(at(row, name)); }
};

std::string gunzip(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string out;
  char buffer[65536];
  int got = 0;
  while (file != nullptr && (got = gzread(file, buffer, sizeof buffer)) > 0) {
    out.append(buffer, static_cast<size_t>(got));
  }
  if (file != nullptr) gzclose(file);
  return out;
}

std::string md5Of(const std::string& bytes) {
  ombra::Md5 md5;
  md5.add(bytes);
  return md5.hex();
}

TEST(Md5, KnownDigestsInAnyPieces) {
  EXPECT_EQ(md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Of("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
  // 56 to 64 bytes: the length no longer fits the last block.
  EXPECT_EQ(md5Of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  std::string text;
  for (int k = 0; k < 1000; ++k) text += std::to_string(k * 7919 % 1009) + ",";
  ombra::Md5 pieces;
  for (size_t at = 0, step = 1; at < text.size(); at += step, step = step % 97 + 13) pieces.add(text.substr(at, step));
  EXPECT_EQ(pieces.hex(), md5Of(text));
}

// The GWAS-SSF 1.0 column rules: the mandatory columns first, in their
// order; every row as wide as the header and no empty cell; each column's
// values of its type (NA where a value is missing); p in [0, 1]. Returns
// what breaks them, one line each.
std::vector<std::string> ssfViolations(const std::string& text) {
  static const std::vector<std::string> kMandatory = {"chromosome", "base_pair_location", "effect_allele",
                                                      "other_allele", "beta", "standard_error",
                                                      "effect_allele_frequency", "p_value"};
  const std::regex integer("[0-9]+"), number("-?[0-9]+(\\.[0-9]*)?([eE][-+]?[0-9]+)?"), allele("[ACGT]+"),
      rsid("rs[0-9]+"), variant("([0-9]+)_([0-9]+)_[ACGT]+_[ACGT]+");
  std::vector<std::string> broken;
  const Table table(text);
  if (table.header.size() < kMandatory.size() ||
      !std::equal(kMandatory.begin(), kMandatory.end(), table.header.begin())) {
    broken.push_back("the mandatory columns are not first in their order");
    return broken;
  }
  std::map<std::string, size_t> at;
  for (size_t k = 0; k < table.header.size(); ++k) {
    if (!at.emplace(table.header[k], k).second) broken.push_back("column " + table.header[k] + " twice");
  }
  for (const char* name : {"variant_id", "rsid", "n", "neg_log_10_p_value"}) {
    if (at.count(name) == 0) broken.push_back(std::string("no column ") + name);
  }
  if (!broken.empty()) return broken;
  for (size_t r = 0; r < table.rows.size(); ++r) {
    const std::vector<std::string>& row = table.rows[r];
    const std::string where = "row " + std::to_string(r + 1) + ": ";
    if (row.size() != table.header.size()) {
      broken.push_back(where + "not as wide as the header");
      continue;
    }
    const auto cell = [&](const std::string& name) { return row[at[name]]; };
    // A value of `type` (NA allowed), in [low, high] unless low > high.
    const auto check = [&](const std::string& name, const std::regex& type, double low, double high) {
      const std::string value = cell(name);
      if (value == "NA") return;
      if (!std::regex_match(value, type)) {
        broken.push_back(where + name + " " + value + " is not of its type");
      } else if (low <= high && (std::stod(value) < low || std::stod(value) > high)) {
        broken.push_back(where + name + " " + value + " is out of range");
      }
    };
    for (const std::string& value : row) {
      if (value.empty()) broken.push_back(where + "an empty cell");
    }
    const double any = HUGE_VAL;
    check("chromosome", integer, 1, 25);
    check("base_pair_location", integer, 1, any);
    check("effect_allele", allele, 1, 0);
    check("other_allele", allele, 1, 0);
    check("beta", number, -any, any);
    check("standard_error", number, 0, any);
    check("effect_allele_frequency", number, 0, 1);
    check("p_value", number, 0, 1);
    check("rsid", rsid, 1, 0);
    check("n", integer, 0, any);
    check("neg_log_10_p_value", number, 0, any);
    std::smatch parts;
    const std::string id = cell("variant_id");
    if (id != "NA" && (!std::regex_match(id, parts, variant) || parts[1] != cell("chromosome") ||
                       parts[2] != cell("base_pair_location"))) {
      broken.push_back(where + "variant_id " + id + " is not its chromosome_position_alleles");
    }
    // An effect is whole or missing whole.
    const bool none = cell("beta") == "NA";
    if ((cell("standard_error") == "NA") != none || (cell("p_value") == "NA") != none ||
        (cell("neg_log_10_p_value") == "NA") != none) {
      broken.push_back(where + "an effect with some of its numbers NA");
    }
    if (!none && cell("p_value") != "0" &&
        std::fabs(std::stod(cell("neg_log_10_p_value")) + std::log10(std::stod(cell("p_value")))) > 1e-5) {
      broken.push_back(where + "neg_log_10_p_value is not -log10 of p_value");
    }
  }
  return broken;
}

TEST(SsfValidator, CatchesBrokenRules) {
  const std::string header =
      "chromosome\tbase_pair_location\teffect_allele\tother_allele\tbeta\tstandard_error\teffect_allele_frequency\t"
      "p_value\tvariant_id\trsid\tn\tneg_log_10_p_value\n";
  const std::string good = "23\t100\tA\tG\t-0.5\t0.1\t0.25\t1e-05\t23_100_G_A\trs7\t90\t5\n";
  EXPECT_TRUE(ssfViolations(header + good).empty());
  EXPECT_TRUE(ssfViolations(header + "NA\tNA\tA\tG\tNA\tNA\t0.25\tNA\tNA\tNA\t90\tNA\n").empty());
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"1e-05", "1.5"}, {"23\t", "X\t"}, {"23\t", "26\t"}, {"\t100\t", "\t0\t"}, {"0.25", "1.25"},
           {"rs7", "snp7"}, {"\tA\t", "\tN\t"}, {"23_100", "22_100"}, {"\t5\n", "\t4\n"}, {"\t0.1\t", "\tNA\t"},
           {"\t90\t", "\t\t"}}) {
    std::string bad = good;
    bad.replace(bad.find(from), from.size(), to);
    EXPECT_FALSE(ssfViolations(header + bad).empty()) << to;
  }
  std::string swapped = header;
  swapped.replace(swapped.find("beta\tstandard_error"), 19, "standard_error\tbeta");
  EXPECT_FALSE(ssfViolations(swapped + good).empty());
}

// The metadata file's top-level "key: value" lines.
std::map<std::string, std::string> yamlFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    std::string value = line.substr(colon + 2);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    size_t start = line.find_first_not_of(" -");
    fields[line.substr(start, colon - start)] = value;
  }
  return fields;
}

const std::vector<std::string> kTwoSets = {"--f", kExamples + "family", "--i", kExamples + "unrelated", "--p", "3"};

RunResult runWith(const TempDir& dir, std::vector<std::string> extra) {
  extra.insert(extra.begin(), kTwoSets.begin(), kTwoSets.end());
  RunResult run = runOmbra(dir.path(), extra);
  EXPECT_EQ(run.status, 0) << run.out;
  return run;
}

// The SSF file holds the table's numbers: its effect is the plain
// regression's (or the mixed model's) for A2, its extra columns are the
// table's own; its metadata names the file's digest, the sample and the
// assembly.
TEST(SsfFile, HoldsTheTablesEffectUnderTheFormatsRules) {
  TempDir dir;
  for (const bool lmm : {false, true}) {
    std::vector<std::string> model = lmm ? std::vector<std::string>{"--model", "lmm"} : std::vector<std::string>{};
    std::vector<std::string> tsvRun = model, ssfRun = model;
    tsvRun.insert(tsvRun.end(), {"--out", "t.tsv", "--out-format", "tsv"});
    ssfRun.insert(ssfRun.end(), {"--out", "s.tsv.gz", "--out-format", "ssf", "--build", "hg38"});
    runWith(dir, tsvRun);
    const RunResult run = runWith(dir, ssfRun);
    EXPECT_EQ(run.out.find("is NA"), std::string::npos) << run.out;  // every SNP placed
    const std::string text = gunzip(dir.file("s.tsv.gz"));
    const std::vector<std::string> broken = ssfViolations(text);
    EXPECT_TRUE(broken.empty()) << broken.front();
    const Table ssf(text), tsv(dir.read("t.tsv"));
    ASSERT_EQ(ssf.rows.size(), tsv.rows.size());
    for (size_t s = 0; s < ssf.rows.size(); ++s) {
      EXPECT_EQ(ssf.at(s, "chromosome"), tsv.at(s, "CHR"));
      EXPECT_EQ(ssf.at(s, "base_pair_location"), tsv.at(s, "BP"));
      EXPECT_EQ(ssf.at(s, "effect_allele"), tsv.at(s, "EFFECT_ALLELE"));
      EXPECT_EQ(ssf.at(s, "other_allele"), tsv.at(s, "A1"));
      EXPECT_EQ(ssf.at(s, "effect_allele_frequency"), tsv.at(s, "FREQ2"));
      EXPECT_EQ(ssf.at(s, "n"), tsv.at(s, "N_CALLED"));
      EXPECT_EQ(ssf.at(s, "rsid"), tsv.at(s, "SNP"));
      for (const std::string& name : tsv.header) {
        if (name.find("STAT_") == 0 || name.find("P_") == 0 || name.find("LOG10P_") == 0 || name == "BETA" ||
            name == "SE" || name == "INFO" || name == "NOTE" || name == "SNP" || name == "N") {
          EXPECT_EQ(ssf.at(s, name), tsv.at(s, name)) << name;
        }
      }
      const bool untested = tsv.at(s, "NOTE") == "monomorphic";
      const std::string beta = lmm ? "BETA_LMM" : "BETA";
      EXPECT_EQ(ssf.at(s, "beta"), untested ? "NA" : tsv.at(s, beta));
      EXPECT_EQ(ssf.at(s, "standard_error"), untested ? "NA" : tsv.at(s, lmm ? "SE_LMM" : "SE"));
      if (untested) continue;
      if (lmm) {
        EXPECT_EQ(ssf.at(s, "p_value"), tsv.at(s, "P_LMM"));
        EXPECT_EQ(ssf.at(s, "neg_log_10_p_value"), tsv.at(s, "LOG10P_LMM"));
      } else {
        // The Wald test of BETA: (BETA / SE)^2 as a 1-df chi-square.
        const double z = tsv.number(s, "BETA") / tsv.number(s, "SE");
        const double p = ombra::chiSquareUpperTail(z * z, 1);
        EXPECT_NEAR(ssf.number(s, "p_value"), p, 1e-6 * p) << s;
      }
    }
    const std::map<std::string, std::string> meta = yamlFields(dir.read("s.tsv.gz-meta.yaml"));
    EXPECT_EQ(meta.at("file_type"), "GWAS-SSF v1.0");
    EXPECT_EQ(meta.at("data_file_name"), "s.tsv.gz");
    EXPECT_EQ(meta.at("data_file_md5sum"), md5Of(dir.read("s.tsv.gz")));
    EXPECT_EQ(meta.at("genome_assembly"), "GRCh38");
    EXPECT_EQ(meta.at("coordinate_system"), "1-based");
    EXPECT_EQ(meta.at("sample_size"), tsv.at(0, "N"));
    EXPECT_EQ(meta.at("is_sorted"), "true");
    const std::regex day("20[0-9]{2}-[01][0-9]-[0-3][0-9]");
    EXPECT_TRUE(std::regex_match(meta.at("date_metadata_last_modified"), day));
    EXPECT_EQ(meta.at("analysis_software").find("Ombra "), 0u);
    EXPECT_EQ(meta.at("ombra_effect_model"), lmm ? "mixed model (LMM)" : "plain regression");
  }
}

// Positions of 0 and chromosomes the format has no code for are NA, and
// the run says how many; X is 23.
TEST(SsfFile, UnplacedSnpsAreNAAndSaidSo) {
  TempDir dir;
  std::string map = testing_support::readFile(kExamples + "unrelated.map");
  std::istringstream in(map);
  std::ostringstream out;
  std::string line;
  for (int k = 0; std::getline(in, line); ++k) {
    std::istringstream words(line);
    std::string chr, name, cm, bp;
    words >> chr >> name >> cm >> bp;
    if (k == 1 || k == 2) bp = "0";
    if (k == 3) chr = "X";
    if (k == 4) chr = "GL000192.1";
    out << chr << '\t' << name << '\t' << cm << '\t' << bp << '\n';
  }
  dir.write("u.map", out.str());
  dir.write("u.ped", testing_support::readFile(kExamples + "unrelated.ped"));
  const RunResult run = runOmbra(dir.path(), {"--i", "u", "--p", "2", "--out-format", "ssf"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(
      run.out.find("2 snps have no position (a map position of 0): their base_pair_location in result.tsv is NA."),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("1 snps are on a chromosome GWAS-SSF has no code for"), std::string::npos) << run.out;
  const std::string text = dir.read("result.tsv");
  const std::vector<std::string> broken = ssfViolations(text);
  EXPECT_TRUE(broken.empty()) << broken.front();
  const Table ssf(text);
  EXPECT_EQ(ssf.at(1, "base_pair_location"), "NA");
  EXPECT_EQ(ssf.at(1, "variant_id"), "NA");
  EXPECT_EQ(ssf.at(3, "chromosome"), "23");
  EXPECT_EQ(ssf.at(4, "chromosome"), "NA");
  EXPECT_EQ(yamlFields(dir.read("result.tsv-meta.yaml")).at("is_sorted"), "false");
  EXPECT_EQ(yamlFields(dir.read("result.tsv-meta.yaml")).at("genome_assembly"), "NR");
}

TEST(SsfFile, OptionsItRefuses) {
  TempDir dir;
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--out-format", "ssf", "--out", "r.txt"},
            "The option --out-format ssf writes a .tsv or .tsv.gz file: please give --out a name ending in one.\n"},
           {{"--build", "hg19"},
            "The option --build names the assembly in the GWAS-SSF metadata: it needs --out-format ssf.\n"},
           {{"--out-format", "ssf", "--build", "hg37"},
            "The option --build takes GRCh38 (or hg38), GRCh37 (or hg19) or NCBI36 (or hg18).\n"}}) {
    std::vector<std::string> full = {"--i", kExamples + "unrelated"};
    full.insert(full.end(), args.begin(), args.end());
    const RunResult run = runOmbra(dir.path(), full);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
    EXPECT_FALSE(dir.exists("result.tsv"));
  }
}

// PLINK 2's copies of a fileset give the same effect allele rule and
// called counts, and PLINK 2's own regression the same effect.
bool hasPlink2() { return std::system("plink2 --version > /dev/null 2>&1") == 0; }

TEST(EffectAllele, FilesetVcfAndBgenAgreeWithPlink2) {
  if (!hasPlink2()) GTEST_SKIP() << "plink2 is not installed";
  TempDir dir;
  const std::string fileset = kExamples + "plink/unrelated";
  const std::string fam = testing_support::readFile(fileset + ".fam");
  std::istringstream individuals(fam);
  std::ostringstream pheno;
  pheno << "FID IID Q\n";
  std::mt19937 random(11);
  std::normal_distribution<double> normal(0, 1);
  for (std::string fid, iid, rest; individuals >> fid >> iid && std::getline(individuals, rest);) {
    pheno << fid << ' ' << iid << ' ' << std::to_string(normal(random)) << '\n';
  }
  dir.write("pheno.txt", pheno.str());
  const auto plink2 = [&](const std::string& args) {
    const std::string command = "cd " + dir.path() + " && plink2 --bfile " + fileset + " " + args;
    return std::system((command + " > /dev/null 2>&1").c_str());
  };
  ASSERT_EQ(plink2("--export vcf --out unr"), 0);
  ASSERT_EQ(plink2("--export bgen-1.2 bits=8 --out unr"), 0);
  ASSERT_EQ(plink2("--pheno pheno.txt --glm allow-no-covars --out p2"), 0);
  dir.write("unr.fam", fam);
  const Table peer(dir.read("p2.Q.glm.linear"));
  std::vector<Table> tables;
  for (const std::vector<std::string>& input : {std::vector<std::string>{"--bi", fileset},
                                                std::vector<std::string>{"--vi", "unr"},
                                                std::vector<std::string>{"--gi", "unr"}}) {
    std::vector<std::string> args = input;
    args.insert(args.end(), {"--p", "0", "--pheno", "pheno.txt", "--out-format", "tsv"});
    tables.emplace_back(testing_support::resultOf(dir, args, "r.tsv"));
  }
  ASSERT_EQ(peer.rows.size(), tables[0].rows.size());
  size_t compared = 0;
  for (size_t s = 0; s < peer.rows.size(); ++s) {
    const std::string a1 = peer.at(s, "A1");
    const bool untested = peer.at(s, "BETA") == "NA";
    const double beta = untested ? 0 : peer.number(s, "BETA");
    for (const Table& table : tables) {
      ASSERT_EQ(table.at(s, "SNP"), peer.at(s, "ID"));
      EXPECT_EQ(table.at(s, "N_CALLED"), peer.at(s, "OBS_CT")) << s;
      const std::string effect = table.at(s, "EFFECT_ALLELE");
      ASSERT_EQ(effect, table.at(s, "A2")) << s;
      EXPECT_EQ(table.at(s, "BETA") == "NA", untested) << s;
      if (untested) continue;  // a monomorphic SNP, its second allele unknown
      ASSERT_TRUE(effect == peer.at(s, "REF") || effect == peer.at(s, "ALT")) << s;
      // BETA counts EFFECT_ALLELE: turned to PLINK 2's A1, it is PLINK 2's.
      const double aligned = (effect == a1 ? 1 : -1) * table.number(s, "BETA");
      EXPECT_NEAR(aligned, beta, 1e-5 * std::max(1.0, std::fabs(beta))) << s;
      ++compared;
    }
  }
  EXPECT_GT(compared, 3 * 250u);
}

}  // namespace
