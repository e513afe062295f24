// Pooling the data sets users have. Matching the SNPs of two data sets whose
// lists differ: the alignment of allele pairs, the match of two lists, the
// rows cut to the shared SNPs, and end to end the example sets made unlike
// each other against the same sets cut and aligned beforehand by PLINK 1.9;
// a BGEN index beside one set; a PCA file made before a selection.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "formats/BgenFile.h"
#include "formats/SnpMatch.h"

using namespace ombra;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::resultOf;
using testing_support::runOmbra;
using testing_support::stopOf;

namespace {

Marker marker(const std::string& chr, const std::string& id, int position, const std::string& a1,
              const std::string& a2) {
  Marker m;
  m.setChromosome(chr);
  m.snpId = id;
  m.position = position;
  m.allele1 = a1;
  m.allele2 = a2;
  return m;
}

Alignment align(const std::string& f1, const std::string& f2, const std::string& o1, const std::string& o2) {
  return alignAlleles(marker("1", "x", 1, f1, f2), marker("1", "x", 1, o1, o2));
}

TEST(SnpMatch, AllelePairsAlignAsPlinkMergeDoes) {
  EXPECT_EQ(align("A", "C", "A", "C"), Alignment::kAsWritten);
  EXPECT_EQ(align("A", "C", "C", "A"), Alignment::kSwapped);
  EXPECT_EQ(align("A", "C", "T", "G"), Alignment::kFlipped);
  EXPECT_EQ(align("A", "C", "G", "T"), Alignment::kFlippedSwapped);
  EXPECT_EQ(align("A", "C", "A", "G"), Alignment::kOther);
  // Palindromic: taken as written, never flipped.
  EXPECT_EQ(align("A", "T", "A", "T"), Alignment::kAsWritten);
  EXPECT_EQ(align("A", "T", "T", "A"), Alignment::kSwapped);
  EXPECT_EQ(align("C", "G", "A", "T"), Alignment::kOther);
  // Indels and other codes: exact text only.
  EXPECT_EQ(align("AT", "A", "A", "AT"), Alignment::kSwapped);
  EXPECT_EQ(align("AT", "A", "TA", "T"), Alignment::kOther);
  EXPECT_EQ(align("I", "D", "D", "I"), Alignment::kSwapped);
  // An unknown allele (a monomorphic SNP) takes the other set's.
  EXPECT_EQ(align("G", "", "G", "A"), Alignment::kAsWritten);
  EXPECT_EQ(align("G", "", "A", "G"), Alignment::kSwapped);
  EXPECT_EQ(align("G", "", "", "G"), Alignment::kSwapped);
  EXPECT_EQ(swapsCodes(Alignment::kFlippedSwapped), true);
  EXPECT_EQ(swapsCodes(Alignment::kFlipped), false);
}

TEST(SnpMatch, ListsMatchInTheFamilyOrderByIdOrByPlace) {
  const std::vector<Marker> family = {marker("1", "a", 10, "A", "C"), marker("1", "b", 20, "A", "G"),
                                      marker("2", "c", 30, "C", "T"), marker("2", "d", 40, "A", "C"),
                                      marker("X", "e", 50, "G", "T")};
  // Reordered, c swapped, d on the other strand, b with other alleles, e
  // missing, f extra; chromosome names spelt otherwise.
  const std::vector<Marker> unrelated = {marker("chr2", "d", 40, "T", "G"), marker("02", "c", 30, "T", "C"),
                                         marker("chr1", "f", 15, "A", "C"), marker("1", "b", 20, "A", "T"),
                                         marker("chr1", "a", 10, "A", "C")};
  for (MatchBy by : {MatchBy::kId, MatchBy::kPosition}) {
    const SnpMatch m = matchSnps(family, unrelated, by, {}, {}, "fam", "unr");
    EXPECT_EQ(m.familySnps, (std::vector<size_t>{0, 2, 3}));
    EXPECT_EQ(m.unrelatedSnps, (std::vector<size_t>{4, 1, 0}));
    EXPECT_EQ(m.swapped, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(m.familyOnly, 1u);
    EXPECT_EQ(m.unrelatedOnly, 1u);
    EXPECT_EQ(m.otherAlleles, 1u);
    EXPECT_EQ(m.flips, 1u);
    EXPECT_EQ(m.swaps, 1u);
    ASSERT_EQ(m.leftOut.size(), 3u);
    EXPECT_NE(m.leftOut[0].find("b (1:20 A/G): other alleles in unr"), std::string::npos) << m.leftOut[0];
  }
  EXPECT_FALSE(sameSnpList(family, unrelated, MatchBy::kId));
  EXPECT_TRUE(sameSnpList(family, family, MatchBy::kPosition));
  // The selection applies to each list before they are matched.
  const auto notA = [](const Marker& m) { return m.snpId != "a"; };
  const SnpMatch cut = matchSnps(family, unrelated, MatchBy::kId, notA, notA, "fam", "unr");
  EXPECT_EQ(cut.familySnps, (std::vector<size_t>{2, 3}));
  EXPECT_EQ(cut.familyUnselected, 1u);
  EXPECT_EQ(cut.unrelatedUnselected, 1u);
}

TEST(SnpMatch, DuplicatedIdStopsAMatchByIdUnlessSelectedOut) {
  const std::vector<Marker> family = {marker("1", "a", 10, "A", "C"), marker("1", "b", 20, "A", "G")};
  const std::vector<Marker> unrelated = {marker("1", "a", 10, "A", "C"), marker("1", "a", 30, "A", "G")};
  const auto shown = stopOf([&] { matchSnps(family, unrelated, MatchBy::kId, {}, {}, "fam.bim", "unr.bim"); });
  EXPECT_EQ(shown.status, 1);
  EXPECT_NE(shown.out.find("The snp ID a appears twice in unr.bim (snps 1 and 2)"), std::string::npos) << shown.out;
  const auto first = [](const Marker& m) { return m.position != 30; };
  EXPECT_EQ(matchSnps(family, unrelated, MatchBy::kId, {}, first, "f", "u").familySnps.size(), 1u);
  EXPECT_EQ(matchSnps(family, unrelated, MatchBy::kPosition, {}, {}, "f", "u").familySnps.size(), 1u);
  const std::vector<Marker> thrice = {unrelated[0], unrelated[1], family[1], unrelated[0]};
  EXPECT_EQ(duplicatedIds([&](const std::function<void(const Marker&)>& visit) {
              for (const Marker& m : thrice) visit(m);
            }),
            2u);
}

TEST(SnpMatch, RowsCutToTheSharedSnpsWithCodesAndDosagesSwapped) {
  // Five SNPs coded 0 1 2 3 2, kept in the order 1, 3, 4, 0, all but 4 swapped.
  unsigned char codes[2] = {0x1B, 0x80};
  uint16_t dosages[5] = {0, kDosageOne, 2 * kDosageOne, kMissingDosage, 300};
  std::vector<GenotypeRow> rows = {GenotypeRow{0, codes, 0}};
  rows[0].dosages = dosages;
  keepSnpsOfRows(rows, 5, {1, 3, 4, 0}, {true, true, false, true});
  EXPECT_EQ(codes[0], 0x7A);  // 1 3 2 2
  EXPECT_EQ(dosages[0], kDosageOne);
  EXPECT_EQ(dosages[1], kMissingDosage);
  EXPECT_EQ(dosages[2], 300);
  EXPECT_EQ(dosages[3], 2 * kDosageOne);
}

// --- End to end -----------------------------------------------------------

const std::string kPlink = std::string(OMBRA_SOURCE_DIR) + "/examples/plink/";

bool hasPlink() { return std::system("command -v plink1.9 >/dev/null 2>&1") == 0; }

void run(const TempDir& dir, const std::string& command) {
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + command + " >tool.out 2>&1").c_str()), 0)
      << command << "\n" << dir.read("tool.out");
}

