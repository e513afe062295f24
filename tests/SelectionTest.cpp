// Sample and SNP selections checked by their identities: --remove X gives the
// result of deleting X's lines, --keep that of keeping only the listed lines,
// and --extract, --exclude, --chr, --from-bp/--to-bp that of deleting the
// SNPs' columns and map lines; in text sets, PLINK filesets, Ombra's own
// binary layout and VCF. Then every bad input of the options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  std::string word;
  while (in >> word) fields.push_back(word);
  return fields;
}

std::string idOf(const std::string& line) {
  const std::vector<std::string> f = fieldsOf(line);
  return f.size() < 2 ? std::string() : f[0] + " " + f[1];
}

// The lines of `path` whose "FID IID" passes `keep`.
std::string keptLines(const std::string& path, const std::function<bool(const std::string&)>& keep) {
  std::string out;
  for (const std::string& line : linesOf(testing_support::readFile(path))) {
    if (keep(idOf(line))) out += line + "\n";
  }
  return out;
}

struct SnpLine {
  std::string chr, name;
  long position;
};

std::vector<SnpLine> exampleMap() {
  std::vector<SnpLine> snps;
  for (const std::string& line : linesOf(testing_support::readFile(kExamples + "family.map"))) {
    const std::vector<std::string> f = fieldsOf(line);
    snps.push_back(SnpLine{f[0], f[1], std::stol(f[3])});
  }
  return snps;
}

class Selection : public ::testing::Test {
 protected:
  // Runs ombra with `args` plus --out `out`; returns the result file.
  std::string run(std::vector<std::string> args, const std::string& out) {
    args.insert(args.end(), {"--p", "3", "--out", out});
    last = runOmbra(dir.path(), args);
    EXPECT_EQ(last.status, 0) << last.out;
    return dir.exists(out) ? dir.read(out) : std::string();
  }
  RunResult fails(std::vector<std::string> args) {
    args.insert(args.end(), {"--out", "never.txt"});
    RunResult result = runOmbra(dir.path(), args);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_FALSE(dir.exists("never.txt"));
    return result;
  }
  std::vector<std::string> textSets(const std::string& family, const std::string& unrelated) const {
    return {"--f", family, "--i", unrelated};
  }
  std::vector<std::string> examples() const { return textSets(kExamples + "family", kExamples + "unrelated"); }
  // Copies of the example text sets as `prefix`f / `prefix`u with only the
  // individuals `keep` passes.
  std::vector<std::string> textWith(const std::string& prefix, const std::function<bool(const std::string&)>& keep) {
    for (const char* set : {"family", "unrelated"}) {
      const std::string name = prefix + set;
      dir.write(name + ".ped", keptLines(kExamples + set + ".ped", keep));
      dir.write(name + ".map", testing_support::readFile(kExamples + set + ".map"));
    }
    return textSets(dir.file(prefix + "family"), dir.file(prefix + "unrelated"));
  }
  // Copies of the example text sets with only the SNPs `keep` passes.
  std::vector<std::string> textWithSnps(const std::string& prefix, const std::function<bool(const SnpLine&)>& keep) {
    const std::vector<SnpLine> snps = exampleMap();
    for (const char* set : {"family", "unrelated"}) {
      std::string map, ped;
      for (const SnpLine& snp : snps) {
        if (keep(snp)) map += snp.chr + "\t" + snp.name + "\t0\t" + std::to_string(snp.position) + "\n";
      }
      for (const std::string& line : linesOf(testing_support::readFile(kExamples + set + ".ped"))) {
        const std::vector<std::string> f = fieldsOf(line);
        std::string out = f[0];
        for (size_t k = 1; k < 6; ++k) out += " " + f[k];
        for (size_t s = 0; s < snps.size(); ++s) {
          if (keep(snps[s])) out += " " + f[6 + 2 * s] + " " + f[7 + 2 * s];
        }
        ped += out + "\n";
      }
      dir.write(prefix + set + ".map", map);
      dir.write(prefix + set + ".ped", ped);
    }
    return textSets(dir.file(prefix + "family"), dir.file(prefix + "unrelated"));
  }
  static std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  TempDir dir;
  RunResult last;
};

