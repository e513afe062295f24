// Covariates and phenotype files, checked by identities: a covariate equal
// to a component's scores is that component, the sample files' traits given
// as a phenotype file change nothing, an individual missing a covariate is
// an individual without a trait, a categorical column is its indicators.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "design/TestedSample.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

struct Person {
  std::string famId, indId, sex, trait;
};

// The sample columns of both example sets, family set first.
std::vector<Person> examplePeople() {
  std::vector<Person> people;
  for (const char* set : {"family.ped", "unrelated.ped"}) {
    std::istringstream in(testing_support::readFile(kExamples + set));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      Person p;
      std::string father, mother;
      fields >> p.famId >> p.indId >> father >> mother >> p.sex >> p.trait;
      people.push_back(p);
    }
  }
  return people;
}

// Every number of a result file, line by line.
std::vector<std::vector<double>> numbers(const std::string& result) {
  std::vector<std::vector<double>> lines;
  std::istringstream in(result);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string word;
    std::vector<double> values;
    for (int i = 0; fields >> word; ++i) {
      if (i >= 3) values.push_back(std::strtod(word.c_str(), nullptr));
    }
    lines.push_back(values);
  }
  return lines;
}

// The same numbers to the printed digits.
void expectSameNumbers(const std::string& a, const std::string& b) {
  const auto x = numbers(a);
  const auto y = numbers(b);
  ASSERT_EQ(x.size(), y.size());
  ASSERT_GT(x.size(), 100u);
  for (size_t i = 0; i < x.size(); ++i) {
    ASSERT_EQ(x[i].size(), y[i].size()) << "line " << i;
    for (size_t k = 0; k < x[i].size(); ++k) {
      EXPECT_NEAR(x[i][k], y[i][k], 2e-6 * std::max(1.0, std::fabs(x[i][k]))) << "line " << i << " column " << k;
    }
  }
}

class Design : public ::testing::Test {
 protected:
  std::string run(std::vector<std::string> args, const std::string& out = "result.txt") {
    std::vector<std::string> all{"--f", kExamples + "family", "--i", kExamples + "unrelated", "--out", out};
    all.insert(all.end(), args.begin(), args.end());
    last = runOmbra(dir.path(), all);
    EXPECT_EQ(last.status, 0) << last.out;
    return dir.read(out);
  }
  // A table with a header "FID IID names..." and a row per person.
  void writeTable(const std::string& name, const std::string& header,
                  const std::function<std::string(size_t, const Person&)>& values) {
    std::string text = header + "\n";
    const std::vector<Person> people = examplePeople();
    for (size_t i = 0; i < people.size(); ++i) {
      const std::string row = values(i, people[i]);
      if (!row.empty()) text += people[i].famId + " " + people[i].indId + " " + row + "\n";
    }
    dir.write(name, text);
  }
  TempDir dir;
  RunResult last;
};

