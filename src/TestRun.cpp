// The run flow: options, checks, loading, recoding, the test and the report.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <iostream>
#include <new>

#include "Help.h"
#include "Test.h"
#include "formats/PlinkBed.h"
#include "formats/PlinkBedWriter.h"
#include "formats/TextInput.h"
#include "outputs/RunLog.h"

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
  kOutFormat, kPlot, kPlotStat, kUnknown
};

// Option words in the order they are compared.
Option optionOf(const std::string& word) {
  static const char* const kWords[] = {"--f",  "--i",   "--bf",       "--bi",      "--p",
                                       "--mg", "--op",  "--rp",       "--out",     "--additive",
                                       "--mt", "--make-bed", "--recode", "--snp-list-pca", "--pca-method",
                                       "--adjustment", "--threads", "--make-plink-bed",
                                       "--covar", "--covar-name", "--pheno", "--pheno-name", "--vf", "--vi",
                                       "--out-format", "--plot", "--plot-stat"};
  for (int i = 0; i < static_cast<int>(Option::kUnknown); ++i) {
    if (word == kWords[i]) return static_cast<Option>(i);
  }
  return Option::kUnknown;
}

// "--p" reads as strtol would; the count must fit the int it is kept in.
int parsePcaCount(const std::string& value) {
  const long count = ombra::leadingLong(value);
  if (count < 0 || count > INT_MAX) {
    ombra::stopRun("The number of principal components (--p) must be a whole number from 0 to " +
                   std::to_string(INT_MAX) + ".\n");
  }
  return static_cast<int>(count);
}

PcaMethod parsePcaMethod(const std::string& value) {
  if (value == "exact") return PcaMethod::kExact;
  if (value == "fast") return PcaMethod::kFast;
  if (value == "auto") return PcaMethod::kAuto;
  if (value == "approx") return PcaMethod::kApprox;
  ombra::stopRun("The option --pca-method takes exact, fast, approx or auto.\n");
}

// A comma-separated list of names, none of them empty.
std::vector<std::string> splitNames(const std::string& value, const char* option) {
  std::vector<std::string> names;
  size_t begin = 0;
  while (true) {
    const size_t end = value.find(',', begin);
    names.push_back(value.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (names.back().empty()) ombra::stopRun(std::string("The option ") + option + " takes names separated by commas.\n");
    if (end == std::string::npos) return names;
    begin = end + 1;
  }
}

// "--threads": a whole number of at least 1, written as such.
int parseThreads(const std::string& value) {
  const bool digits = !value.empty() && value.size() <= 9 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long count = digits ? std::stol(value) : 0;
  if (count < 1) ombra::stopRun("The number of threads (--threads) must be a whole number of at least 1.\n");
  return static_cast<int>(count);
}

ombra::ResultFormat parseResultFormat(const std::string& value) {
  if (value == "fixed") return ombra::ResultFormat::kFixed;
  if (value == "tsv") return ombra::ResultFormat::kTsv;
  ombra::stopRun("The option --out-format takes fixed or tsv.\n");
}

// "--plot-stat": ss, t, t1 or all.
void parsePlotStatistic(const std::string& value, bool (&chosen)[3]) {
  static const char* const kValues[3] = {"ss", "t", "t1"};
  for (int k = 0; k < 3; ++k) chosen[k] = value == "all" || value == kValues[k];
  if (!chosen[0] && !chosen[1] && !chosen[2]) ombra::stopRun("The option --plot-stat takes ss, t, t1 or all.\n");
}

// --help, -h and --version, in the place of an option, answer and end the
// run before anything else.
void answerHelpAndVersion(int argc, char** argv) {
  for (int i = 1; i < argc; i += 2) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      std::cout << ombra::helpText();
      ombra::endRun(0);
    }
    if (word == "--version") {
      std::cout << ombra::versionText();
      ombra::endRun(0);
    }
  }
}

Adjustment parseAdjustment(const std::string& value) {
  if (value == "intercept") return Adjustment::kIntercept;
  if (value == "legacy") return Adjustment::kLegacy;
  ombra::stopRun("The option --adjustment takes intercept or legacy.\n");
}

