// The split-and-merge workflow (workflow/Snakefile) end to end: run with
// Snakemake on two cores over the example data in every format, its merged
// result file must be the single run's result file byte for byte; faulty
// configurations stop before any job runs. Skipped without snakemake. The
// plan's listing of a BGEN file's SNPs is checked against the program's
// own reader.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "BgenWriter.h"
#include "TestSupport.h"
#include "formats/BgenFile.h"
#include "formats/BgenSource.h"

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
  const std::string letter = w.format == "vcf" ? "v" : w.format == "bgen" ? "g" : w.format == "text" ? "" : "b";
  std::vector<std::string> options;
  if (!w.family.empty()) options = {"--" + letter + "f", w.family};
  if (!w.unrelated.empty()) {
    options.push_back("--" + letter + "i");
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

// A fresh clone after scripts/example.sh: the program where that script
// builds it, `snakemake --cores 2` with the shipped configuration alone.
TEST(Workflow, ShippedConfigurationRunsWhereTheExampleScriptBuilds) {
  SKIP_WITHOUT_SNAKEMAKE();
  TempDir dir;
  const std::string clone = dir.file("clone");
  const std::string copy = "mkdir -p '" + clone + "/build-release' && cp -r '" + kSource + "/workflow' '" + kSource +
                           "/examples' '" + clone + "/' && ln -s '" + OMBRA_BINARY + "' '" + clone +
                           "/build-release/ombra'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  const std::string command = "cd '" + clone + "' && PYTHONDONTWRITEBYTECODE=1 XDG_CACHE_HOME='" +
                              dir.file(".cache") + "' timeout 600 snakemake --cores 2 --quiet > '" +
                              dir.file(".workflow") + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << dir.read(".workflow");
  EXPECT_FALSE(dir.read("clone/workflow-output/result.txt").empty());
  // The script builds the program there.
  std::ifstream script(kSource + "/scripts/example.sh");
  const std::string text((std::istreambuf_iterator<char>(script)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("-B \"$root/build-release\""), std::string::npos);
}

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
  // The mixed model's null fit is the same in every chunk.
  w.extra = "--out-format tsv --exclude " + dir.file("chr2.txt") + " --maf 0.05 --model lmm";
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(lineCount(dir.read("out/plan/chunks.tsv")), 6u);
  EXPECT_EQ(dir.read("out/chunks/00003.txt"), "");
  const std::string merged = dir.read("out/result.tsv");
  EXPECT_EQ(merged.rfind("CHR\tBP\tSNP", 0), 0u);
  EXPECT_EQ(merged.find("CHR\t", 1), std::string::npos);
  EXPECT_EQ(merged.find("\n2\t"), std::string::npos);
  EXPECT_NE(merged.find("\tP_LMM\tLOG10P_LMM\tNOTE\tEFFECT_ALLELE\tN_CALLED\n"), std::string::npos);
  const std::vector<std::string> extra = {"--out-format", "tsv", "--exclude", "chr2.txt", "--maf", "0.05",
                                          "--model",      "lmm"};
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
  std::vector<std::string> extra;
  if (w.format == "imputed") {
    // The dosages of a VCF, and the imputation-quality filter, in every run.
    w.format = "vcf";
    w.family = kExamples + "imputed/family";
    w.unrelated = kExamples + "imputed/unrelated";
    extra = {"--vcf-dosage", "DS", "--minfo", "0.6"};
    for (const std::string& word : extra) w.extra += word + " ";
  } else if (w.format == "bed") {
    // Ombra's own binary sets, made from the text sets.
    ASSERT_EQ(runOmbra(dir.path(), {"--f", w.family, "--make-bed", "family"}).status, 0);
    ASSERT_EQ(runOmbra(dir.path(), {"--i", w.unrelated, "--make-bed", "unrelated"}).status, 0);
    w.family = dir.file("family");
    w.unrelated = dir.file("unrelated");
  } else {
    const std::string folder = w.format == "bgen" ? "imputed" : w.format;
    w.family = kExamples + folder + "/family";
    w.unrelated = kExamples + folder + "/unrelated";
  }
  if (w.format == "vcf" && !hasTool("bcftools")) GTEST_SKIP() << "bcftools is not installed";
  const RunResult run = runWorkflow(dir, w);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(lineCount(dir.read("out/plan/chunks.tsv")), 9u);
  const std::string merged = dir.read("out/result.txt");
  // --minfo leaves some SNPs out.
  if (extra.empty()) EXPECT_EQ(lineCount(merged), 300u);
  else EXPECT_LT(lineCount(merged), 300u);
  EXPECT_EQ(firstDifference(merged, singleRunResult(dir, w, extra)), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkflowFormat, testing::Values("bed", "plink", "vcf", "bgen", "imputed"));

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
  TempDir bgens;
  const std::string family = kExamples + "imputed/family.";
  bgens.write("nofam.bgen", testing_support::readFile(family + "bgen"));
  bgens.write("text.bgen", "this is a text file, not a BGEN file\n");
  bgen_writer::Options anonymous;
  anonymous.samples = 1;
  bgens.write("anonymous.bgen", bgen_writer::write(anonymous, {}));
  for (const char* set : {"text", "anonymous"}) bgens.write(std::string(set) + ".fam", "F a 0 0 1 1\n");
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
      {"unknown format", with([](Workflow& w) { w.format = "pgen"; }), "",
       "The key format is 'pgen'; it takes one of text, bed, plink, vcf, bgen."},
      {"BGEN without .fam", with([&](Workflow& w) { w.format = "bgen", w.family = bgens.file("nofam"); }), "",
       "The family data set's file " + bgens.file("nofam.fam") + " does not exist."},
      {"not a BGEN file", with([&](Workflow& w) { w.format = "bgen", w.family.clear(), w.unrelated = bgens.file("text"); }), "",
       "The file " + bgens.file("text.bgen") + " is not a BGEN file"},
      {"BGEN samples unnamed", with([&](Workflow& w) { w.format = "bgen", w.family.clear(), w.unrelated = bgens.file("anonymous"); }),
       "", "The unrelated data set's file " + bgens.file("anonymous.bgen") + " does not name its samples, and " +
       bgens.file("anonymous.sample") + " does not exist."},
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

namespace bw = bgen_writer;

// A row of bgenix's index: a record's chromosome, position, rsid, allele
// count, first two alleles and byte offset.
struct IndexRow {
  std::string chr;
  uint32_t position;
  std::string rsid;
  int alleles;
  std::string allele1, allele2;
  uint64_t offset;
};

// bgenix's index of `bgen` with `rows`, its Metadata naming the file's size.
void writeBgenIndex(const std::string& bgen, const std::vector<IndexRow>& rows) {
  const std::string path = bgen + ".bgi";
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string tables =
      "CREATE TABLE Variant (chromosome TEXT NOT NULL, position INT NOT NULL, rsid TEXT, number_of_alleles INT, "
      "allele1 TEXT, allele2 TEXT, file_start_position INT NOT NULL, size_in_bytes INT);"
      "CREATE TABLE Metadata (filename TEXT, file_size INT, last_write_time INT, first_1000_bytes BLOB, "
      "index_creation_time INT); INSERT INTO Metadata VALUES ('f', " +
      std::to_string(testing_support::readFile(bgen).size()) + ", 0, NULL, 0);";
  ASSERT_EQ(sqlite3_exec(db, tables.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO Variant VALUES (?, ?, ?, ?, ?, ?, ?, 0)", -1, &insert, nullptr),
            SQLITE_OK);
  for (const IndexRow& row : rows) {
    sqlite3_bind_text(insert, 1, row.chr.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, row.position);
    sqlite3_bind_text(insert, 3, row.rsid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, row.alleles);
    sqlite3_bind_text(insert, 5, row.allele1.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 6, row.allele2.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 7, static_cast<sqlite3_int64>(row.offset));
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

// An example BGEN set (8-bit zlib, two alleles per record) copied into
// `dir` as NAME with the chromosome of records [first, last) written as
// `chr`: the identifying data written again, the genotype blocks as stored.
void copyWithChromosome(const TempDir& dir, const std::string& name, size_t first, size_t last,
                        const std::string& chr) {
  const std::string from = kExamples + "imputed/" + name;
  for (const char* extension : {".fam", ".sample"}) dir.write(name + extension, testing_support::readFile(from + extension));
  const std::string bytes = testing_support::readFile(from + ".bgen");
  ombra::BgenFile file(from + ".bgen");
  const std::vector<ombra::BgenVariant>& variants = file.variants();
  std::string out = bytes.substr(0, variants.at(0).recordStart);
  for (size_t k = 0; k < variants.size(); ++k) {
    const ombra::BgenVariant& v = variants[k];
    for (const std::string& field : {v.id, v.rsid, k >= first && k < last ? chr : v.chr}) {
      bw::put16(out, static_cast<uint32_t>(field.size()));
      out += field;
    }
    bw::put32(out, v.position);
    bw::put16(out, 2);
    for (const std::string& allele : {v.allele1, v.allele2}) {
      bw::put32(out, static_cast<uint32_t>(allele.size()));
      out += allele;
    }
    // The block's two length fields (stored and inflated) precede its data.
    out += bytes.substr(v.blockStart - 8, v.blockBytes + 8);
  }
  dir.write(name + ".bgen", out);
}

// The index of a BGEN file whose records all have two alleles.
void indexEveryRecord(const std::string& bgen) {
  ombra::BgenFile file(bgen);
  std::vector<IndexRow> rows;
  for (const ombra::BgenVariant& v : file.variants()) {
    rows.push_back({v.chr, v.position, v.rsid, 2, v.allele1, v.allele2, v.recordStart});
  }
  writeBgenIndex(bgen, rows);
}

// Chromosome 2's first 50 records written "02": --chr 2 finds both
// spellings, through the file and through bgenix's index alike, so the
// chromosome is one chunk; in chunks of a chromosome or of 45 SNPs, the
// merged result is the single run's.
TEST(Workflow, BgenChunksThroughItsIndexOrNotGiveTheSingleRunsResult) {
  SKIP_WITHOUT_SNAKEMAKE();
  for (const bool indexed : {false, true}) {
    for (const char* chunks : {"chromosome", "45"}) {
      SCOPED_TRACE(std::string(indexed ? "with" : "without") + " the index, chunks: " + chunks);
      TempDir dir;
      for (const char* name : {"family", "unrelated"}) {
        copyWithChromosome(dir, name, 100, 150, "02");
        if (indexed) indexEveryRecord(dir.file(std::string(name) + ".bgen"));
      }
      Workflow w;
      w.format = "bgen";
      w.family = dir.file("family");
      w.unrelated = dir.file("unrelated");
      w.pcs = "3";
      w.chunks = chunks;
      const RunResult run = runWorkflow(dir, w);
      ASSERT_EQ(run.status, 0) << run.out;
      const std::string plan = dir.read("out/plan/chunks.tsv");
      if (w.chunks == "chromosome") {
        EXPECT_EQ(plan, "00001\t1\t100\n00002\t02\t100\n00003\t3\t100\n");
      } else {
        EXPECT_EQ(lineCount(plan), 9u);
      }
      const std::string merged = dir.read("out/result.txt");
      EXPECT_EQ(lineCount(merged), 300u);
      EXPECT_EQ(firstDifference(merged, singleRunResult(dir, w, {})), "");
    }
  }
}

// The plan's own listing of a BGEN file (Python, stepping over the genotype
// blocks; or bgenix's index) names and orders the SNPs as the program's
// reader does, in every layout and compression: a record of three alleles
// is left out, a missing rsid gives the SNP ID, a missing SNP ID too gives
// CHR:POS:A1:A2. A defective file or index stops the plan naming it.
TEST(WorkflowPlan, ListsTheSnpsTheProgramReadsFromABgenFile) {
  if (!hasTool("python3")) GTEST_SKIP() << "python3 is not installed";
  struct Form {
    int layout, compression;
    bool zeroMagic;
  };
  const Form forms[] = {{1, 0, true}, {1, 1, false}, {2, 0, false}, {2, 1, false}, {2, 2, false}};
  for (const Form& form : forms) {
    SCOPED_TRACE("layout " + std::to_string(form.layout) + ", compression " + std::to_string(form.compression));
    bw::Options o;
    o.layout = form.layout;
    o.compression = form.compression;
    o.zeroMagic = form.zeroMagic;
    o.samples = 2;
    o.ids = {"a", "b"};
    const bw::Sample sure = form.layout == 1 ? bw::Sample{2, false, {32768, 0, 0}} : bw::Sample{2, false, {255, 0}};
    const auto variant = [&](const std::string& chr, uint32_t position, const std::string& id,
                             const std::string& rsid, std::vector<std::string> alleles) {
      bw::Variant v;
      v.chr = chr;
      v.position = position;
      v.id = id;
      v.rsid = rsid;
      v.alleles = std::move(alleles);
      v.samples = {sure, sure};
      if (v.alleles.size() == 3) v.samples = {{2, false, {0, 0, 0, 0, 0}}, {2, false, {0, 0, 0, 0, 0}}};
      return v;
    };
    std::vector<bw::Variant> variants = {variant("1", 10, "snp1", "rs1", {"A", "G"}),
                                         variant("1", 20, "snp2", ".", {"C", "T"})};
    if (form.layout == 2) variants.push_back(variant("1", 30, "snp3", "rs3", {"A", "G", "T"}));
    variants.push_back(variant("2", 40, ".", ".", {".", "G"}));
    variants.push_back(variant("02", 50, "snp5", "rs5", {"A", "CT"}));
    TempDir dir;
    dir.write("f.bgen", bw::write(o, variants));
    const ombra::BgenSource source(dir.file("f.bgen"), "", {{"F", "a"}, {"F", "b"}}, "f.fam");
    std::string expected;
    for (const Marker& m : source.markers()) expected += m.snpId + "\n";
    EXPECT_EQ(expected, "rs1\nsnp2\n2:40::G\nrs5\n");
    const auto plan = [&](const std::string& folder) {
      const std::string command = "cd '" + dir.path() + "' && python3 -B '" + kSource +
                                  "/workflow/ombra_jobs.py' plan f.bgen 1000 " + folder + " > " + folder + ".out 2>&1";
      EXPECT_EQ(std::system(command.c_str()), 0) << dir.read(folder + ".out");
      std::string names;
      std::istringstream table(dir.read(folder + "/chunks.tsv"));
      for (std::string name, chr, count; table >> name >> chr >> count;) names += dir.read(folder + "/" + name + ".snps");
      EXPECT_EQ(names, expected);
      return dir.read(folder + "/chunks.tsv");
    };
    // Chromosomes are compared by code, through the file and through the index.
    EXPECT_EQ(plan("plan"), "00001\t1\t2\n00002\t2\t2\n");
    std::vector<IndexRow> rows;
    for (size_t k = 0; k < variants.size(); ++k) {
      const bw::Variant& v = variants[k];
      const std::vector<bw::Variant> before(variants.begin(), variants.begin() + static_cast<long>(k));
      rows.push_back({v.chr, v.position, v.rsid, static_cast<int>(v.alleles.size()), v.alleles[0], v.alleles[1],
                      bw::write(o, before).size()});
    }
    writeBgenIndex(dir.file("f.bgen"), rows);
    EXPECT_EQ(plan("indexed"), "00001\t1\t2\n00002\t2\t2\n");
  }

  TempDir dir;
  bw::Options o;
  o.samples = 1;
  o.ids = {"a"};
  bw::Variant v;
  v.samples = {{2, false, {255, 0}}};
  const std::string bytes = bw::write(o, {v, v});
  const auto failure = [&](const std::string& bgen) {
    const std::string command = "cd '" + dir.path() + "' && python3 -B '" + kSource + "/workflow/ombra_jobs.py' plan " +
                                bgen + " chromosome plan > plan.out 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_FALSE(dir.exists("plan"));
    return dir.read("plan.out");
  };
  dir.write("cut.bgen", bytes.substr(0, bytes.size() - 3));
  EXPECT_NE(failure("cut.bgen").find("The BGEN file cut.bgen ends inside its variant 2 (at byte "), std::string::npos);
  dir.write("text.bgen", "chromosome position rsid allele1 allele2\n");
  EXPECT_NE(failure("text.bgen").find("The file text.bgen is not a BGEN file"), std::string::npos);
  dir.write("stale.bgen", bytes);
  writeBgenIndex(dir.file("stale.bgen"), {});
  dir.write("stale.bgen", bytes + bytes);
  EXPECT_NE(failure("stale.bgen").find("make the index again with bgenix"), std::string::npos);
  dir.write("stale.bgen.bgi", "not an SQLite file, though long enough to be looked at as one......");
  EXPECT_NE(failure("stale.bgen").find("The file stale.bgen.bgi cannot be read as a bgenix index"), std::string::npos);
}

}  // namespace
