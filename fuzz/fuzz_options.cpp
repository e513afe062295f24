// The option scanner and the whole run behind it, on a command line made of
// the input's lines (a line feed or a NUL ends a word). The data sets are a
// few tiny files under d/ of the work folder, which is the current folder, so
// every output lands there; the folder is laid anew for each input.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "FuzzSupport.h"
#include "app/Run.h"

namespace {

namespace fs = std::filesystem;

struct DataFile {
  const char* name;
  std::string content;
};

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text.push_back(static_cast<char>(v));
  return text;
}

// Four SNPs; the binary sets hold the same genotypes as the text sets.
const std::vector<DataFile>& dataFiles() {
  static const std::vector<DataFile> files = {
      {"fam.map", "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n2 rs4 0 400\n"},
      {"fam.ped",
       "F1 1 0 0 1 1 A A C C G G T T\nF1 2 0 0 2 2 A G C T G A T T\nF1 3 1 2 1 2 A G C C G G 0 0\n"
       "F2 4 0 0 1 1 G G T T A A T C\nF2 5 0 0 2 0 A G C T G A C C\nF2 6 4 5 1 2 G G C T G A T C\n"},
      {"unr.map", "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n2 rs4 0 400\n"},
      {"unr.ped", "U1 1 0 0 1 1 A A C C G G T T\nU2 2 0 0 2 2 A G T T A A T C\nU3 3 0 0 1 2 G G C T G A C C\n"
                  "U3 4 0 0 2 1 A G C C G G T T\n"},
      {"bf.bim", "1 rs1 0 100 A G 5\n1 rs2 0 200 C T 4\n2 rs3 0 300 G A 4\n2 rs4 0 400 T C 4\n"},
      {"bf.fam", "F1 1 0 0 1 1\nF1 2 0 0 2 2\nF1 3 1 2 1 2\nF2 4 0 0 1 1\nF2 5 0 0 2 0\nF2 6 4 5 1 2\n"},
      {"bf.bed", bytes({0x00, 0x55, 0x43, 0xA9, 0x56, 0x95})},
      {"bu.bim", "1 rs1 0 100 G A 3\n1 rs2 0 200 C T 3\n2 rs3 0 300 G A 2\n2 rs4 0 400 T C 2\n"},
      {"bu.fam", "U1 1 0 0 1 1\nU2 2 0 0 2 2\nU3 3 0 0 1 2\n"},
      {"bu.bed", bytes({0xA0, 0x6D, 0x05})},
      // The family set again as a VCF, its samples named FID_IID.
      {"vf.vcf",
       "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tF1_1\tF1_2\tF1_3\tF2_4\tF2_5\t"
       "F2_6\n1\t100\trs1\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t0/1\t1/1\t0/1\t1/1\n"
       "1\t200\trs2\tC\tT\t.\t.\t.\tGT\t0/0\t0/1\t0/0\t1/1\t0/1\t0/1\n"
       "2\t300\trs3\tG\tA\t.\t.\t.\tGT\t0/0\t0/1\t0/0\t1/1\t0/1\t0/1\n"
       "2\t400\trs4\tT\tC\t.\t.\t.\tGT\t0/0\t0/0\t./.\t0/1\t1/1\t0/1\n"},
      {"vf.fam", "F1 1 0 0 1 1\nF1 2 0 0 2 2\nF1 3 1 2 1 2\nF2 4 0 0 1 1\nF2 5 0 0 2 0\nF2 6 4 5 1 2\n"},
      {"list.txt", "rs2\nrs4\nrs9\n"},
      {"ids.txt", "F1 2\nU3 4\nX 9\n"},
      {"scores.pca",
       "F1\t1\t1\t1\t0.1\t0.2\t0.3\t\nF1\t2\t2\t1\t-0.1\t0.4\t0.1\t\nF1\t3\t2\t0\t0.3\t-0.2\t0.2\t\n"
       "F2\t4\t1\t1\t-0.3\t0.1\t-0.1\t\nF2\t5\t0\t1\t0.2\t0.3\t0.5\t\nF2\t6\t2\t0\t0.0\t-0.4\t0.2\t\n"
       "U1\t1\t1\t1\t0.5\t0.1\t-0.2\t\nU2\t2\t2\t1\t-0.2\t-0.3\t0.3\t\nU3\t3\t2\t1\t0.1\t0.2\t-0.5\t\n"
       "U3\t4\t1\t1\t0.4\t-0.1\t0.1\t\n"},
  };
  return files;
}

// Lays the work folder anew: outputs of the last input go, data files return.
void layOutFolder() {
  for (const fs::directory_entry& entry : fs::directory_iterator(fuzz::workDir())) fs::remove_all(entry.path());
  fs::create_directory(fuzz::pathOf("d"));
  for (const DataFile& file : dataFiles()) fuzz::writeFile(std::string("d/") + file.name, file.content);
}

// Paths may only name files under d/ or in the work folder itself, so that
// no input reaches outside it.
bool safeWord(const std::string& word) {
  const size_t slash = word.find('/');
  if (slash == std::string::npos) return true;
  return word.compare(0, 2, "d/") == 0 && word.find('/', 2) == std::string::npos &&
         word.find("..") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::setUp();

  std::vector<std::string> words{"ombra"};
  std::string word;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n' || data[i] == '\0') {
      words.push_back(word);
      word.clear();
      if (words.size() > 32) return 0;
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  for (const std::string& w : words) {
    if (!safeWord(w)) return 0;
  }
  // The scanner reads options and values in pairs. Scores are allocated for
  // "--p" components before the count is lowered to what the data allow;
  // keep that allocation small enough for the fuzzer's memory limit.
  for (size_t i = 1; i + 1 < words.size(); i += 2) {
    if (words[i] == "--p" && ombra::leadingLong(words[i + 1]) > 64) return 0;
  }

  layOutFolder();
  // The run works in the work folder; libFuzzer's own relative paths need
  // the folder it was started in back afterwards.
  static const int home = open(".", O_RDONLY | O_DIRECTORY);
  FUZZ_CHECK(home >= 0 && chdir(fuzz::workDir().c_str()) == 0);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  try {
    ombra::runProgram(static_cast<int>(words.size()), argv.data());
  } catch (const fuzz::RunEnded& ended) {
    fuzz::checkStatus(ended);
  }
  FUZZ_CHECK(fchdir(home) == 0);
  return 0;
}