// A family founder whose children then lose a parent, a child, an unrelated
// individual, and one who is in neither data set.
const char* const kRemoved = "FAM01 101\nFAM02 203\nU007 U007\nNOBODY X\n";

TEST_F(Selection, RemoveFromTextSetsIsDeletingTheLines) {
  dir.write("rm.txt", kRemoved);
  const std::set<std::string> gone{"FAM01 101", "FAM02 203", "U007 U007"};
  const auto keep = [&](const std::string& id) { return gone.count(id) == 0; };
  for (const char* adjustment : {"intercept", "legacy"}) {
    SCOPED_TRACE(adjustment);
    const std::vector<std::string> how{"--adjustment", adjustment};
    const std::string removed = run(plus(plus(examples(), how), {"--remove", "rm.txt"}), "removed.txt");
    EXPECT_NE(last.out.find("--remove rm.txt: 3 individuals removed (listed).\n"), std::string::npos) << last.out;
    EXPECT_NE(last.out.find("Sample selection: 394 of 397 individuals kept.\n"), std::string::npos);
    const std::string deleted = run(plus(textWith("d", keep), how), "deleted.txt");
    EXPECT_EQ(removed, deleted);
    EXPECT_NE(removed, run(plus(examples(), how), "all.txt"));
  }
}

TEST_F(Selection, KeepIsKeepingOnlyTheListedLines) {
  std::string list;
  std::set<std::string> listed;
  size_t i = 0;
  for (const char* set : {"family.ped", "unrelated.ped"}) {
    for (const std::string& line : linesOf(testing_support::readFile(kExamples + set))) {
      if (i++ % 3 != 1) {
        listed.insert(idOf(line));
        list += idOf(line) + "\n";
      }
    }
  }
  dir.write("keep.txt", list);
  dir.write("rm.txt", "FAM03 301\n");
  const auto keep = [&](const std::string& id) { return listed.count(id) != 0 && id != "FAM03 301"; };
  const std::string selected = run(plus(examples(), {"--keep", "keep.txt", "--remove", "rm.txt"}), "kept.txt");
  EXPECT_EQ(selected, run(textWith("k", keep), "deleted.txt"));
}

