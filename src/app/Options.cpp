#include "app/Options.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <iostream>

#include "app/Help.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/Version.h"
#include "core/OutputFile.h"
#include "outputs/ResultSink.h"
#include "outputs/RunLog.h"

namespace ombra {

namespace {

const char* const kUsage =
    "Warning: incorrect usage of program!\n"
    "Usage:\n"
    "Command <-F pedigree_file> <-I Unrelated_file> <-P number_of Principal_Component> [-M missing_symbol] "
    "[-OP filename]] \n"
    "In which the square brackets ([ ]) and the the square brackets ([]) indicate groupings of optional "
    "terms and are not to be entered by the user. Items in angled brackets, (<>), are required. Those in "
    "square brackets, ([]) are optional. Order does not matter because the flags are used\n"
    "\n\n"
    "The meaning of the options:\n"
    " --f : indicate the follwing parameter is the family data file\n"
    " --i : indicate the follwing parameter is the unrelated (or case/control) data file. \n"
    "            here we use 1 as trait to indcate case, otherwise it is control\n"
    " --bf : indicate the follwing parameter is the binary family data file\n"
    " --bi : indicate the follwing parameter is the binary unrelated (or case/control) data file. \n"
    "            here we use 1 as trait to indcate case, otherwise it is control\n"
    " --mg : indicate the follwing parameter is a letter of missing of genotype.\n"
    " --mt : indicate the follwing parameter is the number which reperesent the missing trait.\n"
    "              If neglect this option, -999 will be the default.\n"
    " --op : indicate the follwing parameter is the file name which PCA will be saved. \n"
    "              If this option is used, the program will only calculate the PCA and does not do the test.\n"
    " --out: indicate the follwing parameter is the file name which will save the test result.\n"
    "                If this option is ignored, the default file name is result.txt\n"
    " --p : indicate the follwing parameter is number of PCA, which will be calculated or reloaded.\n"
    " --rp : indicate the follwing parameter is the file name which saved calculated PCA. \n"
    "              If this option is used, the program will not calculate PCA again and just load the PCA data "
    "from a given file.\n"
    " --snlp-list-pca : indicate the follwing parameter is the file name, included snp list which will be used "
    "to calculate PCA. If not give this snp list, program will use all the snp in the dataset.\n"
    "For every option and its default: ombra --help\n";

enum class Option {
  kFamilyText, kUnrelatedText, kFamilyBinary, kUnrelatedBinary, kPcaCount, kMissingGenotype, kSavePca,
  kLoadPca, kResult, kAdditive, kMissingTrait, kMakeBed, kRecode, kPcaSnpList, kPcaMethod, kAdjustment, kThreads,
  kMakePlinkBed, kCovar, kCovarName, kPheno, kPhenoName, kFamilyVcf, kUnrelatedVcf,
  kOutFormat, kPlot, kPlotStat, kMemory, kModel, kLmmH2, kWriteKinship, kVcfDosage, kFamilyBgen, kUnrelatedBgen,
  kMendel, kSetMeMissing, kMe, kMatchBy, kBuild, kUnknown
};

// Option words in the order they are compared.
const char* const kWords[] = {"--f",  "--i",   "--bf",       "--bi",      "--p",
                               "--mg", "--op",  "--rp",       "--out",     "--additive",
                               "--mt", "--make-bed", "--recode", "--snp-list-pca", "--pca-method",
                               "--adjustment", "--threads", "--make-plink-bed",
                               "--covar", "--covar-name", "--pheno", "--pheno-name", "--vf", "--vi",
                               "--out-format", "--plot", "--plot-stat", "--memory", "--model",
                               "--lmm-h2", "--write-kinship", "--vcf-dosage", "--gf", "--gi", "--mendel",
                               "--set-me-missing", "--me", "--match-by", "--build"};

Option optionOf(const std::string& word) {
  for (int i = 0; i < static_cast<int>(Option::kUnknown); ++i) {
    if (word == kWords[i]) return static_cast<Option>(i);
  }
  return Option::kUnknown;
}

// The fewest insertions, deletions and substitutions that turn `a` into `b`.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The options nearest to an unknown word: PLINK's own word for an input
// (--bfile for --bf, though --build is fewer edits away), else those it
// abbreviates (--th for --threads), else those fewest edits away, and among
// them the one it starts with when there is one.
std::vector<std::string> nearestOptions(const std::string& word) {
  static const std::pair<const char*, const char*> kPlinkWords[] = {
      {"--bfile", "--bf"}, {"--file", "--f"}, {"--vcf", "--vf"}, {"--bgen", "--gf"}};
  for (const auto& [plink, ours] : kPlinkWords) {
    if (word == plink) return {ours};
  }
  std::vector<std::string> options = SelectionOptions::words();
  for (int i = 0; i < static_cast<int>(Option::kUnknown); ++i) options.emplace_back(kWords[i]);
  options.insert(options.end(), {"--help", "--version"});
  std::vector<std::string> abbreviated;
  for (const std::string& option : options) {
    if (word.size() > 2 && option.compare(0, word.size(), word) == 0) abbreviated.push_back(option);
  }
  if (!abbreviated.empty()) return abbreviated;
  size_t best = SIZE_MAX;
  std::vector<std::string> nearest;
  for (const std::string& option : options) {
    const size_t distance = editDistance(word, option);
    if (distance < best) nearest.clear();
    if (distance <= best) {
      best = distance;
      nearest.push_back(option);
    }
  }
  for (const std::string& option : nearest) {
    if (word.compare(0, option.size(), option) == 0) return {option};
  }
  return nearest;
}

// "`--bfile`: did you mean `--bf`?", for the line after "Wrong option symbol!".
std::string optionHint(const std::string& word) {
  const std::vector<std::string> nearest = nearestOptions(word);
  std::string hint = "`" + word + "`: did you mean ";
  for (size_t k = 0; k < nearest.size(); ++k) {
    if (k > 0) hint += k + 1 == nearest.size() ? " or " : ", ";
    hint += "`" + nearest[k] + "`";
  }
  return hint + "?\n";
}

// "--p" reads as strtol would; the count must fit the int it is kept in.
int parsePcaCount(const std::string& value) {
  const long count = leadingLong(value);
  if (count < 0 || count > INT_MAX) {
    stopRun("The number of principal components (--p) must be a whole number from 0 to " +
                   std::to_string(INT_MAX) + ".\n");
  }
  return static_cast<int>(count);
}

PcaMethod parsePcaMethod(const std::string& value) {
  if (value == "exact") return PcaMethod::kExact;
  if (value == "fast") return PcaMethod::kFast;
  if (value == "auto") return PcaMethod::kAuto;
  if (value == "approx") return PcaMethod::kApprox;
  stopRun("The option --pca-method takes exact, fast, approx or auto.\n");
}

// A comma-separated list of names, none of them empty.
std::vector<std::string> splitNames(const std::string& value, const char* option) {
  std::vector<std::string> names;
  size_t begin = 0;
  while (true) {
    const size_t end = value.find(',', begin);
    names.push_back(value.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (names.back().empty()) stopRun(std::string("The option ") + option + " takes names separated by commas.\n");
    if (end == std::string::npos) return names;
    begin = end + 1;
  }
}

// "--threads": a whole number of at least 1, written as such.
int parseThreads(const std::string& value) {
  const bool digits = !value.empty() && value.size() <= 9 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long count = digits ? std::stol(value) : 0;
  if (count < 1) stopRun("The number of threads (--threads) must be a whole number of at least 1.\n");
  return static_cast<int>(count);
}

// "--memory": megabytes, a whole number of at least 1 (as PLINK's option).
double parseMemory(const std::string& value) {
  const bool digits = !value.empty() && value.size() <= 12 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const double megabytes = digits ? std::stod(value) : 0;
  if (megabytes < 1) stopRun("The memory for the run (--memory) must be a whole number of megabytes, at least 1.\n");
  return megabytes;
}

MatchBy parseMatchBy(const std::string& value) {
  if (value == "id") return MatchBy::kId;
  if (value == "position") return MatchBy::kPosition;
  stopRun("The option --match-by takes id or position.\n");
}

DosageField parseVcfDosage(const std::string& value) {
  for (DosageField field : {DosageField::kGt, DosageField::kDs, DosageField::kGp, DosageField::kHds}) {
    if (value == dosageFieldName(field)) return field;
  }
  stopRun("The option --vcf-dosage takes GT, DS, GP or HDS.\n");
}

ResultFormat parseResultFormat(const std::string& value) {
  if (value == "fixed") return ResultFormat::kFixed;
  if (value == "tsv") return ResultFormat::kTsv;
  if (value == "ssf") return ResultFormat::kSsf;
  stopRun("The option --out-format takes fixed, tsv or ssf.\n");
}

// "--build": the genome assembly of the positions, by its GRCh or NCBI name
// or its UCSC one, kept as the GWAS-SSF metadata names it.
std::string parseGenomeBuild(const std::string& value) {
  static const char* const kNames[][2] = {{"GRCh38", "GRCh38"}, {"hg38", "GRCh38"}, {"GRCh37", "GRCh37"},
                                          {"hg19", "GRCh37"},   {"NCBI36", "NCBI36"}, {"hg18", "NCBI36"}};
  for (const auto& name : kNames) {
    if (value == name[0]) return name[1];
  }
  stopRun("The option --build takes GRCh38 (or hg38), GRCh37 (or hg19) or NCBI36 (or hg18).\n");
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "--plot-stat": ss, t, t1, lmm or all (lmm among them under --model lmm,
// which is settled once every option is read).
// The statistic's name as the run's columns name it ("SS", "LMM"), or "ALL".
std::string parsePlotStatistic(const std::string& value) {
  for (const char* name : {"ss", "t", "t1", "lmm", "all"}) {
    if (value != name) continue;
    std::string upper = value;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }
  stopRun("The option --plot-stat takes ss, t, t1, lmm or all.\n");
}

bool parseModel(const std::string& value) {
  if (value == "lmm") return true;
  stopRun("The option --model takes lmm (the mixed model with the pedigrees' kinship).\n");
}

// "--lmm-h2": a number from 0 to 1, written whole.
double parseHeritability(const std::string& value) {
  char* end = nullptr;
  const double h2 = value.empty() ? -1 : std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !(h2 >= 0 && h2 <= 1)) {
    stopRun("The heritability of the mixed model (--lmm-h2) must be a number from 0 to 1.\n");
  }
  return h2;
}

// The values an option word takes beyond the usual one: --set-me-missing
// none, --me two.
int extraValues(const std::string& word) {
  if (word == "--set-me-missing") return -1;
  if (word == "--me") return 1;
  return 0;
}

// "--me F S": two rates from 0 to 1.
void parseMendelRates(int argc, char** argv, int i, MendelOptions& mendel) {
  if (i + 2 >= argc) stopRun("The option --me takes two numbers: the largest error rate of a child and of a snp.\n");
  double rates[2];
  for (int k = 0; k < 2; ++k) {
    const std::string value = argv[i + 1 + k];
    char* end = nullptr;
    rates[k] = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(rates[k] >= 0 && rates[k] <= 1)) {
      stopRun("The option --me takes two numbers from 0 to 1 (the largest error rate of a child and of a snp), "
              "not " + value + ".\n");
    }
  }
  mendel.exclude = true;
  mendel.maxChildRate = rates[0];
  mendel.maxSnpRate = rates[1];
}

// --help, -h and --version, in the place of an option, answer and end the
// run before anything else.
void answerHelpAndVersion(int argc, char** argv) {
  for (int i = 1; i < argc; i += 2 + extraValues(argv[i])) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      std::cout << helpText();
      endRun(0);
    }
    if (word == "--version") {
      std::cout << versionText();
      endRun(0);
    }
  }
}

Adjustment parseAdjustment(const std::string& value) {
  if (value == "intercept") return Adjustment::kIntercept;
  if (value == "legacy") return Adjustment::kLegacy;
  stopRun("The option --adjustment takes intercept or legacy.\n");
}

}  // namespace

