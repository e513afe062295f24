// The split-and-merge workflow (workflow/Snakefile) end to end: run with
// Snakemake on two cores over the example data in every format, its merged
// result file must be the single run's result file byte for byte; faulty
// configurations stop before any job runs. Skipped without snakemake.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kSource = OMBRA_SOURCE_DIR;
const std::string kExamples = kSource + "/examples/";

bool hasTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct Workflow {
  std::string format = "text";
  std::string family = kExamples + "family";
  std::string unrelated = kExamples + "unrelated";
  std::string pcs = "10";
  std::string chunks = "chromosome";
  std::string extra;
};

// Writes the workflow's configuration into `dir` (its folder `out`) and runs
// Snakemake there, so that every file it makes stays in `dir`.
RunResult runWorkflow(const TempDir& dir, const Workflow& w, const std::string& moreConfig = "",
                      const std::string& snakemakeOptions = "") {
  std::ostringstream config;
  config << "format: " << w.format << "\npcs: " << w.pcs << "\nchunks: " << w.chunks << "\nout: "
         << dir.file("out") << "\nombra: " << OMBRA_BINARY << "\nextra: \"" << w.extra << "\"\n";
  if (!w.family.empty()) config << "family: " << w.family << "\n";
  if (!w.unrelated.empty()) config << "unrelated: " << w.unrelated << "\n";
  dir.write("config.yaml", config.str() + moreConfig);
  const std::string command = "cd '" + dir.path() + "' && PYTHONDONTWRITEBYTECODE=1 XDG_CACHE_HOME='" +
                              dir.file(".cache") + "' timeout 600 snakemake -s '" + kSource +
                              "/workflow/Snakefile' --configfile config.yaml --cores 2 --quiet " + snakemakeOptions +
                              " > .workflow 2>&1";
  const int raw = std::system(command.c_str());
  RunResult run;
  run.out = dir.read(".workflow");
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  return run;
}

std::vector<std::string> dataOptions(const Workflow& w) {
  const bool vcf = w.format == "vcf", text = w.format == "text";
  std::vector<std::string> options;
  if (!w.family.empty()) options = {vcf ? "--vf" : text ? "--f" : "--bf", w.family};
  if (!w.unrelated.empty()) {
    options.push_back(vcf ? "--vi" : text ? "--i" : "--bi");
    options.push_back(w.unrelated);
  }
  return options;
}

// The single run on the workflow's components file, with `extra` after the
// other options as the workflow gives it.
std::string singleRunResult(const TempDir& dir, const Workflow& w, const std::vector<std::string>& extra) {
  std::vector<std::string> args = dataOptions(w);
  args.insert(args.end(), {"--p", w.pcs, "--rp", "out/components/pca.txt", "--out", "single"});
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult run = runOmbra(dir.path(), args);
  EXPECT_EQ(run.status, 0) << run.out;
  return dir.read("single");
}

size_t lineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// "" when the two files are equal, else their first differing lines.
std::string firstDifference(const std::string& merged, const std::string& single) {
  if (merged == single) return "";
  std::istringstream a(merged), b(single);
  std::string lineA, lineB;
  for (int line = 1;; ++line) {
    const bool moreA = static_cast<bool>(std::getline(a, lineA));
    const bool moreB = static_cast<bool>(std::getline(b, lineB));
    if (!moreA || !moreB || lineA != lineB) {
      return "line " + std::to_string(line) + ":\n merged: " + (moreA ? lineA : "<end>") +
             "\n single: " + (moreB ? lineB : "<end>") + "\n";
    }
  }
}

#define SKIP_WITHOUT_SNAKEMAKE() \
  if (!hasTool("snakemake")) GTEST_SKIP() << "snakemake is not installed (Debian package snakemake)"

TEST(Workflow, ChunksByChromosomeGiveTheSingleRunsResult) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  const Workflow w;
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("out/plan/chunks.tsv"), "00001\t1\t100\n00002\t2\t100\n00003\t3\t100\n");
  const std::string merged = dir.read("out/result.txt");
  EXPECT_EQ(lineCount(merged), 300u);
  EXPECT_EQ(firstDifference(merged, singleRunResult(dir, w, {})), "");

  // The components are those of a components-only single run.
  std::vector<std::string> args = dataOptions(w);
  for (const char* word : {"--p", "10", "--op", "pca.txt"}) args.push_back(word);
  ASSERT_EQ(runOmbra(dir.path(), args).status, 0);
  EXPECT_EQ(dir.read("out/components/pca.txt"), dir.read("pca.txt"));
  EXPECT_EQ(dir.read("out/components/pca.Eigen_Loading.txt"), dir.read("pca.Eigen_Loading.txt"));
}

// A job's mem_mb and threads are its run's --memory and --threads, so that
// the run plans within what the scheduler grants.
TEST(Workflow, JobsPassTheirMemoryAndThreadsOn) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  Workflow w;
  w.pcs = "3";
  const RunResult run = runWorkflow(dir, w, "threads: 2\n", "--default-resources mem_mb=3000");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* log : {"out/components/pca.log", "out/chunks/00001.log"}) {
    SCOPED_TRACE(log);
    const std::string text = dir.read(log);
    EXPECT_NE(text.find(" --threads 2 --memory 3000"), std::string::npos) << text.substr(0, 600);
    EXPECT_NE(text.find("Threads for this run: 2 threads (--threads)\n"), std::string::npos);
  }
}