// The binary layouts drop the individuals after loading; the allele counts
// and the numbering must then be as if the lines and rows had never been in
// the files, also under the legacy adjustment, which reads the counts. (A
// text set is not the reference here: deleting its first lines can change
// which allele it meets first, and so the legacy statistics.)
TEST_F(Selection, RemoveFromBinaryLayoutsIsDeletingTheLines) {
  if (std::system("command -v plink1.9 >/dev/null 2>&1") != 0) GTEST_SKIP() << "plink1.9 is not installed";
  dir.write("rm.txt", kRemoved);
  for (const char* set : {"family", "unrelated"}) {
    const std::string command = "cd '" + dir.path() + "' && plink1.9 --bfile " + kExamples + "plink/" + set +
                                " --remove rm.txt --keep-allele-order --output-missing-phenotype 0 --make-bed --out cut" + set + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  ASSERT_EQ(runOmbra(dir.path(), {"--f", kExamples + "family", "--make-bed", "ofam"}).status, 0);
  ASSERT_EQ(runOmbra(dir.path(), {"--i", kExamples + "unrelated", "--make-bed", "ounr"}).status, 0);
  const std::vector<std::string> rm{"--remove", "rm.txt"};
  const std::vector<std::string> layouts[] = {
      {"--bf", kExamples + "plink/family", "--bi", kExamples + "plink/unrelated"},
      {"--bf", dir.file("ofam"), "--bi", dir.file("ounr")},
  };
  for (const char* adjustment : {"intercept", "legacy"}) {
    const std::vector<std::string> how{"--adjustment", adjustment};
    const std::string deleted = run(plus({"--bf", "cutfamily", "--bi", "cutunrelated"}, how), "deleted.txt");
    for (const std::vector<std::string>& layout : layouts) {
      SCOPED_TRACE(std::string(adjustment) + " " + layout[1]);
      EXPECT_EQ(run(plus(plus(layout, how), rm), "binary.txt"), deleted);
    }
  }
}

TEST_F(Selection, RemoveFromVcfIsDeletingTheFamLines) {
  dir.write("rm.txt", kRemoved);
  const std::set<std::string> gone{"FAM01 101", "FAM02 203", "U007 U007"};
  for (const char* set : {"family", "unrelated"}) {
    dir.write(std::string(set) + ".vcf.gz", testing_support::readFile(kExamples + "vcf/" + set + ".vcf.gz"));
    dir.write(std::string(set) + ".fam",
              keptLines(kExamples + "vcf/" + set + ".fam", [&](const std::string& id) { return gone.count(id) == 0; }));
  }
  const std::string removed =
      run({"--vf", kExamples + "vcf/family", "--vi", kExamples + "vcf/unrelated", "--remove", "rm.txt"}, "r.txt");
  EXPECT_EQ(removed, run({"--vf", dir.file("family"), "--vi", dir.file("unrelated")}, "d.txt"));
}

TEST_F(Selection, SnpSelectionsAreDeletingTheColumns) {
  std::string extract, exclude;
  for (const SnpLine& snp : exampleMap()) {
    const int n = std::stoi(snp.name.substr(2));
    if (n % 5 != 0) extract += snp.name + "\n";
    if (n % 7 == 0) exclude += snp.name + "\n";
  }
  dir.write("extract.txt", extract + "rsNOTHERE\n");
  dir.write("exclude.txt", exclude);
  const std::vector<SnpLine> snps = exampleMap();
  const long from = snps[120].position, to = snps[170].position;
  struct Case {
    std::vector<std::string> options;
    std::function<bool(const SnpLine&)> keep;
  };
  const auto number = [](const SnpLine& s) { return std::stoi(s.name.substr(2)); };
  const Case cases[] = {
      {{"--extract", "extract.txt"}, [&](const SnpLine& s) { return number(s) % 5 != 0; }},
      {{"--exclude", "exclude.txt"}, [&](const SnpLine& s) { return number(s) % 7 != 0; }},
      {{"--chr", "1,3"}, [](const SnpLine& s) { return s.chr != "2"; }},
      {{"--chr", "2-3", "--exclude", "exclude.txt"}, [&](const SnpLine& s) { return s.chr != "1" && number(s) % 7; }},
      {{"--chr", "2", "--from-bp", std::to_string(from), "--to-bp", std::to_string(to)},
       [&](const SnpLine& s) { return s.chr == "2" && s.position >= from && s.position <= to; }},
  };
  const std::vector<std::string> plinkSets{"--bf", kExamples + "plink/family", "--bi", kExamples + "plink/unrelated"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0] + " " + c.options[1]);
    const std::string deleted = run(textWithSnps("s", c.keep), "deleted.txt");
    EXPECT_EQ(run(plus(examples(), c.options), "selected.txt"), deleted);
    EXPECT_EQ(run(plus(plinkSets, c.options), "plink.txt"), deleted);
  }
  run(plus(examples(), {"--chr", "2", "--from-bp", std::to_string(from), "--to-bp", std::to_string(to)}), "x.txt");
  EXPECT_NE(last.out.find("--chr 2: 200 snps removed (on other chromosomes).\n"), std::string::npos) << last.out;
  EXPECT_NE(last.out.find("Snp selection: 51 of 300 snps kept.\n"), std::string::npos) << last.out;
}

TEST_F(Selection, ChromosomeNamesAndRanges) {
  // A map with X, chr-prefixed names and a name that is no code.
  const char* chrs[] = {"1", "chr2", "4", "22", "X", "chrX", "MT", "scaffold9"};
  std::string map, ped;
  for (size_t s = 0; s < 8; ++s) map += std::string(chrs[s]) + " rs" + std::to_string(s) + " 0 " + std::to_string(100 + s) + "\n";
  for (int i = 0; i < 12; ++i) {
    ped += "U" + std::to_string(i) + " U" + std::to_string(i) + " 0 0 1 " + std::to_string(1 + i % 2);
    for (int s = 0; s < 8; ++s) ped += (i + s) % 3 == 0 ? " A A" : (i + s) % 3 == 1 ? " A G" : " G G";
    ped += "\n";
  }
  dir.write("c.map", map);
  dir.write("c.ped", ped);
  const auto kept = [&](const std::string& list) {
    const std::string result = run({"--i", "c", "--p", "1", "--chr", list}, "c.txt");
    std::string names;
    for (const std::string& line : linesOf(result)) names += fieldsOf(line)[0] + " ";
    return names;
  };
  EXPECT_EQ(kept("1-4"), "rs0 rs1 rs2 ");
  EXPECT_EQ(kept("22,X"), "rs3 rs4 rs5 ");
  EXPECT_EQ(kept("chr23,26"), "rs4 rs5 rs6 ");
  EXPECT_EQ(kept("scaffold9,2"), "rs1 rs7 ");
}

