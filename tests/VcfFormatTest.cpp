// VCF and BCF data sets (--vf, --vi), end to end on the built program: the
// example data read as VCF gives the text run's result, every file form
// gives one result, samples are matched to the .fam, records are skipped or
// refused as they should be, and pooling reconciles the allele orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::resultOf;
using testing_support::runOmbra;

namespace {

std::string example(const std::string& name) { return std::string(OMBRA_SOURCE_DIR) + "/examples/" + name; }

bool haveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

// Runs a shell command inside `dir`; true when it succeeded.
bool shell(const TempDir& dir, const std::string& command) {
  return std::system(("cd '" + dir.path() + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, separator)) fields.push_back(field);
  return fields;
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One line of a result file: the SNP name and alleles in their fixed-width
// columns, then the frequencies and the statistics as written.
struct ResultLine {
  std::string snp, allele1, allele2;
  std::vector<std::string> numbers;
};

std::vector<ResultLine> parseResult(const std::string& text) {
  std::vector<ResultLine> lines;
  for (const std::string& line : linesOf(text)) {
    ResultLine parsed{trim(line.substr(0, 20)), trim(line.substr(20, 5)), trim(line.substr(25, 5)), {}};
    std::istringstream rest(line.substr(30));
    for (std::string number; rest >> number;) parsed.numbers.push_back(number);
    lines.push_back(parsed);
  }
  return lines;
}

// The two results are the same, except that an allele the text never
// showed (a monomorphic SNP) has the name the VCF gives it.
void expectSameResult(const std::string& text, const std::string& vcf) {
  const std::vector<ResultLine> expected = parseResult(text);
  const std::vector<ResultLine> got = parseResult(vcf);
  ASSERT_EQ(got.size(), expected.size());
  ASSERT_GT(expected.size(), 0u);
  for (size_t s = 0; s < expected.size(); ++s) {
    SCOPED_TRACE(expected[s].snp);
    EXPECT_EQ(got[s].snp, expected[s].snp);
    EXPECT_EQ(got[s].numbers, expected[s].numbers);
    EXPECT_TRUE(expected[s].allele1.empty() || got[s].allele1 == expected[s].allele1);
    EXPECT_TRUE(expected[s].allele2.empty() || got[s].allele2 == expected[s].allele2);
  }
}

TEST(VcfFormat, TheExampleAsVcfGivesTheTextResultInEveryPooling) {
  TempDir dir;
  const std::string famText = example("family"), unrText = example("unrelated");
  const std::string famVcf = example("vcf/family"), unrVcf = example("vcf/unrelated");
  ASSERT_EQ(runOmbra(dir.path(), {"--f", famText, "--make-bed", "fam_bin"}).status, 0);
  ASSERT_EQ(runOmbra(dir.path(), {"--i", unrText, "--make-bed", "unr_bin"}).status, 0);

  const std::string both = resultOf(dir, {"--f", famText, "--i", unrText, "--p", "10"}, "text.txt");
  expectSameResult(both, resultOf(dir, {"--vf", famVcf, "--vi", unrVcf, "--p", "10"}, "vcf.txt"));
  expectSameResult(both, resultOf(dir, {"--vf", famVcf, "--i", unrText, "--p", "10"}, "vcf_text.txt"));
  expectSameResult(both, resultOf(dir, {"--f", famText, "--vi", unrVcf, "--p", "10"}, "text_vcf.txt"));
  expectSameResult(both, resultOf(dir, {"--bf", "fam_bin", "--vi", unrVcf, "--p", "10"}, "bin_vcf.txt"));
  expectSameResult(both, resultOf(dir, {"--vf", famVcf, "--bi", "unr_bin", "--p", "10"}, "vcf_bin.txt"));
  expectSameResult(resultOf(dir, {"--f", famText, "--p", "4"}, "family.txt"),
                   resultOf(dir, {"--vf", famVcf, "--p", "4"}, "family_vcf.txt"));
  // Alone, the unrelated text set finds its alleles in another order than
  // the pooled sets (whose order the VCF files keep): not compared.
}

TEST(VcfFormat, PlainBgzipAndBcfFilesGiveOneResult) {
  TempDir dir;
  for (const char* name : {"plain", "bgzip", "bcf"}) {
    dir.write(std::string(name) + ".fam", testing_support::readFile(example("vcf/family.fam")));
  }
  ASSERT_TRUE(shell(dir, "cp '" + example("vcf/family.vcf.gz") + "' bgzip.vcf.gz"));
  ASSERT_TRUE(shell(dir, "gzip -dc bgzip.vcf.gz > plain.vcf"));
  const std::string bgzip = resultOf(dir, {"--vf", "bgzip", "--p", "3"}, "bgzip.txt");
  EXPECT_EQ(resultOf(dir, {"--vf", "plain", "--p", "3"}, "plain.txt"), bgzip);
  // The same text in one ordinary gzip stream, as gzip writes it.
  ASSERT_TRUE(shell(dir, "gzip -c plain.vcf > gzip.vcf.gz && cp plain.fam gzip.fam"));
  EXPECT_EQ(resultOf(dir, {"--vf", "gzip", "--p", "3"}, "gzip.txt"), bgzip);
  if (!haveTool("bcftools")) GTEST_SKIP() << "bcftools is not installed: the BCF form is not checked";
  ASSERT_TRUE(shell(dir, "bcftools view -Ob -o bcf.bcf bgzip.vcf.gz"));
  EXPECT_EQ(resultOf(dir, {"--vf", "bcf", "--p", "3"}, "bcf.txt"), bgzip);
  // PREFIX.bcf comes first when several forms exist.
  ASSERT_TRUE(shell(dir, "cp bcf.bcf bgzip.bcf"));
  const RunResult run = runOmbra(dir.path(), {"--vf", "bgzip", "--p", "3", "--out", "first.txt"});
  EXPECT_NE(run.out.find("Reading VCF genotypes: bgzip.bcf ...\n"), std::string::npos) << run.out;
}

// A small data set: five SNPs, eight family members in three pedigrees.
const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n2 rs4 0 400\n2 rs5 0 500\n";
const char* const kPed =
    "F1 1 0 0 1 1 A A C C G G T T A C\n"
    "F1 2 0 0 2 2 A G C T G G T T A A\n"
    "F1 3 1 2 1 2 A G C C G A T C C C\n"
    "F2 4 0 0 1 1 G G T T A A C C A C\n"
    "F2 5 0 0 2 2 A G C T G A T T A A\n"
    "F2 6 4 5 1 1 G G C T G A T C 0 0\n"
    "F3 7 0 0 1 2 A A C C G G 0 0 C C\n"
    "F3 8 0 0 2 1 A G T T A A C C A A\n";
const char* const kVcfHeader =
    "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";

std::string famOf(const std::string& ped) {
  std::string fam;
  for (const std::string& line : linesOf(ped)) {
    const std::vector<std::string> fields = split(line, ' ');
    for (int f = 0; f < 6; ++f) fam += fields[static_cast<size_t>(f)] + (f < 5 ? " " : "\n");
  }
  return fam;
}

// The set as a VCF: REF and ALT in the order the text reader finds the
// alleles, samples named by `name(fid, iid)`, calls written as "0/1".
template <typename Name>
std::string vcfOf(const std::string& map, const std::string& ped, Name name) {
  std::vector<std::vector<std::string>> people;
  for (const std::string& line : linesOf(ped)) people.push_back(split(line, ' '));
  std::string vcf = kVcfHeader;
  for (const auto& person : people) vcf += "\t" + name(person[0], person[1]);
  vcf += "\n";
  const std::vector<std::string> snps = linesOf(map);
  for (size_t s = 0; s < snps.size(); ++s) {
    const std::vector<std::string> site = split(snps[s], ' ');
    std::vector<std::string> alleles;
    for (const auto& person : people) {
      for (size_t k = 0; k < 2; ++k) {
        const std::string& allele = person[6 + 2 * s + k];
        if (allele != "0" && std::find(alleles.begin(), alleles.end(), allele) == alleles.end()) alleles.push_back(allele);
      }
    }
    vcf += site[0] + "\t" + site[3] + "\t" + site[1] + "\t" + alleles[0] + "\t" + alleles[1] + "\t.\t.\t.\tGT";
    for (const auto& person : people) {
      const std::string& a = person[6 + 2 * s];
      const std::string& b = person[7 + 2 * s];
      vcf += a == "0" ? "\t./." : std::string("\t") + (a == alleles[1] ? "1" : "0") + "/" + (b == alleles[1] ? "1" : "0");
    }
    vcf += "\n";
  }
  return vcf;
}

std::string byIid(const std::string&, const std::string& iid) { return iid; }
std::string byFidIid(const std::string& fid, const std::string& iid) { return fid + "_" + iid; }

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// `vcf` with the sample columns of every line in the order `order`, and
// `extra` columns (named on the header line, "0/1" elsewhere) after them.
std::string withColumns(const std::string& vcf, const std::vector<size_t>& order, const std::vector<std::string>& extra) {
  std::string out;
  for (const std::string& line : linesOf(vcf)) {
    if (line.compare(0, 2, "##") == 0) {
      out += line + "\n";
      continue;
    }
    const std::vector<std::string> fields = split(line, '\t');
    std::string rebuilt;
    for (size_t f = 0; f < 9; ++f) rebuilt += (f > 0 ? "\t" : "") + fields[f];
    for (size_t c : order) rebuilt += "\t" + fields[9 + c];
    for (const std::string& name : extra) rebuilt += "\t" + (line[0] == '#' ? name : std::string("0/1"));
    out += rebuilt + "\n";
  }
  return out;
}

class VcfSmallSet : public testing::Test {
 protected:
  void SetUp() override {
    dir.write("text.map", kMap);
    dir.write("text.ped", kPed);
    textResult = resultOf(dir, {"--f", "text", "--p", "0"}, "text.txt");
  }
  // Writes NAME.vcf and NAME.fam (the .fam of kPed unless given).
  void writeSet(const std::string& name, const std::string& vcf, const std::string& fam = famOf(kPed)) {
    dir.write(name + ".vcf", vcf);
    dir.write(name + ".fam", fam);
  }
  RunResult run(const std::string& name) { return runOmbra(dir.path(), {"--vf", name, "--p", "0", "--out", name + ".txt"}); }

  TempDir dir;
  std::string textResult;
};

TEST_F(VcfSmallSet, SamplesMatchByIndividualIdOrFidIidInAnyOrderAndExtraOnesAreCounted) {
  writeSet("iid", vcfOf(kMap, kPed, byIid));
  RunResult result = run("iid");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(dir.read("iid.txt"), textResult);
  EXPECT_EQ(result.out.find("ignored"), std::string::npos);

  // Columns reversed, named FID_IID, and two samples the .fam does not have.
  writeSet("joined", withColumns(vcfOf(kMap, kPed, byFidIid), {7, 6, 5, 4, 3, 2, 1, 0}, {"X_1", "F1_9"}));
  result = run("joined");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(dir.read("joined.txt"), textResult);
  EXPECT_NE(result.out.find("2 samples of joined.vcf are not in joined.fam and are ignored.\n"), std::string::npos)
      << result.out;

  // An individual ID equal to a sample name wins over another's FID_IID.
  writeSet("first", withColumns(vcfOf(kMap, kPed, byIid), {0, 1, 2, 3, 4, 5, 6, 7}, {"F1_1"}),
           famOf(kPed) + "X F1_1 0 0 1 1\n");
  result = run("first");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out.find("ignored"), std::string::npos) << result.out;
}

TEST_F(VcfSmallSet, SampleMatchingStopsNamingTheIndividual) {
  writeSet("absent", vcfOf(kMap, kPed, byIid), famOf(kPed) + "F4 9 0 0 1 1\n");
  RunResult result = run("absent");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("The individual F4 9 of absent.fam is not a sample of absent.vcf.\n"), std::string::npos)
      << result.out;