// Without snps or without an individual with a trait the test would write a
// result of nothing, or of not-a-number for every snp.
void checkSomethingToTest(const CTest& test) {
  if (test.savePCA && !test.loadPCA) return;  // only the components are computed, no test
  if (test.markerCount() == 0) ombra::stopRun("There is no snp to test: no snp map was read, or it lists no snps.\n");
  if (test.familySize + test.unrelatedSize == 0) {
    ombra::stopRun("There is no individual to test: the data sets are empty.\n");
  }
  for (const std::vector<Pedigree>* peds : {&test.familyPeds, &test.unrelatedPeds}) {
    for (const Pedigree& pedigree : *peds) {
      for (const Indi& person : pedigree.members) {
        if (person.trait != test.missingTrait) return;
      }
    }
  }
  ombra::stopRun("There is no individual to test: every trait is the missing-trait code " + test.missingTrait +
                 ".\n");
}

}  // namespace

namespace {

// Whether a data set, given or not, can be read as the run goes: a VCF or
// a PLINK 1 fileset, or no set at all.
bool streams(bool vcfGiven, bool binaryGiven, const std::string& binaryPrefix, bool given) {
  if (!given || vcfGiven) return true;
  return binaryGiven && ombra::isPlinkFileset(binaryPrefix, true);
}

}  // namespace

struct CTest::DataSelection {
  std::string familyText, unrelatedText, familyBinary, unrelatedBinary;
  bool familyTextGiven = false, unrelatedTextGiven = false;
  bool familyBinaryGiven = false, unrelatedBinaryGiven = false;
  bool makeBedGiven = false, recodeGiven = false;
  bool makePlinkBedGiven = false;
  std::string plinkBedPrefix;
  std::string familyVcf, unrelatedVcf;
  bool familyVcfGiven = false, unrelatedVcfGiven = false;

  bool familyGiven() const { return familyTextGiven || familyBinaryGiven || familyVcfGiven; }
  bool recodes() const { return makeBedGiven || recodeGiven || makePlinkBedGiven; }
  bool unrelatedGiven() const { return unrelatedTextGiven || unrelatedBinaryGiven || unrelatedVcfGiven; }
};

bool compare(myclass const& a, myclass const& b) { return a.value > b.value; }

CTest::CTest()
    : familySize(0), unrelatedSize(0), pcaCount(10), recodePrefix("Ombra"), missingTrait("0"),
      missingGenotype("0"), projectionMatrix(nullptr) {}

void CTest::StartUp(int argc, char** argv) {
  savePCA = loadPCA = resultFileGiven = recodeAdditive = false;
  pcaFileName.clear();
  resultFileName.clear();
  answerHelpAndVersion(argc, argv);
  if (argc <= 2) ombra::stopRun(kUsage);

  const DataSelection selection = scanOptions(argc, argv);
  ombra::startRunLog(logName(), argc, argv);
  checkOptions(selection);
  refuseOverwritingInputs(selection);
  prepareSelections();

  const std::time_t start = std::time(nullptr);
  // A container that cannot grow would otherwise end the process with an
  // uncaught exception instead of a message.
  try {
    markers.clear();
    loadDataSets(selection);
    checkRowsFitMarkers();
    applySelections();
    applyStudyDesign();
    recode(selection);
    checkSomethingToTest(*this);

    std::cout << "Program is processing, please wait...\n(if program need cacluate the PCA, it may take long "
                 "time. Please be more patient.)\n";
    std::cout.flush();
    Test();
  } catch (const std::bad_alloc&) {
    ombra::stopRun("\nThe program ran out of memory. Please use a machine with more memory, or fewer snps or "
                   "individuals.\n");
  }

  releaseRows();
  ombra::commitOutputs();
  std::cout << "The process has been finisned!\n";
  reportElapsed(start);
  reportGenomicControl();
  if (ombra::finishRunLog(0) != 0) ombra::endRun(1);
}