std::vector<std::vector<std::string>> bimLines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    std::string field;
    while (fields >> field) row.push_back(field);
    lines.push_back(row);
  }
  return lines;
}

std::string joinBim(const std::vector<std::vector<std::string>>& lines) {
  std::string text;
  for (const auto& row : lines) {
    for (size_t k = 0; k < row.size(); ++k) text += (k ? "\t" : "") + row[k];
    text += "\n";
  }
  return text;
}

std::string complementBase(const std::string& base) {
  const std::string from = "ACGT", to = "TGCA";
  return std::string(1, to[from.find(base[0])]);
}

// Writes `out`.bim/.bed/.fam from fileset `in`, holding its SNPs `order`
// (indices into its .bim) with `edit` applied to each line and column.
template <typename Edit>
void rewriteSet(const std::string& in, const std::string& out, const std::vector<size_t>& order,
                size_t samples, Edit edit) {
  const auto bim = bimLines(testing_support::readFile(in + ".bim"));
  const std::string bed = testing_support::readFile(in + ".bed");
  const size_t bytes = (samples + 3) / 4;
  std::vector<std::vector<std::string>> lines;
  std::string columns = bed.substr(0, 3);
  for (size_t s : order) {
    std::vector<std::string> line = bim[s];
    std::string column = bed.substr(3 + s * bytes, bytes);
    edit(s, line, column);
    lines.push_back(line);
    columns += column;
  }
  testing_support::writeFile(out + ".bim", joinBim(lines));
  testing_support::writeFile(out + ".bed", columns);
  testing_support::writeFile(out + ".fam", testing_support::readFile(in + ".fam"));
}