  writeSet("twice", withColumns(vcfOf(kMap, kPed, byIid), {0, 1, 2, 3, 4, 5, 6, 7}, {"F1_1"}));
  result = run("twice");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("The individual F1 1 of twice.fam matches two samples of twice.vcf: 1 and F1_1.\n"),
            std::string::npos)
      << result.out;

  // Two families with an individual "1": the bare ID names neither.
  writeSet("ambiguous", vcfOf(kMap, kPed, byIid), replaceAll(famOf(kPed), "F2 4 ", "F2 1 "));
  result = run("ambiguous");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("The sample 1 of ambiguous.vcf is the individual ID of several individuals of "
                            "ambiguous.fam"),
            std::string::npos)
      << result.out;
  writeSet("joined", withColumns(vcfOf(kMap, kPed, byIid), {0, 1, 2, 3, 4, 5, 6, 7}, {"A_B_C"}),
           famOf(kPed) + "A_B C 0 0 1 1\nA B_C 0 0 1 1\n");
  result = run("joined");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("The sample A_B_C of joined.vcf is the family ID and individual ID, joined by _, of "
                            "several individuals of joined.fam.\n"),
            std::string::npos)
      << result.out;
  EXPECT_FALSE(dir.exists("absent.txt") || dir.exists("twice.txt") || dir.exists("ambiguous.txt") ||
               dir.exists("joined.txt"));
}