// Beside the result file, or beside the PCA file of a components-only run.
std::string CTest::logName() const {
  if (savePCA && !loadPCA) return ombra::logNameFor(pcaFileName);
  return ombra::logNameFor(resultFileGiven ? resultFileName : "result.txt");
}

CTest::DataSelection CTest::scanOptions(int argc, char** argv) {
  DataSelection s;
  for (int i = 1; i < argc; i += 2) {
    const std::string word = argv[i];
    const Option option = optionOf(word);
    if (option == Option::kUnknown && ombra::SelectionOptions::knows(word)) {
      if (i + 1 >= argc) ombra::stopRun(kUsage);
      selectionOptions.set(word, argv[i + 1]);
      continue;
    }
    if (option == Option::kUnknown) ombra::stopRun("Wrong option symbol!\n");
    if (i + 1 >= argc) ombra::stopRun(kUsage);  // an option without its value
    const std::string value = argv[i + 1];
    switch (option) {
      case Option::kFamilyText: s.familyText = value; s.familyTextGiven = true; break;
      case Option::kUnrelatedText: s.unrelatedText = value; s.unrelatedTextGiven = true; break;
      case Option::kFamilyBinary: s.familyBinary = value; s.familyBinaryGiven = true; break;
      case Option::kUnrelatedBinary: s.unrelatedBinary = value; s.unrelatedBinaryGiven = true; break;
      case Option::kPcaCount: pcaCount = parsePcaCount(value); break;
      case Option::kMissingGenotype:
        missingGenotype = value;
        if (value.size() > 1) ombra::stopRun("Miss genotype must be one letter length.\n");
        break;
      case Option::kSavePca: savePCA = true; pcaFileName = value; break;
      case Option::kLoadPca: loadPCA = true; pcaFileName = value; break;
      case Option::kResult: resultFileGiven = true; resultFileName = value; break;
      case Option::kAdditive: recodeAdditive = true; additivePrefix = value; break;
      case Option::kMissingTrait: missingTrait = value; missingTraitGiven = true; break;
      case Option::kMakeBed: recodePrefix = value; s.makeBedGiven = true; break;
      case Option::kRecode: recodePrefix = value; s.recodeGiven = true; break;
      case Option::kPcaSnpList: pcaSnpListFile = value; break;
      case Option::kPcaMethod: pcaMethod = parsePcaMethod(value); break;
      case Option::kAdjustment: adjustment = parseAdjustment(value); break;
      case Option::kThreads: Matrix::setSvdThreads(parseThreads(value)); break;
      case Option::kMakePlinkBed: s.plinkBedPrefix = value; s.makePlinkBedGiven = true; break;
      case Option::kCovar: covariateFile = value; break;
      case Option::kCovarName: covariateRequest = splitNames(value, "--covar-name"); break;
      case Option::kPheno: phenotypeFile = value; break;
      case Option::kPhenoName: phenotypeName = value; break;
      case Option::kOutFormat: resultFormat = parseResultFormat(value); break;
      case Option::kPlot: plotPrefix = value; break;
      case Option::kPlotStat: parsePlotStatistic(value, plotStatistic); break;
      case Option::kFamilyVcf: s.familyVcf = value; s.familyVcfGiven = true; break;
      case Option::kUnrelatedVcf: s.unrelatedVcf = value; s.unrelatedVcfGiven = true; break;
      case Option::kUnknown: break;
    }
  }
  return s;
}

void CTest::checkOptions(const DataSelection& s) {
  if (!s.familyGiven() && !s.unrelatedGiven()) {
    ombra::stopRun("Do not provide parameter of pedigree file and Independent data!\n");
  }
  if (s.makeBedGiven && s.recodeGiven) {
    ombra::stopRun("The option --make-bed and --recode can not be use together.\n");
  }
  if (s.makePlinkBedGiven && (s.makeBedGiven || s.recodeGiven)) {
    ombra::stopRun("The option --make-plink-bed can not be used together with --make-bed or --recode.\n");
  }
  if ((s.makeBedGiven || s.recodeGiven || s.makePlinkBedGiven) && s.familyGiven() && s.unrelatedGiven()) {
    ombra::stopRun(
        "When recoding the original data, only one datset can be used, either family dataset, or nrelated "
        "dataset.\n");
  }
}