// Chunks of 70 SNPs cut every chromosome into 70 + 30; --exclude leaves out
// chromosome 2 whole (two chunks without a SNP), --maf some single SNPs, and
// the table keeps one header line.
TEST(Workflow, ChunksOfSnpsWithFiltersAndTableGiveTheSingleRunsResult) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  std::string chromosome2;
  std::istringstream map(testing_support::readFile(kExamples + "family.map"));
  for (std::string chr, snp, distance, position; map >> chr >> snp >> distance >> position;) {
    if (chr == "2") chromosome2 += snp + "\n";
  }
  dir.write("chr2.txt", chromosome2);
  Workflow w;
  w.pcs = "4";
  w.chunks = "70";
  w.extra = "--out-format tsv --exclude " + dir.file("chr2.txt") + " --maf 0.05";
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(lineCount(dir.read("out/plan/chunks.tsv")), 6u);
  EXPECT_EQ(dir.read("out/chunks/00003.txt"), "");
  const std::string merged = dir.read("out/result.tsv");
  EXPECT_EQ(merged.rfind("CHR\tBP\tSNP", 0), 0u);
  EXPECT_EQ(merged.find("CHR\t", 1), std::string::npos);
  EXPECT_EQ(merged.find("\n2\t"), std::string::npos);
  const std::vector<std::string> extra = {"--out-format", "tsv", "--exclude", "chr2.txt", "--maf", "0.05"};
  EXPECT_EQ(firstDifference(merged, singleRunResult(dir, w, extra)), "");
}

class WorkflowFormat : public testing::TestWithParam<const char*> {};

TEST_P(WorkflowFormat, ChunksGiveTheSingleRunsResult) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  Workflow w;
  w.format = GetParam();
  w.pcs = "3";
  w.chunks = "45";
  if (w.format == "vcf" && !hasTool("bcftools")) GTEST_SKIP() << "bcftools is not installed";
  if (w.format == "bed") {
    // Ombra's own binary sets, made from the text sets.
    ASSERT_EQ(runOmbra(dir.path(), {"--f", w.family, "--make-bed", "family"}).status, 0);
    ASSERT_EQ(runOmbra(dir.path(), {"--i", w.unrelated, "--make-bed", "unrelated"}).status, 0);
    w.family = dir.file("family");
    w.unrelated = dir.file("unrelated");
  } else if (w.format != "text") {
    w.family = kExamples + w.format + "/family";
    w.unrelated = kExamples + w.format + "/unrelated";
  }
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(lineCount(dir.read("out/plan/chunks.tsv")), 9u);
  const std::string merged = dir.read("out/result.txt");
  EXPECT_EQ(lineCount(merged), 300u);
  EXPECT_EQ(firstDifference(merged, singleRunResult(dir, w, {})), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkflowFormat, testing::Values("bed", "plink", "vcf"));

// More components asked for than exist (the family set's founders give
// fewer): the components run saves those there are, and the chunks load
// that many, as a single run would.
TEST(Workflow, OneDataSetAloneWithFewerComponentsThanAskedFor) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  Workflow w;
  w.unrelated.clear();
  w.chunks = "150";
  w.pcs = "1000";
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string log = dir.read("out/components/pca.log");
  const std::string lowered = "Set the parameter of principal component equals ";
  const size_t at = log.find(lowered);
  ASSERT_NE(at, std::string::npos) << log;
  w.pcs = log.substr(at + lowered.size(), log.find('\n', at) - at - lowered.size());
  EXPECT_EQ(firstDifference(dir.read("out/result.txt"), singleRunResult(dir, w, {})), "");
}

// A phenotype table of the example sets: LDL and TG without a missing
// value, HDL missing for every fifth individual (another tested sample),
// FLAT the same for everyone.
void writePhenotypes(const TempDir& dir) {
  std::string table = "FID IID LDL HDL TG FLAT\n";
  size_t i = 0;
  for (const char* set : {"family", "unrelated"}) {
    std::istringstream fam(testing_support::readFile(kExamples + "plink/" + set + ".fam"));
    for (std::string fid, iid, rest; fam >> fid >> iid && std::getline(fam, rest); ++i) {
      table += fid + " " + iid + " " + std::to_string((i * 37) % 101 / 10.0) + " " +
               (i % 5 == 0 ? std::string("NA") : std::to_string((i * 53) % 97 / 7.0)) + " " +
               std::to_string((i * i) % 89 / 3.0) + " 3\n";
    }
  }
  dir.write("ph.txt", table);
}