// PLINK codes 00 and 11 (the two homozygotes) trade places.
void swapColumn(std::string& column) {
  for (char& byte : column) {
    unsigned char b = static_cast<unsigned char>(byte), out = 0;
    for (int k = 0; k < 4; ++k) {
      unsigned v = (b >> (2 * k)) & 3;
      if (v == 0 || v == 3) v = 3 - v;
      out = static_cast<unsigned char>(out | (v << (2 * k)));
    }
    byte = static_cast<char>(out);
  }
}

// The example sets made unlike each other (`fam`, `unr`), and the same sets
// cut to their shared SNPs and aligned by PLINK 1.9 (`famcut`, `unrcut`).
struct UnlikeSets {
  std::vector<std::string> shared, flipped;
};

UnlikeSets makeUnlikeSets(const TempDir& dir) {
  const auto bim = bimLines(testing_support::readFile(kPlink + "family.bim"));
  const size_t m = bim.size();
  UnlikeSets sets;
  std::vector<size_t> familyKept, unrelatedOrder;
  std::string otherAllele;
  for (size_t s = 0; s < m; ++s) {
    const bool familyDrops = s % 30 == 7, unrelatedDrops = s % 30 == 22;
    if (!familyDrops) familyKept.push_back(s);
    if (!unrelatedDrops) unrelatedOrder.push_back(s);
    const bool other = s == 61;
    if (!familyDrops && !unrelatedDrops && !other) sets.shared.push_back(bim[s][1]);
  }
  // Another order: the chromosomes backwards (PLINK refuses one split), a
  // stride through the SNPs of each.
  std::vector<size_t> permuted;
  for (const char* chr : {"3", "2", "1"}) {
    std::vector<size_t> own;
    for (size_t s : unrelatedOrder) {
      if (bim[s][0] == chr) own.push_back(s);
    }
    for (size_t k = 0; k < own.size(); ++k) permuted.push_back(own[(k * 37) % own.size()]);
  }
  rewriteSet(kPlink + "family", dir.file("fam"), familyKept, 197, [](size_t, auto&, auto&) {});
  int flips = 0;
  rewriteSet(kPlink + "unrelated", dir.file("unr"), permuted, 200, [&](size_t s, auto& line, auto& column) {
    const bool known = line[4] != "0" && line[5] != "0";
    const bool palindromic = known && line[4] == complementBase(line[5]);
    if (s == 61) line[5] = line[4] == "A" || line[5] == "A" ? (line[4] == "C" || line[5] == "C" ? "G" : "C") : "A";
    if (s == 61) return;
    if (known && !palindromic && flips < 3 && s % 40 == 3) {
      line[4] = complementBase(line[4]);
      line[5] = complementBase(line[5]);
      sets.flipped.push_back(line[1]);
      ++flips;
    }
    if (known && s % 3 == 0) {
      std::swap(line[4], line[5]);
      swapColumn(column);
    }
  });
  std::string list, flipList;
  for (const std::string& id : sets.shared) list += id + "\n";
  for (const std::string& id : sets.flipped) flipList += id + "\n";
  dir.write("shared.txt", list);
  dir.write("flip.txt", flipList);
  run(dir, "plink1.9 --bfile fam --keep-allele-order --extract shared.txt --make-bed --out famcut");
  run(dir, "plink1.9 --bfile unr --extract shared.txt --flip flip.txt --a2-allele fam.bim 6 2 --keep-allele-order --make-bed --out unrx");
  // Into the family set's order, which --make-bed keeps.
  const auto cut = bimLines(dir.read("unrx.bim"));
  std::vector<size_t> order;
  for (const std::string& id : sets.shared) {
    for (size_t k = 0; k < cut.size(); ++k) {
      if (cut[k][1] == id) order.push_back(k);
    }
  }
  rewriteSet(dir.file("unrx"), dir.file("unrcut"), order, 200, [](size_t, auto&, auto&) {});
  // PLINK writes -9 for a missing trait; the sets keep their own .fam.
  dir.write("famcut.fam", dir.read("fam.fam"));
  dir.write("unrcut.fam", dir.read("unr.fam"));
  return sets;
}