// Every file this run may read against every file it will write, before
// anything is read or written. A run with a recoding and no "--out" ends
// after its first recoding; "--op" without "--rp" ends after the PCA files.
void CTest::refuseOverwritingInputs(const DataSelection& s) {
  std::vector<std::string> inputs;
  const auto addSet = [&inputs](const std::string& prefix, std::initializer_list<const char*> extensions) {
    for (const char* extension : extensions) inputs.push_back(prefix + extension);
  };
  const std::initializer_list<const char*> vcf{".bcf", ".vcf.gz", ".vcf", ".fam"};
  const std::initializer_list<const char*> binary{".bim", ".fam", ".bed"};
  const std::initializer_list<const char*> text{".map", ".ped", ".map.gz", ".ped.gz"};
  if (s.familyVcfGiven) addSet(s.familyVcf, vcf);
  if (s.familyBinaryGiven && !s.familyVcfGiven) addSet(s.familyBinary, binary);
  if (s.familyTextGiven && !s.familyBinaryGiven && !s.familyVcfGiven) addSet(s.familyText, text);
  if (s.unrelatedVcfGiven) addSet(s.unrelatedVcf, vcf);
  if (s.unrelatedBinaryGiven && !s.unrelatedVcfGiven) addSet(s.unrelatedBinary, binary);
  if (s.unrelatedTextGiven && !s.unrelatedBinaryGiven && !s.unrelatedVcfGiven) addSet(s.unrelatedText, text);
  if (loadPCA) inputs.push_back(pcaFileName);
  for (const std::string* file : {&pcaSnpListFile, &covariateFile, &phenotypeFile, &selectionOptions.keepFile,
                                  &selectionOptions.removeFile, &selectionOptions.extractFile,
                                  &selectionOptions.excludeFile}) {
    if (!file->empty()) inputs.push_back(*file);
  }

  std::vector<std::string> outputs;
  for (const char* extension : {".map", ".ped"}) {
    if (s.recodeGiven) outputs.push_back(recodePrefix + extension);
  }
  for (const char* extension : {".bim", ".fam", ".bed"}) {
    if (s.makeBedGiven) outputs.push_back(recodePrefix + extension);
    if (s.makePlinkBedGiven) outputs.push_back(s.plinkBedPrefix + extension);
  }
  const bool recodes = s.recodeGiven || s.makeBedGiven || s.makePlinkBedGiven;
  const bool recodingOnly = resultFileName.empty() && (recodes || recodeAdditive);
  if (recodeAdditive && !(recodingOnly && recodes)) {
    outputs.push_back(additivePrefix + ".add");
  }
  if (savePCA && !loadPCA && !recodingOnly) {
    outputs.push_back(pcaFileName);
    outputs.push_back(eigenLoadingFileName(pcaFileName));
  } else if (!recodingOnly) {
    outputs.push_back(resultFileGiven ? resultFileName : "result.txt");
  }
  outputs.push_back(logName());
  if (!plotPrefix.empty() && !recodingOnly && !(savePCA && !loadPCA)) {
    outputs.push_back(plotPrefix + ".manhattan.svg");
    outputs.push_back(plotPrefix + ".qq.svg");
  }
  ombra::refuseOutputsThatAreInputs(inputs, outputs);
}

