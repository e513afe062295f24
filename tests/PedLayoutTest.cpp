// The .ped reader codes lines of one-letter alleles straight from the text
// and every other line field by field. Both ways must give the same
// alleles, codes, counts and messages: each case writes one data set in
// several layouts and compares the runs byte for byte with the layout that
// is always read field by field.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// Per individual, per marker, the two allele letters.
using Calls = std::vector<std::vector<std::pair<char, char>>>;

// A seeded data set. Each marker has two letters of `letters`; the second
// is rare at every third marker, so that it first shows up late in the
// file, and about one call in twelve is `missing`.
Calls simulate(int individuals, int markers, unsigned seed, const std::string& letters = "ACGT",
               char missing = '0') {
  unsigned state = seed;
  const auto next = [&state](unsigned range) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % range;
  };
  Calls calls(static_cast<size_t>(individuals));
  for (auto& person : calls) {
    for (int s = 0; s < markers; ++s) {
      const char first = letters[static_cast<size_t>(s) % letters.size()];
      const char second = letters[static_cast<size_t>(s + 1 + s / 7) % letters.size()];
      const unsigned percent = s % 3 == 2 ? 1 : 40;
      if (next(12) == 0) {
        person.emplace_back(missing, missing);
        continue;
      }
      const char a = next(100) < percent ? second : first;
      const char b = next(100) < percent ? second : first;
      person.emplace_back(a, b);
    }
  }
  return calls;
}

std::string mapText(size_t markers) {
  std::string text;
  for (size_t s = 0; s < markers; ++s) text += "1 rs" + std::to_string(s + 1) + " 0 " + std::to_string(100 + s) + "\n";
  return text;
}

enum class Layout {
  kLetters,  // one space between fields, some lines with trailing blanks
  kTabs,     // tabs between fields
  kSlashes,  // "A/C G/T"
  kFields,   // two spaces inside the first genotype: always read field by field
  kMixed,    // every third line as kFields, the others as kLetters
};

std::string headerOf(size_t i, char separator) {
  const std::string id = std::to_string(i + 1);
  std::string text = "F" + id;
  for (const std::string& field : {id, std::string("0"), std::string("0"), std::string("1"),
                                   std::to_string(1 + i % 2)}) {
    text += separator;
    text += field;
  }
  return text;
}

std::string lineOf(const std::vector<std::pair<char, char>>& person, size_t i, Layout layout) {
  if (layout == Layout::kMixed) layout = i % 3 == 1 ? Layout::kFields : Layout::kLetters;
  const char separator = layout == Layout::kTabs ? '\t' : ' ';
  std::string text = headerOf(i, separator);
  for (size_t s = 0; s < person.size(); ++s) {
    text += separator;
    text += person[s].first;
    text += layout == Layout::kSlashes ? std::string("/") : (layout == Layout::kFields && s == 0 ? "  " : std::string(1, separator));
    text += person[s].second;
  }
  if (layout == Layout::kLetters && i % 4 == 3) text += " \t ";
  return text + "\n";
}

std::string pedText(const Calls& calls, Layout layout) {
  std::string text;
  for (size_t i = 0; i < calls.size(); ++i) text += lineOf(calls[i], i, layout);
  return text;
}

// What a run left: its status, standard output and the files it wrote.
struct Outcome {
  int status;
  std::string out;
  std::string files;
};

Outcome recodeBinary(const std::string& map, const std::string& ped, std::vector<std::string> options = {}) {
  TempDir dir;
  dir.write("d.map", map);
  dir.write("d.ped", ped);
  std::vector<std::string> args = {"--f", "d", "--make-bed", "out"};
  args.insert(args.end(), options.begin(), options.end());
  const RunResult run = runOmbra(dir.path(), args);
  EXPECT_EQ(run.err, "");
  Outcome outcome{run.status, run.out, ""};
  if (run.status == 0) outcome.files = dir.read("out.bim") + dir.read("out.fam") + dir.read("out.bed");
  return outcome;
}

// Every layout of `calls` gives what the field-by-field layout gives.
void expectLayoutsAgree(const Calls& calls, std::vector<std::string> options = {}) {
  const std::string map = mapText(calls.front().size());
  const Outcome reference = recodeBinary(map, pedText(calls, Layout::kFields), options);
  for (Layout layout : {Layout::kLetters, Layout::kTabs, Layout::kSlashes, Layout::kMixed}) {
    const Outcome outcome = recodeBinary(map, pedText(calls, layout), options);
    EXPECT_EQ(outcome.status, reference.status) << static_cast<int>(layout);
    EXPECT_EQ(outcome.out, reference.out) << static_cast<int>(layout);
    EXPECT_TRUE(outcome.files == reference.files) << static_cast<int>(layout);
  }
}