// `vcf` with every sample column of every record replaced by `change(it)`.
std::string mapCalls(const std::string& vcf, const std::function<std::string(const std::string&)>& change) {
  std::string out;
  for (const std::string& line : linesOf(vcf)) {
    if (line[0] == '#') {
      out += line + "\n";
      continue;
    }
    const std::vector<std::string> fields = split(line, '\t');
    for (size_t f = 0; f < fields.size(); ++f) out += (f > 0 ? "\t" : "") + (f < 9 ? fields[f] : change(fields[f]));
    out += "\n";
  }
  return out;
}

TEST_F(VcfSmallSet, PhasedHalfMissingAndOtherFieldsReadAsTheirCalls) {
  const std::string plain = vcfOf(kMap, kPed, byIid);
  // Phased calls, and "." or a half-missing call for every missing one.
  int missing = 0;
  writeSet("phased", mapCalls(plain, [&missing](const std::string& call) -> std::string {
             if (call == "0/1") return "1|0";
             if (call == "./.") return ++missing % 2 == 1 ? "." : (missing % 4 == 0 ? "./1" : "0|.");
             return replaceAll(call, "/", "|");
           }));
  ASSERT_GE(missing, 2);
  EXPECT_EQ(run("phased").status, 0);
  EXPECT_EQ(dir.read("phased.txt"), textResult);

  writeSet("fields", replaceAll(mapCalls(plain, [](const std::string& call) { return call + ":7"; }), "\tGT\t",
                                "\tGT:DP\t"));
  EXPECT_EQ(run("fields").status, 0);
  EXPECT_EQ(dir.read("fields.txt"), textResult);
  // GT after another field; a sample that drops it has a missing call.
  writeSet("later", replaceAll(mapCalls(plain, [](const std::string& call) {
                                 return call == "./." ? std::string("3") : "3:" + call;
                               }),
                               "\tGT\t", "\tDP:GT\t"));
  EXPECT_EQ(run("later").status, 0);
  EXPECT_EQ(dir.read("later.txt"), textResult);
}