TEST_F(Design, CovariateEqualToAComponentIsThatComponent) {
  run({"--p", "3", "--op", "pca.txt"});
  std::map<std::string, std::string> third;
  std::istringstream in(dir.read("pca.txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string famId, indId, trait, flag, pc1, pc2, pc3;
    fields >> famId >> indId >> trait >> flag >> pc1 >> pc2 >> pc3;
    third[famId + " " + indId] = pc3;
  }
  writeTable("pc3.txt", "#FID IID PC3", [&](size_t, const Person& p) { return third[p.famId + " " + p.indId]; });
  const std::string components = run({"--p", "3", "--rp", "pca.txt"}, "three.txt");
  const std::string covariate = run({"--p", "2", "--rp", "pca.txt", "--covar", "pc3.txt"}, "two.txt");
  EXPECT_NE(last.out.find("Covariates (1 columns): PC3\n"), std::string::npos) << last.out;
  expectSameNumbers(components, covariate);
}

TEST_F(Design, PhenotypeFileOfTheSampleTraitsChangesNothing) {
  const std::string plain = run({"--p", "2"}, "plain.txt");
  writeTable("pheno.txt", "FID IID OTHER TRAIT", [](size_t i, const Person& p) {
    return std::to_string(i % 3) + " " + (p.trait == "0" ? std::string("NA") : p.trait);
  });
  EXPECT_EQ(run({"--p", "2", "--pheno", "pheno.txt", "--pheno-name", "TRAIT"}, "pheno.txt.out"), plain);
  // An individual the file does not list has no trait: the same as a 0 in
  // the .ped.
  writeTable("some.txt", "FID IID T", [](size_t i, const Person& p) { return i % 4 == 1 ? "" : p.trait; });
  const std::string some = run({"--p", "2", "--pheno", "some.txt"}, "some.out");
  writeTable("zeroed.txt", "FID IID T", [](size_t i, const Person& p) { return i % 4 == 1 ? "0" : p.trait; });
  EXPECT_EQ(run({"--p", "2", "--pheno", "zeroed.txt"}, "zeroed.out"), some);
}

// A phenotype column reads as PLINK 2 reads it: counts keep their zeros
// (the same as 0.0), --mt 0 makes them missing (the same as NA); a column
// of 0, 1 and 2 is case-control with 0 missing.
TEST_F(Design, PhenotypeZerosAreValuesInACountAndMissingInACaseControlColumn) {
  const auto count = [](size_t i, const char* zero) {
    const size_t value = (i * 7) % 5;
    return value == 0 ? std::string(zero) : std::to_string(value);
  };
  writeTable("counts.txt", "FID IID C", [&](size_t i, const Person&) { return count(i, "0"); });
  writeTable("decimal.txt", "FID IID C", [&](size_t i, const Person&) { return count(i, "0.0"); });
  writeTable("na.txt", "FID IID C", [&](size_t i, const Person&) { return count(i, "NA"); });
  const std::string counts = run({"--p", "2", "--pheno", "counts.txt"}, "counts.out");
  EXPECT_NE(last.out.find("Phenotype C is read as quantitative (0 a value; NA and -9 missing): 0 missing.\n"),
            std::string::npos)
      << last.out;
  EXPECT_EQ(run({"--p", "2", "--pheno", "decimal.txt"}, "decimal.out"), counts);
  const std::string na = run({"--p", "2", "--pheno", "na.txt"}, "na.out");
  EXPECT_NE(na, counts);
  // Without zeros a quantitative column reads as it always has, saying nothing new.
  EXPECT_EQ(last.out.find("is read as"), std::string::npos) << last.out;
  EXPECT_EQ(run({"--p", "2", "--pheno", "counts.txt", "--mt", "0"}, "mt.out"), na);
  EXPECT_NE(last.out.find("quantitative (0 a value; NA and -9 missing, and 0 from --mt)"), std::string::npos)
      << last.out;

  writeTable("coded.txt", "FID IID D", [](size_t i, const Person&) { return std::to_string(i % 3); });
  writeTable("coded-na.txt", "FID IID D",
             [](size_t i, const Person&) { return i % 3 == 0 ? std::string("NA") : std::to_string(i % 3); });
  const std::string coded = run({"--p", "2", "--pheno", "coded.txt", "--mt", "-999"}, "coded.out");
  EXPECT_NE(last.out.find("Phenotype D is read as case-control (1 unaffected, 2 affected; 0, NA and -9 missing, "
                          "and -999 from --mt): "),
            std::string::npos)
      << last.out;
  EXPECT_EQ(run({"--p", "2", "--pheno", "coded-na.txt", "--mt", "-999"}, "coded-na.out"), coded);
}

TEST_F(Design, MissingCovariateLeavesTheIndividualOutAsAMissingTraitDoes) {
  writeTable("age.txt", "FID IID AGE", [](size_t i, const Person&) {
    return i % 7 == 3 ? std::string("NA") : std::to_string(20 + (i * 37) % 50);
  });
  const std::string withMissing = run({"--p", "2", "--covar", "age.txt"}, "a.txt");
  EXPECT_NE(last.out.find(" individuals with a trait are left out of the test for a missing covariate.\n"),
            std::string::npos);
  writeTable("pheno.txt", "FID IID T", [](size_t i, const Person& p) { return i % 7 == 3 ? "0" : p.trait; });
  writeTable("age2.txt", "FID IID AGE",
             [](size_t i, const Person&) { return std::to_string(i % 7 == 3 ? 0 : 20 + (i * 37) % 50); });
  EXPECT_EQ(run({"--p", "2", "--covar", "age2.txt", "--pheno", "pheno.txt"}, "b.txt"), withMissing);
}

TEST_F(Design, CategoricalColumnIsItsIndicatorsAndConstantsAreDropped) {
  static const char* const kBatch[3] = {"north", "south", "east"};
  writeTable("batch.txt", "FID IID BATCH ONE",
             [](size_t i, const Person&) { return std::string(kBatch[(i * 7) % 3]) + " 1"; });
  const std::string categorical = run({"--p", "2", "--covar", "batch.txt"}, "c.txt");
  EXPECT_NE(last.out.find("Covariates (3 columns): BATCH=south BATCH=east ONE\n"), std::string::npos) << last.out;
  EXPECT_NE(last.out.find("The covariate ONE is constant"), std::string::npos);
  writeTable("numeric.txt", "FID IID S E", [](size_t i, const Person&) {
    const size_t b = (i * 7) % 3;
    return std::string(b == 1 ? "1" : "0") + " " + (b == 2 ? "1" : "0");
  });
  EXPECT_EQ(run({"--p", "2", "--covar", "numeric.txt"}, "n.txt"), categorical);
}

TEST_F(Design, SexFromTheSampleFilesNeedsNoFile) {
  const std::string fromPed = run({"--p", "2", "--covar-name", "SEX"}, "s.txt");
  writeTable("sex.txt", "FID IID SEX", [](size_t, const Person& p) { return p.sex; });
  EXPECT_EQ(run({"--p", "2", "--covar", "sex.txt"}, "t.txt"), fromPed);
  EXPECT_NE(run({"--p", "2"}, "u.txt"), fromPed);
}

TEST_F(Design, BadTablesAndOptionsStopNamingTheFile) {
  const std::vector<std::string> data{"--f", kExamples + "family", "--i", kExamples + "unrelated"};
  auto stops = [&](std::vector<std::string> args, const std::string& message) {
    args.insert(args.begin(), data.begin(), data.end());
    const RunResult result = runOmbra(dir.path(), args);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find(message), std::string::npos) << result.out;
    EXPECT_FALSE(dir.exists("result.txt"));
  };
  dir.write("noheader.txt", "FAM01 101 3.5\n");
  stops({"--covar", "noheader.txt"}, "The first line of noheader.txt must be a header whose first two names are FID");
  dir.write("twice.txt", "FID IID AGE\nFAM01 101 3\nFAM01 101 4\n");
  stops({"--covar", "twice.txt"}, "Line 3 of twice.txt gives the individual FAM01 101 a second time.\n");
  dir.write("short.txt", "FID IID AGE BMI\nFAM01 101 3\n");
  stops({"--covar", "short.txt"}, "Line 2 of short.txt has 3 fields, but the header names 4.\n");
  dir.write("age.txt", "FID IID AGE\nFAM01 101 3\n");
  stops({"--covar", "age.txt", "--covar-name", "AGE,BMI"},
        "The column BMI named by --covar-name is not in the header of age.txt.\n");
  stops({"--pheno", "age.txt", "--pheno-name", "T"}, "The column T named by --pheno-name is not in the header");
  stops({"--pheno-name", "AGE"}, "The option --pheno-name needs a phenotype file (--pheno).\n");
  dir.write("none.txt", "FID IID AGE\nNOBODY 1 3\n");
  stops({"--covar", "none.txt"}, "There is no individual to test: every individual with a trait misses a covariate.\n");
  stops({"--covar-name", "AGE"}, "The covariate AGE named by --covar-name needs a covariate file (--covar).\n");
  stops({"--covar", "age.txt", "--covar-name", "AGE,,X"}, "The option --covar-name takes names separated by commas.\n");
  dir.write("word.txt", "FID IID T\nFAM01 101 tall\n");
  stops({"--pheno", "word.txt"}, "The phenotype tall of individual FAM01 101 in word.txt is not a number.\n");
}