TEST(PoolingRun, UnlikeSetsGiveTheResultOfSetsAlignedBeforehand) {
  if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
  TempDir dir;
  const UnlikeSets sets = makeUnlikeSets(dir);
  ASSERT_EQ(sets.flipped.size(), 3u);
  ASSERT_EQ(sets.shared.size(), 279u);
  // Streamed, and loaded (a filter loads the rows).
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, std::vector<std::string>{"--geno", "1"}}) {
    std::vector<std::string> matched = {"--bf", "fam", "--bi", "unr", "--p", "2"};
    std::vector<std::string> aligned = {"--bf", "famcut", "--bi", "unrcut", "--p", "2"};
    matched.insert(matched.end(), extra.begin(), extra.end());
    aligned.insert(aligned.end(), extra.begin(), extra.end());
    const std::string expected = resultOf(dir, aligned, "aligned.txt");
    EXPECT_EQ(resultOf(dir, matched, "matched.txt"), expected);
    const RunResult shown = runOmbra(dir.path(), matched);
    EXPECT_NE(shown.out.find("The snps of fam.bim and unr.bim differ; matched by ID: 279 shared, 10 in fam.bim only, "
                             "10 in unr.bim only, "),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find(" 3 strand-flipped, 1 left out for other alleles.\n"), std::string::npos);
    // The log lists the SNPs left out.
    const std::string log = dir.read("result.log");
    EXPECT_NE(log.find("Left out: rs1000062 "), std::string::npos);
  }
  // --extract of the shared SNPs: each set cut before matching, the same result.
  const RunResult extracted =
      runOmbra(dir.path(), {"--bf", "fam", "--bi", "unr", "--p", "2", "--extract", "shared.txt", "--out", "x.txt"});
  EXPECT_NE(extracted.out.find("matched by ID: 279 shared, 0 in fam.bim only, 0 in unr.bim only, "), std::string::npos)
      << extracted.out;
  EXPECT_NE(extracted.out.find("--extract shared.txt: 11 snps removed"), std::string::npos) << extracted.out;
  EXPECT_EQ(dir.read("x.txt"), dir.read("matched.txt"));
  // The IDs of the unrelated set unknown: matched by place, the same result.
  auto bim = bimLines(dir.read("unr.bim"));
  for (auto& line : bim) line[1] = ".";
  dir.write("unr.bim", joinBim(bim));
  EXPECT_EQ(resultOf(dir, {"--bf", "fam", "--bi", "unr", "--p", "2", "--match-by", "position"}, "bypos.txt"),
            dir.read("matched.txt"));
}