TEST_F(VcfSmallSet, RecordsThatAreNotBiallelicSnpsOrIndelsAreSkippedAndCounted) {
  const std::string plain = vcfOf(kMap, kPed, byIid);
  const std::string calls = "\t0/1\t0/0\t1/1\t0/1\t0/0\t0/0\t./.\t0/1\n";
  std::string extra = plain;
  extra += "2\t600\trsMulti\tA\tC,G\t.\t.\t.\tGT" + calls;
  extra += "2\t700\trsSymbolic\tA\t<DEL>\t.\t.\t.\tGT" + calls;
  // A monomorphic site is kept, as a .bim's "0" allele is.
  extra += "2\t800\trsNoAlt\tA\t.\t.\t.\t.\tGT\t0/0\t0/0\t0|0\t0/0\t./.\t0/0\t0/0\t0/0\n";
  extra += "2\t900\trsMnp\tAC\tGT\t.\t.\t.\tGT" + calls;
  extra += "2\t950\trsSpanning\tA\t*\t.\t.\t.\tGT" + calls;
  // An indel, and a record without an ID.
  extra += "3\t1000\trsIndel\tAT\tA\t.\t.\t.\tGT" + calls;
  extra += "3\t1100\t.\tG\tT\t.\t.\t.\tGT" + calls;
  writeSet("extra", extra);
  const RunResult result = run("extra");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("4 records of extra.vcf are not biallelic SNPs or indels and are skipped.\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Total 8 snps are read."), std::string::npos) << result.out;
  const std::string written = dir.read("extra.txt");
  EXPECT_EQ(written.substr(0, textResult.size()), textResult);
  const std::vector<ResultLine> lines = parseResult(written);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5].snp, "rsNoAlt");
  EXPECT_EQ(lines[6].snp, "rsIndel");
  EXPECT_EQ(lines[6].allele1 + " " + lines[6].allele2, "AT A");
  EXPECT_EQ(lines[7].snp, "3:1100:G:T");
}