// The tested sample's stage called alone on each trait it refuses: the stop
// carries the message a run prints, which a run of several phenotypes turns
// into the line that skips one.
TEST(TestedSample, EachRefusalIsTheStopsMessage) {
  auto cohortOf = [](const std::vector<std::string>& traits, double covariate) {
    Cohort cohort;
    for (size_t i = 0; i < traits.size(); ++i) {
      Pedigree alone;
      alone.famId = "F" + std::to_string(i);
      Individual person;
      person.indId = "I" + std::to_string(i);
      person.trait = traits[i];
      person.traitValue = std::atof(traits[i].c_str());
      person.seq = static_cast<int>(i);
      person.covariates = {covariate};
      alone.members.push_back(person);
      cohort.unrelated.pedigrees.push_back(alone);
    }
    cohort.unrelated.rows.resize(traits.size());
    cohort.unrelated.size = static_cast<int>(traits.size());
    return cohort;
  };
  const auto stopOf = [](const Cohort& cohort) {
    return testing_support::stopOf([&] { ombra::collectTested(cohort, "-9"); });
  };
  testing_support::StopShown stop = stopOf(cohortOf({"-9", "-9", "-9"}, 1.0));
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out, "There is no individual to test: no individual has a value.\n");
  stop = stopOf(cohortOf({"2", "2", "-9"}, 1.0));
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out.rfind("The trait does not vary: all 2 tested individuals have the trait 2, ", 0), 0u) << stop.out;
  stop = stopOf(cohortOf({"1", "2", "3"}, std::nan("")));
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out,
            "3 individuals with a trait are left out of the test for a missing covariate.\n"
            "There is no individual to test: every individual with a trait misses a covariate.\n");
  stop = stopOf(cohortOf({"1", "2", "-9"}, 1.0));
  EXPECT_EQ(stop.status, -1) << stop.out;
  EXPECT_EQ(ombra::collectTested(cohortOf({"1", "2", "-9"}, 1.0), "-9").size(), 2u);
}

}  // namespace