// The key phenotypes (here a range of the table) tests them in every chunk
// run and merges each phenotype's chunks into its own result, named as the
// program names it; each equals that phenotype's file of the single run.
// A phenotype the runs skip stops the workflow and says why.
TEST(Workflow, PhenotypesMergeEachIntoItsOwnResult) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  writePhenotypes(dir);
  Workflow w;
  w.pcs = "3";
  w.chunks = "70";
  w.extra = "--pheno " + dir.file("ph.txt") + " --out-format tsv";
  const RunResult run = runWorkflow(dir, w, "phenotypes: [LDL-TG]\n");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(dir.exists("out/result.tsv"));
  singleRunResult(dir, w, {"--pheno", "ph.txt", "--out-format", "tsv", "--pheno-name", "LDL,HDL,TG"});
  for (const char* name : {"LDL", "HDL", "TG"}) {
    SCOPED_TRACE(name);
    const std::string merged = dir.read(std::string("out/result.") + name + ".tsv");
    EXPECT_EQ(lineCount(merged), 301u);
    EXPECT_EQ(firstDifference(merged, dir.read(std::string("single.") + name)), "");
  }
  EXPECT_NE(dir.read("out/result.LDL.tsv"), dir.read("out/result.TG.tsv"));

  TempDir skipping;
  writePhenotypes(skipping);
  w.extra = "--pheno " + skipping.file("ph.txt");
  const RunResult skipped = runWorkflow(skipping, w, "phenotypes: [LDL, FLAT]\n");
  EXPECT_NE(skipped.status, 0);
  EXPECT_NE(skipped.out.find("wrote no result for the phenotype FLAT: The phenotype FLAT is skipped."),
            std::string::npos)
      << skipped.out;
  EXPECT_FALSE(skipping.exists("out/result.LDL.txt"));
}

// Each faulty configuration stops with its reason before any job: the
// workflow's folder is never made.
TEST(Workflow, FaultyConfigurationsStopBeforeAnyJob) {
  SKIP_WITHOUT_SNAKEMAKE();
  struct Case {
    const char* what;
    Workflow w;
    std::string config;
    std::string message;
  };
  const auto with = [](auto change) {
    Workflow w;
    change(w);
    return w;
  };
  const std::vector<Case> cases = {
      {"missing file", with([](Workflow& w) { w.family = kExamples + "nothing"; }), "",
       "The family data set has neither " + kExamples + "nothing.ped nor"},
      {"unknown format", with([](Workflow& w) { w.format = "bgen"; }), "",
       "The key format is 'bgen'; it takes one of text, bed, plink, vcf."},
      {"no data set", with([](Workflow& w) { w.family = w.unrelated = ""; }), "",
       "The configuration names no data set"},
      {"negative pcs", with([](Workflow& w) { w.pcs = "-1"; }), "", "The key pcs is -1"},
      {"zero chunks", with([](Workflow& w) { w.chunks = "0"; }), "", "The key chunks is 0"},
      {"per-run filter", with([](Workflow& w) { w.extra = "--mind 0.1"; }), "", "The key extra gives --mind"},
      {"misspelt key", Workflow(), "famly: x\n", "Unknown key famly"},
      {"phenotypes without a table", Workflow(), "phenotypes: [LDL]\n", "give --pheno FILE in the key extra"},
      {"unknown phenotype", with([](Workflow& w) { w.extra = "--pheno " + kExamples + "covariates.txt"; }),
       "phenotypes: [AGE, LDL]\n", "The phenotype LDL is not a column of " + kExamples + "covariates.txt"},
      {"phenotype twice", with([](Workflow& w) { w.extra = "--pheno " + kExamples + "covariates.txt"; }),
       "phenotypes: [AGE, all]\n", "The phenotype AGE is named twice."},
      {"phenotypes twice",
       with([](Workflow& w) { w.extra = "--pheno-name AGE --pheno " + kExamples + "covariates.txt"; }),
       "phenotypes: [AGE]\n", "The key extra gives --pheno-name beside the key phenotypes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const RunResult run = runWorkflow(dir, c.w, c.config);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_FALSE(dir.exists("out"));
  }
}

// Chunks that could not be joined in map order stop the workflow in its
// planning job, before Ombra runs on any chunk.
TEST(Workflow, RefusesChunksItCannotJoinInMapOrder) {
  SKIP_WITHOUT_SNAKEMAKE();
  const std::string ped = testing_support::readFile(kExamples + "unrelated.ped");
  const std::string map = testing_support::readFile(kExamples + "unrelated.map");
  struct Case {
    const char* what;
    std::string from, to;  // a change of the map
    const char* chunks;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"chromosome in two places", "1\trs1000050\t", "3\trs1000050\t", "chromosome",
       "The SNPs of chromosome 1 are not together"},
      {"name in two chunks", "\trs1000050\t", "\trs1000001\t", "20", "The SNP name rs1000001 appears twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string changed = map;
    const size_t at = changed.find(c.from);
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, c.from.size(), c.to);
    dir.write("set.map", changed);
    dir.write("set.ped", ped);
    Workflow w;
    w.family.clear();
    w.unrelated = dir.file("set");
    w.chunks = c.chunks;
    const RunResult run = runWorkflow(dir, w);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_FALSE(dir.exists("out/chunks"));
    EXPECT_FALSE(dir.exists("out/result.txt"));
  }
}

}  // namespace