std::string RunOptions::logPath() const {
  return logNameFor(componentsOnly() ? pcaFile : resultPath());
}

RunOptions parseOptions(int argc, char** argv) {
  answerHelpAndVersion(argc, argv);
  if (argc <= 2) stopRun(kUsage);
  RunOptions o;
  for (int i = 1; i < argc; i += 2) {
    const std::string word = argv[i];
    const Option option = optionOf(word);
    if (option == Option::kSetMeMissing) {
      o.mendel.setMissing = true;
      i -= 1;  // no value
      continue;
    }
    if (option == Option::kMe) {
      parseMendelRates(argc, argv, i, o.mendel);
      i += 1;  // two values
      continue;
    }
    if (option == Option::kUnknown && SelectionOptions::knows(word)) {
      if (i + 1 >= argc) stopRun(kUsage);
      o.selection.set(word, argv[i + 1]);
      continue;
    }
    if (option == Option::kUnknown) stopRun("Wrong option symbol!\n" + optionHint(word));
    if (i + 1 >= argc) stopRun(kUsage);  // an option without its value
    const std::string value = argv[i + 1];
    switch (option) {
      case Option::kFamilyText: o.family.text = value; o.family.textGiven = true; break;
      case Option::kUnrelatedText: o.unrelated.text = value; o.unrelated.textGiven = true; break;
      case Option::kFamilyBinary: o.family.binary = value; o.family.binaryGiven = true; break;
      case Option::kUnrelatedBinary: o.unrelated.binary = value; o.unrelated.binaryGiven = true; break;
      case Option::kPcaCount: o.pcaCount = parsePcaCount(value); break;
      case Option::kMissingGenotype:
        o.missingGenotype = value;
        if (value.size() > 1) stopRun("Miss genotype must be one letter length.\n");
        break;
      case Option::kSavePca: o.savePca = true; o.pcaFile = value; break;
      case Option::kLoadPca: o.loadPca = true; o.pcaFile = value; break;
      case Option::kResult: o.resultFileGiven = true; o.resultFile = value; break;
      case Option::kAdditive: o.recodeAdditive = true; o.additivePrefix = value; break;
      case Option::kMissingTrait: o.study.missingTrait = value; o.study.missingTraitGiven = true; break;
      case Option::kMakeBed: o.recodePrefix = value; o.makeBed = true; break;
      case Option::kRecode: o.recodePrefix = value; o.recode = true; break;
      case Option::kPcaSnpList: o.pcaSnpListFile = value; break;
      case Option::kPcaMethod: o.pcaMethod = parsePcaMethod(value); break;
      case Option::kAdjustment: o.adjustment = parseAdjustment(value); break;
      case Option::kThreads: o.threads = parseThreads(value); break;
      case Option::kMakePlinkBed: o.plinkBedPrefix = value; o.makePlinkBed = true; break;
      case Option::kCovar: o.study.covariateFile = value; break;
      case Option::kCovarName: o.study.covariateRequest = splitNames(value, "--covar-name"); break;
      case Option::kPheno: o.study.phenotypeFile = value; break;
      case Option::kPhenoName: o.study.phenotypeName = value; break;
      case Option::kOutFormat: o.resultFormat = parseResultFormat(value); break;
      case Option::kPlot: o.plotPrefix = value; break;
      case Option::kPlotStat: o.plotStatistic = parsePlotStatistic(value); break;
      case Option::kMemory: o.memoryMegabytes = parseMemory(value); break;
      case Option::kModel: o.mixedModel = parseModel(value); break;
      case Option::kLmmH2: o.lmmH2 = parseHeritability(value); break;
      case Option::kWriteKinship: o.kinshipFile = value; break;
      case Option::kMendel: o.mendel.reportPrefix = value; break;
      case Option::kSetMeMissing: case Option::kMe: break;  // taken above: no value, or two
      case Option::kVcfDosage: o.vcfDosage = parseVcfDosage(value); break;
      case Option::kFamilyBgen: o.family.bgen = value; o.family.bgenGiven = true; break;
      case Option::kUnrelatedBgen: o.unrelated.bgen = value; o.unrelated.bgenGiven = true; break;
      case Option::kFamilyVcf: o.family.vcf = value; o.family.vcfGiven = true; break;
      case Option::kUnrelatedVcf: o.unrelated.vcf = value; o.unrelated.vcfGiven = true; break;
      case Option::kMatchBy: o.matchBy = parseMatchBy(value); break;
      case Option::kBuild: o.genomeBuild = parseGenomeBuild(value); break;
      case Option::kUnknown: break;
    }
  }
  // "all" plots every statistic of the run.
  return o;
}