TEST_F(Selection, RemoveNamingNobodyWarnsAndGoesOn) {
  dir.write("nobody.txt", "NOBODY X\nNOONE Y\n");
  const std::string all = run(examples(), "all.txt");
  EXPECT_EQ(run(plus(examples(), {"--remove", "nobody.txt"}), "r.txt"), all);
  EXPECT_NE(last.out.find("Warning: the file nobody.txt (--remove) names none of the individuals of the data.\n"),
            std::string::npos)
      << last.out;
  EXPECT_NE(last.out.find("Sample selection: 397 of 397 individuals kept.\n"), std::string::npos);
}

TEST_F(Selection, SelectionsThatLeaveNothingStop) {
  dir.write("nobody.txt", "NOBODY X\n");
  RunResult r = fails(plus(examples(), {"--keep", "nobody.txt"}));
  EXPECT_NE(r.out.find("names none of the individuals"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("No individual is left after --keep nobody.txt.\n"), std::string::npos) << r.out;
  dir.write("none.txt", "rsNOTHERE\n");
  r = fails(plus(examples(), {"--extract", "none.txt"}));
  EXPECT_NE(r.out.find("No snp is left after --extract none.txt.\n"), std::string::npos) << r.out;
  r = fails(plus(examples(), {"--chr", "5-9"}));
  EXPECT_NE(r.out.find("No snp is left after --chr 5-9.\n"), std::string::npos) << r.out;
  r = fails(plus(examples(), {"--maf", "0.5"}));
  EXPECT_NE(r.out.find("No snp is left after --maf 0.5.\n"), std::string::npos) << r.out;
}

TEST_F(Selection, BadOptionValuesStopNamingTheOption) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--maf", "0.7"}, "The option --maf takes a number from 0 to 0.5, not 0.7.\n"},
      {{"--geno", "-1"}, "The option --geno takes a number from 0 to 1, not -1.\n"},
      {{"--mind", "x"}, "The option --mind takes a number from 0 to 1, not x.\n"},
      {{"--hwe", "2"}, "The option --hwe takes a number from 0 to 1, not 2.\n"},
      {{"--from-bp", "100"}, "The options --from-bp and --to-bp need --chr with one chromosome.\n"},
      {{"--chr", "1,2", "--to-bp", "100"}, "The options --from-bp and --to-bp need --chr with one chromosome.\n"},
      {{"--chr", "1", "--from-bp", "1e5"}, "The option --from-bp takes a base-pair position (a whole number).\n"},
      {{"--chr", "1", "--from-bp", "9", "--to-bp", "8"}, "The position of --from-bp is after that of --to-bp.\n"},
      {{"--chr", "4-1"}, "The option --chr has the range 4-1, which is not from a lower chromosome code to a higher one.\n"},
      {{"--chr", ","}, "The option --chr takes a list of chromosomes.\n"},
      {{"--keep", "absent.txt"}, "The file absent.txt given to --keep does not exist.\n"},
      {{"--exclude", "absent.txt"}, "The file absent.txt given to --exclude does not exist.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first[0] + " " + c.first[1]);
    const RunResult r = fails(plus(examples(), c.first));
    EXPECT_NE(r.out.find(c.second), std::string::npos) << r.out;
    // Checked before anything is read.
    EXPECT_EQ(r.out.find("Reading pedigree"), std::string::npos) << r.out;
  }
  dir.write("one.txt", "FAM01 101\n\nFAM02\n");
  const RunResult r = fails(plus(examples(), {"--remove", "one.txt"}));
  EXPECT_NE(r.out.find("Line 3 of one.txt (--remove) has one field, but a family ID and an individual ID are needed.\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
