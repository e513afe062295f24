// Which trait codes are missing: PLINK's -9 in the .fam of PLINK filesets
// and VCF sets, the --mt code alone in Ombra's own text sets; and a trait
// that does not vary is not tested.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using testing_support::readFile;
using testing_support::RunResult;
using testing_support::runOmbra;
using testing_support::TempDir;

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// `fam` with the trait (sixth field) of every fifth line replaced by `code`,
// or of every line when `every` is set.
std::string withTraits(const std::string& fam, const std::string& code, bool every = false) {
  std::istringstream in(fam);
  std::string out;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    if (every || n % 5 == 0) {
      const size_t traitStart = line.rfind(' ') + 1;
      line = line.substr(0, traitStart) + code;
    }
    out += line + "\n";
  }
  return out;
}

// Copies the example set `folder`/`name` (with the files of `extensions`)
// into `dir`, its .fam traits rewritten by `rewrite`.
template <typename Rewrite>
void copySet(const TempDir& dir, const std::string& folder, const std::string& name,
             const std::vector<std::string>& extensions, Rewrite rewrite) {
  for (const std::string& extension : extensions) {
    const std::string content = readFile(kExamples + folder + name + extension);
    dir.write(name + extension, extension == ".fam" ? rewrite(content) : content);
  }
}

struct SetLayout {
  const char* folder;
  const char* familyOption;
  const char* unrelatedOption;
  std::vector<std::string> extensions;
};

void PrintTo(const SetLayout& layout, std::ostream* out) { *out << layout.folder; }

const SetLayout kPlinkLayout{"plink/", "--bf", "--bi", {".bed", ".bim", ".fam"}};
const SetLayout kVcfLayout{"vcf/", "--vf", "--vi", {".vcf.gz", ".fam"}};

RunResult runSets(const TempDir& dir, const SetLayout& layout, const std::string& out) {
  return runOmbra(dir.path(), {layout.familyOption, "family", layout.unrelatedOption, "unrelated", "--p", "3",
                               "--out", out});
}

class PlinkWorldTraits : public ::testing::TestWithParam<SetLayout> {};

TEST_P(PlinkWorldTraits, MinusNineIsMissingLikeTheMissingCode) {
  const SetLayout& layout = GetParam();
  TempDir zero, minusNine;
  for (const std::string name : {"family", "unrelated"}) {
    copySet(zero, layout.folder, name, layout.extensions, [](const std::string& fam) { return withTraits(fam, "0"); });
    copySet(minusNine, layout.folder, name, layout.extensions,
            [](const std::string& fam) { return withTraits(fam, "-9"); });
  }
  const RunResult expected = runSets(zero, layout, "r.txt");
  ASSERT_EQ(expected.status, 0) << expected.out;
  const RunResult run = runSets(minusNine, layout, "r.txt");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(minusNine.read("r.txt") == zero.read("r.txt"));
  EXPECT_NE(run.out.find("individuals of family.fam have the trait -9, PLINK's missing code, counted as missing.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("quantitative trait"), std::string::npos) << run.out;
}

TEST_P(PlinkWorldTraits, NoTraitOrOneTraitValueStopsWithoutResult) {
  const SetLayout& layout = GetParam();
  for (const std::string code : {"-9", "2"}) {
    TempDir dir;
    for (const std::string name : {"family", "unrelated"}) {
      copySet(dir, layout.folder, name, layout.extensions,
              [&](const std::string& fam) { return withTraits(fam, code, true); });
    }
    const RunResult run = runSets(dir, layout, "r.txt");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_FALSE(dir.exists("r.txt"));
    const std::string message = code == "-9" ? "There is no individual to test: every trait is the missing-trait code"
                                             : "The trait does not vary: all 397 tested individuals have the trait 2,";
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PlinkWorldTraits, ::testing::Values(kPlinkLayout, kVcfLayout),
                         [](const auto& info) { return std::string(info.param.familyOption + 2); });

// A text .ped keeps its rule (stored analyses rely on it) and says how to
// make -9 missing; with --mt -9 it reads as the PLINK sets do.
TEST(TextTraits, MinusNineStaysAValueWithAHint) {
  TempDir dir;
  dir.write("family.map", readFile(kExamples + "family.map"));
  dir.write("unrelated.map", readFile(kExamples + "unrelated.map"));
  dir.write("unrelated.ped", readFile(kExamples + "unrelated.ped"));
  const std::string ped = readFile(kExamples + "family.ped");
  // The trait is the sixth field of each line.
  auto rewrite = [&](const std::string& code) {
    std::istringstream in(ped);
    std::string out, line;
    for (int n = 0; std::getline(in, line); ++n) {
      std::istringstream fields(line);
      std::string field, rest;
      std::vector<std::string> head;
      for (int f = 0; f < 6 && fields >> field; ++f) head.push_back(field);
      std::getline(fields, rest);
      if (n % 5 == 0) head[5] = code;
      for (const std::string& value : head) out += value + " ";
      out += rest.substr(rest.find_first_not_of(' ')) + "\n";
    }
    return out;
  };
  auto run = [&](const std::string& code, const std::string& out, const std::vector<std::string>& extra) {
    dir.write("family.ped", rewrite(code));
    std::vector<std::string> all = {"--f", "family", "--i", "unrelated", "--p", "3", "--out", out};
    all.insert(all.end(), extra.begin(), extra.end());
    return runOmbra(dir.path(), all);
  };
  const RunResult plain = run("-9", "plain.txt", {});
  ASSERT_EQ(plain.status, 0) << plain.out;
  const std::string hint =
      "individuals of family.ped have the trait -9, read as a quantitative value; give --mt -9 to make it missing.\n";
  EXPECT_NE(plain.out.find(hint), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("with unknown or quantitative trait."), std::string::npos);

  const RunResult given = run("-9", "given.txt", {"--mt", "-9"});
  ASSERT_EQ(given.status, 0) << given.out;
  EXPECT_EQ(given.out.find("have the trait -9"), std::string::npos) << given.out;
  // Any other code given with --mt reads the same.
  ASSERT_EQ(run("-7", "other.txt", {"--mt", "-7"}).status, 0);
  EXPECT_TRUE(dir.read("given.txt") == dir.read("other.txt"));
  EXPECT_FALSE(dir.read("plain.txt") == dir.read("other.txt"));
}

}  // namespace