void checkOptions(const RunOptions& o) {
  if (!o.family.given() && !o.unrelated.given()) {
    stopRun("Do not provide parameter of pedigree file and Independent data!\n");
  }
  if (o.makeBed && o.recode) stopRun("The option --make-bed and --recode can not be use together.\n");
  if (o.makePlinkBed && (o.makeBed || o.recode)) {
    stopRun("The option --make-plink-bed can not be used together with --make-bed or --recode.\n");
  }
  if (!o.mixedModel && o.plotStatistic == "LMM") stopRun("The option --plot-stat lmm needs --model lmm.\n");
  if (!o.mixedModel && o.lmmH2 >= 0) stopRun("The option --lmm-h2 needs --model lmm.\n");
  if (!o.genomeBuild.empty() && o.resultFormat != ResultFormat::kSsf) {
    stopRun("The option --build names the assembly in the GWAS-SSF metadata: it needs --out-format ssf.\n");
  }
  if (o.resultFormat == ResultFormat::kSsf && !endsWith(o.resultPath(), ".tsv") &&
      !endsWith(o.resultPath(), ".tsv.gz")) {
    stopRun("The option --out-format ssf writes a .tsv or .tsv.gz file: please give --out a name ending in one.\n");
  }
  if (o.mixedModel && o.adjustment == Adjustment::kLegacy) {
    stopRun("The option --model lmm needs the constant of --adjustment intercept (the default); it does not "
            "reproduce earlier versions' results.\n");
  }
  if (o.recodes() && o.family.given() && o.unrelated.given()) {
    stopRun(
        "When recoding the original data, only one datset can be used, either family dataset, or nrelated "
        "dataset.\n");
  }
}