TEST(PedLayout, EveryLayoutGivesTheSameFilesAroundTheByteGroups) {
  // Fewer markers than one group of four, groups and a partial last group.
  for (int markers : {1, 3, 4, 5, 8, 9, 13, 30}) {
    SCOPED_TRACE(markers);
    expectLayoutsAgree(simulate(25, markers, 11u + static_cast<unsigned>(markers)));
  }
}

TEST(PedLayout, CountsOfMoreRowsThanTheCountersHoldAtOnce) {
  // The second allele is counted in byte lanes that are emptied every 127
  // rows: 300 individuals cross that twice, and at rs2 all but the first
  // carry two copies, which would overflow a lane kept longer.
  Calls calls = simulate(300, 21, 5u);
  for (auto& person : calls) person[1] = {'G', 'G'};
  calls[0][1] = {'C', 'C'};
  expectLayoutsAgree(calls);
  const Outcome outcome = recodeBinary(mapText(21), pedText(calls, Layout::kLetters));
  EXPECT_NE(outcome.files.find("1 rs2 0 101 C G 598\n"), std::string::npos);
}

TEST(PedLayout, AnotherMissingCodeAndZeroAsAnAllele) {
  // With --mg N, "0" is an allele like any other.
  expectLayoutsAgree(simulate(40, 11, 3u, "A0GT", 'N'), {"--mg", "N"});
  expectLayoutsAgree(simulate(40, 11, 4u, "ACGTXYZW12", '0'));
}

// The data set of `calls` with line `line` (from 1) changed by `edit`.
template <typename Edit>
std::string editedPed(Calls calls, Layout layout, size_t line, Edit edit) {
  std::string text;
  for (size_t i = 0; i < calls.size(); ++i) {
    std::string one = lineOf(calls[i], i, layout);
    if (i + 1 == line) edit(one);
    text += one;
  }
  return text;
}

// Runs the edited data set in the letter and the field layouts: both stop
// with the same output, which holds `message`.
template <typename Edit>
void expectSameStop(const Calls& calls, size_t line, Edit edit, const std::string& message) {
  const std::string map = mapText(calls.front().size());
  const Outcome letters = recodeBinary(map, editedPed(calls, Layout::kLetters, line, edit));
  const Outcome fields = recodeBinary(map, editedPed(calls, Layout::kFields, line, edit));
  EXPECT_EQ(letters.status, 1);
  EXPECT_EQ(letters.out, fields.out);
  EXPECT_NE(letters.out.find(message), std::string::npos) << letters.out;
}

// Replaces the genotype of marker s (from 0) on a line written with one
// separator between fields (the first genotype may have two).
void setGenotype(std::string& line, size_t s, const std::string& genotype) {
  size_t at = 0;
  for (int field = 0; field < 6; ++field) at = line.find_first_of(" \t", line.find_first_not_of(" \t", at));
  for (size_t k = 0; k < s; ++k) {
    at = line.find_first_not_of(" \t", at);
    at = line.find_first_not_of(" \t", line.find_first_of(" \t", at));
    at = line.find_first_of(" \t", at);
  }
  at = line.find_first_not_of(" \t", at);
  const size_t end = line.find_first_of(" \t\n", line.find_first_not_of(" \t", line.find_first_of(" \t", at)));
  line.replace(at, end - at, genotype);
}

TEST(PedLayout, GenotypeErrorsKeepTheirMessagesAndLines) {
  const Calls calls = simulate(40, 14, 9u);
  const auto genotype = [](size_t s, std::string text) {
    return [s, text](std::string& line) { setGenotype(line, s, text); };
  };
  expectSameStop(calls, 31, genotype(6, "0 A"),
                 "genotype of snp rs7 in 31th line is not correct, only one allele is missing!\n");
  expectSameStop(calls, 29, genotype(1, "C 0"),
                 "genotype of snp rs2 in 29th line is not correct, only one allele is missing!\n");
  // rs10's letters are C and T (rs1 to rs7 take their second from one
  // place further in ACGT, the next seven from two places).
  expectSameStop(calls, 33, genotype(9, "C G"),
                 "The allele of marker rs10 (chromosome 1) is more than 2, please check the data!\n");
  // The first error of a line is the one reported.
  expectSameStop(calls, 35, [](std::string& line) {
    setGenotype(line, 12, "0 G");
    setGenotype(line, 3, "0 T");
  }, "genotype of snp rs4 in 35th line is not correct, only one allele is missing!\n");
}