TEST(PoolingRun, VcfAndTextSetsMatchAsTheFilesetsDo) {
  if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
  TempDir dir;
  makeUnlikeSets(dir);
  for (const char* set : {"fam", "unr", "famcut", "unrcut"}) {
    const std::string name(set);
    run(dir, "plink1.9 --bfile " + name + " --keep-allele-order --recode vcf-iid --out " + name + "v");
    run(dir, "plink1.9 --bfile " + name + " --keep-allele-order --recode --output-missing-phenotype 0 --out " + name + "t");
    dir.write(name + "v.fam", dir.read(name + ".fam"));
  }
  const std::string expected = resultOf(dir, {"--vf", "famcutv", "--vi", "unrcutv", "--p", "2"}, "a.txt");
  EXPECT_EQ(resultOf(dir, {"--vf", "famv", "--vi", "unrv", "--p", "2"}, "b.txt"), expected);
  // Text sets, each .ped read with its own .map.
  const std::string text = resultOf(dir, {"--f", "famcutt", "--i", "unrcutt", "--p", "2"}, "c.txt");
  EXPECT_EQ(resultOf(dir, {"--f", "famt", "--i", "unrt", "--p", "2"}, "d.txt"), text);
}

TEST(PoolingRun, NoSharedSnpStopsNamingBothFiles) {
  TempDir dir;
  dir.write("a.map", "1 rs1 0 100\n1 rs2 0 200\n");
  dir.write("a.ped", "F1 1 0 0 1 1 A C G T\nF1 2 0 0 2 2 A A G G\n");
  dir.write("b.map", "1 rs3 0 300\n");
  dir.write("b.ped", "U1 U1 0 0 1 1 A C\nU2 U2 0 0 2 2 A A\n");
  const RunResult run = runOmbra(dir.path(), {"--f", "a", "--i", "b", "--p", "0", "--out", "r.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("No snp is shared by a.map (2 snps) and b.map (1 snps), matched by ID. Sets whose IDs "
                         "differ are matched by place with --match-by position.\n"),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));
}

// --- Dosages ---------------------------------------------------------------