// Every file the run will write, with the option that names it. A run with
// a recoding and no "--out" ends after its first recoding; "--op" without
// "--rp" ends after the PCA files.
std::vector<NamedOutput> runOutputs(const RunOptions& o, const std::vector<std::string>& phenotypes) {
  std::vector<NamedOutput> outputs;
  const auto add = [&outputs](const char* option, const std::string& path) { outputs.push_back({option, path}); };
  for (const char* extension : {".map", ".ped"}) {
    if (o.recode) add("--recode", o.recodePrefix + extension);
  }
  for (const char* extension : {".bim", ".fam", ".bed"}) {
    if (o.makeBed) add("--make-bed", o.recodePrefix + extension);
    if (o.makePlinkBed) add("--make-plink-bed", o.plinkBedPrefix + extension);
  }
  const bool recodingOnly = o.resultFile.empty() && (o.recodes() || o.recodeAdditive);
  if (o.recodeAdditive && !(recodingOnly && o.recodes())) add("--additive", o.additivePrefix + ".add");
  if (o.componentsOnly() && !recodingOnly) {
    add("--op", o.pcaFile);
    add("--op", eigenLoadingFileName(o.pcaFile));
  }
  // One phenotype keeps the names without a phenotype in them.
  const std::vector<std::string> each = phenotypes.size() > 1 ? phenotypes : std::vector<std::string>{""};
  const auto named = [&](const std::string& path, const std::string& phenotype) {
    return phenotype.empty() ? path : phenotypeOutputName(path, phenotype);
  };
  for (const std::string& phenotype : each) {
    if (o.componentsOnly() || recodingOnly) continue;
    add("--out", named(o.resultPath(), phenotype));
    if (o.resultFormat == ResultFormat::kSsf) add("--out (its metadata)", ssfMetadataPath(named(o.resultPath(), phenotype)));
  }
  add(o.componentsOnly() ? "--op (the log)" : "--out (the log)", o.logPath());
  if (!o.kinshipFile.empty()) add("--write-kinship", o.kinshipFile);
  for (const char* extension : {".mendel", ".lmendel", ".fmendel"}) {
    if (!o.mendel.reportPrefix.empty()) add("--mendel", o.mendel.reportPrefix + extension);
  }
  for (const std::string& phenotype : each) {
    if (!o.plotPrefix.empty() && !recodingOnly && !o.componentsOnly()) {
      add("--plot", named(o.plotPrefix, phenotype) + ".manhattan.svg");
      add("--plot", named(o.plotPrefix, phenotype) + ".qq.svg");
    }
  }
  return outputs;
}

void checkOutputs(const RunOptions& o, const std::vector<std::string>& phenotypes) {
  std::vector<std::string> inputs = o.family.files();
  for (const std::string& file : o.unrelated.files()) inputs.push_back(file);
  if (o.loadPca) inputs.push_back(o.pcaFile);
  const SelectionOptions& s = o.selection;
  for (const std::string* file : {&o.pcaSnpListFile, &o.study.covariateFile, &o.study.phenotypeFile, &s.keepFile,
                                  &s.removeFile, &s.extractFile, &s.excludeFile}) {
    if (!file->empty()) inputs.push_back(*file);
  }
  const std::vector<NamedOutput> outputs = runOutputs(o, phenotypes);
  std::vector<std::string> paths;
  for (const NamedOutput& output : outputs) paths.push_back(output.path);
  refuseOutputsThatAreInputs(inputs, paths);
  refuseUnwritableOutputs(outputs);
}

}  // namespace ombra