TEST(PedLayout, FieldCountErrorsComeBeforeGenotypeErrors) {
  const Calls calls = simulate(40, 14, 9u);
  const auto genotype = [](size_t s, std::string text) {
    return [s, text](std::string& line) { setGenotype(line, s, text); };
  };
  const std::string wrongCount = "Individual F37 37 does not have same snp as snp map listed.\n";
  const auto append = [](const std::string& tail) {
    return [tail](std::string& line) { line.insert(line.size() - 1, tail); };
  };
  expectSameStop(calls, 37, append(" A"), wrongCount);
  expectSameStop(calls, 37, append(" A C"), wrongCount);
  expectSameStop(calls, 37, [](std::string& line) { line.erase(line.size() - 3, 2); }, wrongCount);
  // An allele of two letters is a field like any other.
  expectSameStop(calls, 37, genotype(13, "C CA"),
                 "The allele of marker rs14 (chromosome 1) is more than 2, please check the data!\n");
  expectSameStop(calls, 37, [](std::string& line) {
    setGenotype(line, 2, "0 T");
    line.insert(line.size() - 1, " G");
  }, wrongCount);
  expectSameStop(calls, 37, [](std::string& line) { line.replace(line.size() - 2, 1, "/"); },
                 wrongCount);
}

TEST(PedLayout, LinesAcrossReadBlocksAndErrorsNearTheEnd) {
  // 3,000 markers make lines of 12 kB and a file of 6 MB: lines span the
  // reader's 4 MB blocks.
  const Calls calls = simulate(500, 3000, 21u);
  expectLayoutsAgree(calls);
  const auto genotype = [](size_t s, std::string text) {
    return [s, text](std::string& line) { setGenotype(line, s, text); };
  };
  expectSameStop(calls, 480, genotype(2999, "A 0"),
                 "genotype of snp rs3000 in 480th line is not correct, only one allele is missing!\n");
  expectSameStop(calls, 499, [](std::string& line) { line.insert(line.size() - 1, " G"); },
                 "Individual F499 499 does not have same snp as snp map listed.\n");
}

TEST(PedLayout, SeparatorAsAnAlleleOfTheMarkerList) {
  // A .bim may give "/" as an allele; a "/" in a .ped line still separates
  // fields, so the line below has nine allele fields for five markers.
  TempDir dir;
  dir.write("f.map", mapText(5));
  dir.write("f.ped", "F1 1 0 0 1 1 A C C C G G T T A A\n");
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "f", "--make-bed", "b"}).status, 0);
  std::string bim = dir.read("b.bim");
  bim.replace(bim.find(" A C "), 5, " A / ");
  dir.write("b.bim", bim);
  dir.write("u.map", mapText(5));
  dir.write("u.ped", "U1 1 0 0 1 1 A / C C G G T T A A\n");
  const RunResult run = runOmbra(dir.path(), {"--bf", "b", "--i", "u", "--p", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Individual U1 1 does not have same snp as snp map listed.\n"), std::string::npos) << run.out;
}

bool hasPlink() { return std::system("command -v plink1.9 >/dev/null 2>&1") == 0; }

// The genotypes of a .ped text, each as its two letters in sorted order.
std::vector<std::vector<std::string>> sortedGenotypes(const std::string& ped) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(ped);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    std::string a;
    std::string b;
    for (int k = 0; k < 6; ++k) fields >> a;
    while (fields >> a >> b) row.push_back(a < b ? a + b : b + a);
    rows.push_back(row);
  }
  return rows;
}

TEST(PedLayout, PlinkReadsBackTheGenotypesOfLetterLines) {
  if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
  TempDir dir;
  const Calls calls = simulate(60, 23, 17u);
  const std::string ped = pedText(calls, Layout::kLetters);
  dir.write("d.map", mapText(23));
  dir.write("d.ped", ped);
  ASSERT_EQ(runOmbra(dir.path(), {"--i", "d", "--make-plink-bed", "p"}).status, 0);
  const std::string command = "cd '" + dir.path() + "' && plink1.9 --bfile p --recode --out r >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(sortedGenotypes(dir.read("r.ped")), sortedGenotypes(ped));
}

TEST(FieldSplitter, FirstFieldsThenTheRestSplitAsTheWholeLine) {
  const ombra::FieldSplitter separators("\t /");
  const std::vector<std::string> texts = {"", "  ", "a", " a b", "a b c d e f", "a  b\tc/d e f g h", "a b c d e f ",
                                 "a b c d e f\t\tg/h  ", std::string("a\0b c d e f g", 13)};
  for (const std::string& text : texts) {
    std::vector<std::string_view> whole;
    separators.split(text, whole);
    std::vector<std::string_view> parts;
    const size_t rest = separators.splitFirst(text, 6, parts);
    EXPECT_EQ(parts.size(), std::min<size_t>(6, whole.size())) << text;
    separators.split(std::string_view(text).substr(rest), parts);
    EXPECT_EQ(parts, whole) << text;
  }
}

}  // namespace