std::string gunzip(const std::string& path) {
  std::string text;
  gzFile in = gzopen(path.c_str(), "rb");
  char buffer[1 << 16];
  int got = 0;
  while (in != nullptr && (got = gzread(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  if (in != nullptr) gzclose(in);
  return text;
}

// A VCF's header, and its records split into fields.
struct VcfText {
  std::string header;
  std::vector<std::vector<std::string>> records;
};

VcfText readVcf(const std::string& path) {
  VcfText vcf;
  std::istringstream in(gunzip(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line[0] == '#') {
      vcf.header += line + "\n";
      continue;
    }
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    vcf.records.push_back(fields);
  }
  return vcf;
}

// Calls with a DS field beside them: 0.25, 1 or 1.75 copies of ALT for 0,
// 1 or 2 (quarters: exact in the program's units, and so when swapped);
// `swap` names the alleles the other way round.
std::vector<std::string> withDosages(std::vector<std::string> record, bool swap) {
  if (swap) std::swap(record[3], record[4]);
  record[8] = "GT:DS";
  for (size_t k = 9; k < record.size(); ++k) {
    std::string& call = record[k];
    if (swap) {
      for (char& c : call) c = c == '0' ? '1' : c == '1' ? '0' : c;
    }
    const long copies = std::count(call.begin(), call.end(), '1');
    call += call.find('.') != std::string::npos ? ":." : copies == 0 ? ":0.25" : copies == 1 ? ":1" : ":1.75";
  }
  return record;
}

void writeVcf(const TempDir& dir, const std::string& name, const VcfText& vcf,
              const std::vector<std::vector<std::string>>& records, const std::string& famPath) {
  std::string text = vcf.header;
  for (const auto& record : records) {
    for (size_t k = 0; k < record.size(); ++k) text += (k ? "\t" : "") + record[k];
    text += "\n";
  }
  dir.write(name + ".vcf", text);
  dir.write(name + ".fam", testing_support::readFile(famPath));
}

// Dosages follow the counted allele as calls do: VCF sets of dosages in
// another order, with swapped alleles and SNPs of one set only, against the
// same sets cut and aligned beforehand.
TEST(PoolingRun, DosagesOfUnlikeSetsAreMatchedAsCalls) {
  TempDir dir;
  const std::string vcfs = std::string(OMBRA_SOURCE_DIR) + "/examples/vcf/";
  const VcfText family = readVcf(vcfs + "family.vcf.gz"), unrelated = readVcf(vcfs + "unrelated.vcf.gz");
  std::vector<std::vector<std::string>> fam, unr, famCut, unrCut;
  for (size_t s = 0; s < family.records.size(); ++s) {
    const bool familyDrops = s % 30 == 7, unrelatedDrops = s % 30 == 22;
    if (!familyDrops) fam.push_back(withDosages(family.records[s], false));
    if (!unrelatedDrops) unr.push_back(withDosages(unrelated.records[s], s % 3 == 0));
    if (familyDrops || unrelatedDrops) continue;
    famCut.push_back(withDosages(family.records[s], false));
    unrCut.push_back(withDosages(unrelated.records[s], false));
  }
  std::reverse(unr.begin(), unr.end());
  writeVcf(dir, "fam", family, fam, vcfs + "family.fam");
  writeVcf(dir, "unr", unrelated, unr, vcfs + "unrelated.fam");
  writeVcf(dir, "famcut", family, famCut, vcfs + "family.fam");
  writeVcf(dir, "unrcut", unrelated, unrCut, vcfs + "unrelated.fam");
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, std::vector<std::string>{"--geno", "1"}}) {
    std::vector<std::string> matched = {"--vf", "fam", "--vi", "unr", "--p", "2", "--vcf-dosage", "DS"};
    std::vector<std::string> aligned = {"--vf", "famcut", "--vi", "unrcut", "--p", "2", "--vcf-dosage", "DS"};
    matched.insert(matched.end(), extra.begin(), extra.end());
    aligned.insert(aligned.end(), extra.begin(), extra.end());
    EXPECT_EQ(resultOf(dir, matched, "matched.txt"), resultOf(dir, aligned, "aligned.txt"));
  }
}

// bgenix's index of `bgen`: every record's place and offset.
void indexBgen(const std::string& bgen) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((bgen + ".bgi").c_str(), &db), SQLITE_OK);
  std::string sql =
      "CREATE TABLE Variant (chromosome TEXT NOT NULL, position INT NOT NULL, rsid TEXT, number_of_alleles INT, "
      "allele1 TEXT, allele2 TEXT, file_start_position INT NOT NULL, size_in_bytes INT);"
      "CREATE TABLE Metadata (filename TEXT, file_size INT, last_write_time INT, first_1000_bytes BLOB, "
      "index_creation_time INT); INSERT INTO Metadata VALUES ('f', " +
      std::to_string(testing_support::readFile(bgen).size()) + ", 0, NULL, 0);";
  const BgenFile file(bgen);
  for (const BgenVariant& v : file.variants()) {
    sql += "INSERT INTO Variant VALUES ('" + v.chr + "', " + std::to_string(v.position) + ", 'rs', 2, 'A', 'G', " +
           std::to_string(v.recordStart) + ", 0);";
  }
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// An index changes how a region is read, never what: beside one set, both
// or neither, the same result and the same standard output.
TEST(PoolingRun, ABgenIndexBesideOneSetOrBothChangesNothing) {
  TempDir dir;
  const std::string imputed = std::string(OMBRA_SOURCE_DIR) + "/examples/imputed/";
  for (const char* set : {"family", "unrelated"}) {
    for (const char* extension : {".bgen", ".sample", ".fam"}) {
      dir.write(std::string(set) + extension, testing_support::readFile(imputed + set + extension));
    }
  }
  const std::vector<std::string> args = {"--gf", "family", "--gi", "unrelated", "--chr", "2", "--p", "0"};
  // Standard output up to the run's time.
  const auto shown = [&] {
    const std::string out = runOmbra(dir.path(), args).out;
    return out.substr(0, out.find("The process has been finisned!"));
  };
  const std::string none = resultOf(dir, args, "none.txt");
  const std::string noneOut = shown();
  indexBgen(dir.file("unrelated.bgen"));
  EXPECT_EQ(resultOf(dir, args, "one.txt"), none);
  EXPECT_EQ(shown(), noneOut);
  indexBgen(dir.file("family.bgen"));
  EXPECT_EQ(resultOf(dir, args, "both.txt"), none);
}