TEST_F(VcfSmallSet, RecodingAndTheBinarySetOfAVcfSet) {
  writeSet("set", vcfOf(kMap, kPed, byIid));
  RunResult result = runOmbra(dir.path(), {"--vf", "set", "--make-bed", "bin"});
  EXPECT_EQ(result.status, 0) << result.out;
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "text", "--make-bed", "text_bin"}).status, 0);
  EXPECT_EQ(dir.read("bin.bed"), dir.read("text_bin.bed"));
  EXPECT_EQ(dir.read("bin.fam"), dir.read("text_bin.fam"));
  EXPECT_EQ(dir.read("bin.bim"), dir.read("text_bin.bim"));
  result = runOmbra(dir.path(), {"--vf", "set", "--recode", "again"});
  EXPECT_EQ(result.status, 0) << result.out;
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "text", "--recode", "text_again"}).status, 0);
  EXPECT_EQ(dir.read("again.ped"), dir.read("text_again.ped"));
  EXPECT_EQ(dir.read("again.map"), dir.read("text_again.map"));
  // The VCF form wins over the binary and text forms of the same set.
  dir.write("other.map", "1 rsX 0 1\n");
  dir.write("other.ped", "F9 9 0 0 1 1 A C\n");
  result = runOmbra(dir.path(), {"--f", "other", "--bf", "other", "--vf", "set", "--p", "0", "--out", "wins.txt"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(dir.read("wins.txt"), textResult);
}

// `vcf` with REF and ALT exchanged in every record, and the calls with them.
std::string swapAlleles(const std::string& vcf) {
  std::string out;
  for (const std::string& line : linesOf(vcf)) {
    if (line[0] == '#') {
      out += line + "\n";
      continue;
    }
    std::vector<std::string> fields = split(line, '\t');
    std::swap(fields[3], fields[4]);
    for (size_t f = 9; f < fields.size(); ++f) {
      for (char& c : fields[f]) c = c == '0' ? '1' : (c == '1' ? '0' : c);
    }
    for (size_t f = 0; f < fields.size(); ++f) out += (f > 0 ? "\t" : "") + fields[f];
    out += "\n";
  }
  return out;
}

TEST_F(VcfSmallSet, PoolingTurnsTheCodesOfASetThatNamesTheAllelesTheOtherWay) {
  // The unrelated set reads the family individuals again: pooled with the
  // text family set it must count the text's second alleles.
  const std::string swapped = swapAlleles(vcfOf(kMap, kPed, byIid));
  writeSet("swapped", swapped);
  dir.write("unr.map", kMap);
  dir.write("unr.ped", kPed);
  const std::string pooled = resultOf(dir, {"--f", "text", "--i", "unr", "--p", "2"}, "pooled.txt");
  expectSameResult(pooled, resultOf(dir, {"--f", "text", "--vi", "swapped", "--p", "2"}, "pooled_vcf.txt"));
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "text", "--make-bed", "text_bin"}).status, 0);
  expectSameResult(pooled, resultOf(dir, {"--bf", "text_bin", "--vi", "swapped", "--p", "2"}, "bin_vcf.txt"));

  // Read alone, the swapped set counts REF where the text counts its first
  // allele: without components, a SNP without missing calls has the same
  // statistics and swapped frequencies. (With missing calls or components
  // the statistics depend on which allele is counted.)
  const std::vector<ResultLine> text = parseResult(textResult);
  const std::vector<ResultLine> own = parseResult(resultOf(dir, {"--vf", "swapped", "--p", "0"}, "own.txt"));
  ASSERT_EQ(own.size(), text.size());
  for (size_t s : {0, 1, 2}) {  // rs1, rs2, rs3 have no missing call
    EXPECT_EQ(own[s].allele1, text[s].allele2);
    EXPECT_EQ(own[s].allele2, text[s].allele1);
    EXPECT_EQ(own[s].numbers[0], text[s].numbers[1]);
    EXPECT_EQ(own[s].numbers[1], text[s].numbers[0]);
    EXPECT_EQ(std::vector<std::string>(own[s].numbers.begin() + 2, own[s].numbers.end()),
              std::vector<std::string>(text[s].numbers.begin() + 2, text[s].numbers.end()));
  }
  // A third allele stops, as between two text sets.
  writeSet("third", replaceAll(vcfOf(kMap, kPed, byIid), "\trs1\tA\tG\t", "\trs1\tA\tT\t"));
  const RunResult third = runOmbra(dir.path(), {"--f", "text", "--vi", "third", "--p", "0", "--out", "third.txt"});
  EXPECT_EQ(third.status, 1);
  EXPECT_NE(third.out.find("The allele of marker rs1 (chromosome 1) is more than 2, please check the data!\n"),
            std::string::npos)
      << third.out;
  EXPECT_FALSE(dir.exists("third.txt"));
}

}  // namespace