// Family set first, then unrelated; a set's VCF form wins over its binary
// form, which wins over its text form. The markers come from the family
// set's map or VCF when it yields any.
void CTest::loadDataSets(const DataSelection& s) {
  streaming = !s.recodes() && canStream(streams(s.familyVcfGiven, s.familyBinaryGiven, s.familyBinary, s.familyGiven()),
                                       streams(s.unrelatedVcfGiven, s.unrelatedBinaryGiven, s.unrelatedBinary,
                                               s.unrelatedGiven()));
  if (s.familyVcfGiven) {
    readVcfSet(s.familyVcf, false);
  } else if (s.familyBinaryGiven && ombra::isPlinkFileset(s.familyBinary)) {
    loadPlinkSet(s.familyBinary, false);
  } else if (s.familyBinaryGiven) {
    const std::string& p = s.familyBinary;
    if (fileExists(p + ".bim")) readMapFile(p + ".bim", 6);
    readPedigree(p + ".fam", familyPeds, familyRows, true, false);
    readGenotype(p + ".bed", familyRows, false);
  } else if (s.familyTextGiven) {
    const std::string map = ombra::textInputPath(s.familyText, ".map");
    if (fileExists(map)) readMapFile(map, 4);
    readPedigree(ombra::textInputPath(s.familyText, ".ped"), familyPeds, familyRows, false, false);
  }
  if (s.unrelatedVcfGiven) {
    readVcfSet(s.unrelatedVcf, true);
  } else if (s.unrelatedBinaryGiven && ombra::isPlinkFileset(s.unrelatedBinary)) {
    loadPlinkSet(s.unrelatedBinary, true);
  } else if (s.unrelatedBinaryGiven) {
    const std::string& q = s.unrelatedBinary;
    const bool sharedMarkers = !markers.empty();
    if (!sharedMarkers) readMapFile(q + ".bim", 6);
    readPedigree(q + ".fam", unrelatedPeds, unrelatedRows, true, true);
    readGenotype(q + ".bed", unrelatedRows, true);
    if (sharedMarkers) alignUnrelatedBinarySet(q + ".bim");
  } else if (s.unrelatedTextGiven) {
    const std::string& q = s.unrelatedText;
    if (markers.empty()) readMapFile(ombra::textInputPath(q, ".map"), 4);
    readPedigree(ombra::textInputPath(q, ".ped"), unrelatedPeds, unrelatedRows, false, true);
  }
}

// A set read before another set's map supplied the markers has rows too
// short for them; every later step would read past its rows.
void CTest::checkRowsFitMarkers() {
  const long m = static_cast<long>(markerCount());
  auto check = [m](int size, long readWith, const char* name) {
    if (size > 0 && readWith != m) {
      ombra::stopRun(std::string("The ") + name + " dataset was read with " + std::to_string(readWith) +
                     " snps, but the snp map lists " + std::to_string(m) +
                     " snps. Please give the map file of the " + name + " dataset.\n");
    }
  };
  check(familySize, familyMarkerCount, "family");
  check(unrelatedSize, unrelatedMarkerCount, "unrelated");
}

// Without "--out" a run performs at most one recoding and ends there.
void CTest::recode(const DataSelection& s) {
  std::vector<Pedigree>& peds = s.familyGiven() ? familyPeds : unrelatedPeds;
  std::vector<Index>& rows = s.familyGiven() ? familyRows : unrelatedRows;
  if (s.recodeGiven || s.makeBedGiven || s.makePlinkBedGiven) {
    if (s.makePlinkBedGiven) {
      std::cout << "Coding PLINK 1 binary fileset ...\n";
      ombra::writePlinkFileset(s.plinkBedPrefix, markers, peds, rows);
    } else if (s.recodeGiven) {
      RecodeGenotypeTextFormat(peds, rows);
    } else {
      RecodeGenotypeBinaryFormat(peds, rows);
    }
    if (resultFileName.empty()) ombra::endRun(0);
  }
  if (recodeAdditive) {
    RecodeAdditiveFormat(peds, rows);
    if (resultFileName.empty()) ombra::endRun(0);
  }
}

void CTest::releaseRows() {
  for (Index& row : familyRows) charTracker.FreeVector(reinterpret_cast<char*>(row.geno));
  for (Index& row : unrelatedRows) charTracker.FreeVector(reinterpret_cast<char*>(row.geno));
}

void CTest::reportElapsed(std::time_t start) {
  const int elapsed = static_cast<int>(std::time(nullptr) - start);
  std::cout << "\n---------------------------------------------------------------\n";
  std::cout << "\nElapse time : " << (elapsed / 60) / 60 << ":" << (elapsed / 60) % 60 << ":" << elapsed % 60
            << "\n";
}