// A PCA file of everyone, given to runs that leave some out.
TEST(PoolingRun, APcaFileMadeBeforeASelectionSkipsThoseItLeftOut) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  ASSERT_EQ(runOmbra(dir.path(), {"--bf", kPlink + "family", "--bi", kPlink + "unrelated", "--p", "2", "--op",
                                  "pcs.txt"}).status,
            0);
  dir.write("remove.txt", "FAM01 102\nU007 U007\n");
  for (const std::vector<std::string>& sets :
       {std::vector<std::string>{"--bf", kPlink + "family", "--bi", kPlink + "unrelated"},
        std::vector<std::string>{"--f", examples + "family", "--i", examples + "unrelated"}}) {
    std::vector<std::string> args = sets;
    args.insert(args.end(), {"--p", "2", "--rp", "pcs.txt", "--remove", "remove.txt"});
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 individuals of pcs.txt are left out of the run by a selection and skipped.\n"),
              std::string::npos)
        << run.out;
  }
  // Someone in neither data set still stops the run.
  dir.write("pcs.txt", dir.read("pcs.txt") + "NOFAM NOONE 2 0 0.1 0.2\n");
  const RunResult stranger = runOmbra(dir.path(), {"--bf", kPlink + "family", "--bi", kPlink + "unrelated", "--p",
                                                   "2", "--rp", "pcs.txt", "--remove", "remove.txt"});
  EXPECT_EQ(stranger.status, 1);
  EXPECT_NE(stranger.out.find("Can not found the same individual NOFAM\tNOONE"), std::string::npos) << stranger.out;
}

TEST(PoolingRun, ASetGivenTwiceOrWithDuplicatedIdsSaysSo) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  const RunResult twice = runOmbra(dir.path(), {"--bf", kPlink + "family", "--vf", examples + "vcf/family", "--p", "0"});
  EXPECT_EQ(twice.status, 0) << twice.out;
  EXPECT_NE(twice.out.find("The family dataset is given twice: --vf " + examples + "vcf/family is used, --bf " +
                           kPlink + "family is ignored.\n"),
            std::string::npos)
      << twice.out;
  // Identical lists with a duplicated ID: paired by place as before, and counted.
  for (const char* set : {"f", "u"}) {
    const std::string from = kPlink + (std::string(set) == "f" ? "family" : "unrelated");
    std::string bim = testing_support::readFile(from + ".bim");
    bim.replace(bim.find("rs1000002"), 9, "rs1000001");
    dir.write(std::string(set) + ".bim", bim);
    dir.write(std::string(set) + ".bed", testing_support::readFile(from + ".bed"));
    dir.write(std::string(set) + ".fam", testing_support::readFile(from + ".fam"));
  }
  // Loaded, and streamed.
  for (const char* geno : {"1", ""}) {
    std::vector<std::string> args = {"--bf", "f", "--bi", "u", "--p", "0"};
    if (*geno != '\0') args.insert(args.end(), {"--geno", geno});
    const RunResult duplicated = runOmbra(dir.path(), args);
    EXPECT_EQ(duplicated.status, 0) << duplicated.out;
    EXPECT_NE(duplicated.out.find("1 snp ID appears more than once in both data sets, which list the same snps in "
                                  "the same order: their snps are paired by place.\n"),
              std::string::npos)
        << duplicated.out;
  }
}

}  // namespace
