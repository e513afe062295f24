// Seeded generator of large benchmark data written straight to PLINK 1
// filesets, one SNP at a time, so that 10^5 people x 10^6 SNPs never sit in
// memory (it holds one SNP of every individual):
//
//   simulate_plink [--families N] [--unrelated N] [--snps M] [--seed S]
//                  [--missing-rate R] [--out DIR]
//
// Writes DIR/family.bed/.bim/.fam (two founders and two children per
// family) and DIR/unrelated.bed/.bim/.fam over the same SNPs. Three
// subpopulations with Balding-Nichols frequencies (Fst 0.05); each family and
// each unrelated individual belongs to one; children inherit one allele from
// each parent at every SNP (independent SNPs); a fraction R of genotypes is
// missing; traits are 1/2 with a subpopulation shift.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Options {
  long families = 1000;
  long unrelated = 2000;
  long snps = 100000;
  unsigned long long seed = 1;
  double missingRate = 0.01;
  std::string out = ".";
};

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr,
               "simulate_plink: %s\nusage: simulate_plink [--families N] [--unrelated N] [--snps M] [--seed S] "
               "[--missing-rate R] [--out DIR]\n",
               why.c_str());
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string word = argv[i];
    const char* value = argv[i + 1];
    char* end = nullptr;
    if (word == "--out") {
      o.out = value;
      continue;
    }
    const double number = std::strtod(value, &end);
    if (end == value || *end != '\0' || number < 0) usage("bad value for " + word);
    if (word == "--families") o.families = static_cast<long>(number);
    else if (word == "--unrelated") o.unrelated = static_cast<long>(number);
    else if (word == "--snps") o.snps = static_cast<long>(number);
    else if (word == "--seed") o.seed = static_cast<unsigned long long>(number);
    else if (word == "--missing-rate") o.missingRate = number;
    else usage("unknown option " + word);
  }
  if (argc % 2 == 0) usage("an option without its value");
  return o;
}

FILE* openOrDie(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "simulate_plink: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    std::exit(1);
  }
  return file;
}

void closeOrDie(FILE* file, const std::string& path) {
  if (std::ferror(file) != 0 || std::fclose(file) != 0) {
    std::fprintf(stderr, "simulate_plink: write error on %s\n", path.c_str());
    std::exit(1);
  }
}

// One fileset being written: its .bed and the packing of one SNP.
struct Fileset {
  std::string prefix;
  FILE* bed = nullptr;
  std::vector<unsigned char> column;
  void open(const std::string& path, size_t people) {
    prefix = path;
    bed = openOrDie(path + ".bed");
    const unsigned char magic[3] = {0x6c, 0x1b, 0x01};
    std::fwrite(magic, 1, 3, bed);
    column.assign((people + 3) / 4, 0);
  }
  // PLINK codes: 00 two copies of A1, 10 one, 11 none (two of A2), 01 missing.
  void put(size_t i, int copiesOfA2, bool missing) {
    static const unsigned char kCode[3] = {0, 2, 3};
    const unsigned char code = missing ? 1 : kCode[copiesOfA2];
    column[i / 4] = static_cast<unsigned char>(column[i / 4] | (code << (2 * (i % 4))));
  }
  void endSnp() {
    std::fwrite(column.data(), 1, column.size(), bed);
    std::fill(column.begin(), column.end(), 0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  std::mt19937_64 random(o.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  constexpr int kPops = 3;
  const double fst = 0.05;
  const size_t familyPeople = static_cast<size_t>(o.families) * 4;
  const size_t unrelatedPeople = static_cast<size_t>(o.unrelated);
  std::vector<int> familyPop(static_cast<size_t>(o.families)), unrelatedPop(unrelatedPeople);
  for (int& p : familyPop) p = static_cast<int>(unit(random) * kPops) % kPops;
  for (int& p : unrelatedPop) p = static_cast<int>(unit(random) * kPops) % kPops;

  // Sample files.
  const double shift[kPops] = {0.0, 0.6, -0.6};
  auto trait = [&](int pop) { return unit(random) < 1 / (1 + std::exp(-(shift[pop] - 0.2))) ? '2' : '1'; };
  FILE* fam = openOrDie(o.out + "/family.fam");
  for (long f = 0; f < o.families; ++f) {
    const int pop = familyPop[static_cast<size_t>(f)];
    std::fprintf(fam, "F%ld 1 0 0 1 %c\nF%ld 2 0 0 2 %c\n", f, trait(pop), f, trait(pop));
    for (int child = 3; child <= 4; ++child) std::fprintf(fam, "F%ld %d 1 2 %d %c\n", f, child, 1 + child % 2, trait(pop));
  }
  closeOrDie(fam, o.out + "/family.fam");
  FILE* unr = openOrDie(o.out + "/unrelated.fam");
  for (size_t i = 0; i < unrelatedPeople; ++i) std::fprintf(unr, "U%zu 1 0 0 %zu %c\n", i, 1 + i % 2, trait(unrelatedPop[i]));
  closeOrDie(unr, o.out + "/unrelated.fam");

  // SNPs, one at a time: map lines and one column of every fileset.
  Fileset family, unrelated;
  if (familyPeople > 0) family.open(o.out + "/family", familyPeople);
  if (unrelatedPeople > 0) unrelated.open(o.out + "/unrelated", unrelatedPeople);
  FILE* famBim = familyPeople > 0 ? openOrDie(o.out + "/family.bim") : nullptr;
  FILE* unrBim = unrelatedPeople > 0 ? openOrDie(o.out + "/unrelated.bim") : nullptr;
  const char letters[4] = {'A', 'C', 'G', 'T'};
  const long perChromosome = (o.snps + 21) / 22;
  for (long s = 0; s < o.snps; ++s) {
    const double ancestral = 0.05 + 0.9 * unit(random);
    const double scale = (1 - fst) / fst;
    double freq[kPops];
    for (double& f : freq) {
      std::gamma_distribution<double> a(ancestral * scale, 1.0), b((1 - ancestral) * scale, 1.0);
      const double x = a(random), y = b(random);
      f = std::min(0.99, std::max(0.01, x / (x + y)));
    }
    const int first = static_cast<int>(unit(random) * 4) % 4;
    const char a1 = letters[first], a2 = letters[(first + 1 + static_cast<int>(unit(random) * 3) % 3) % 4];
    const long chromosome = 1 + s / perChromosome;
    const long position = 10000 + (s % perChromosome) * 5000;
    for (FILE* bim : {famBim, unrBim}) {
      if (bim != nullptr) std::fprintf(bim, "%ld rs%ld 0 %ld %c %c\n", chromosome, s + 1, position, a1, a2);
    }
    auto haplotype = [&](int pop) { return unit(random) < freq[pop] ? 1 : 0; };
    auto missing = [&] { return unit(random) < o.missingRate; };
    for (long f = 0; f < o.families; ++f) {
      const int pop = familyPop[static_cast<size_t>(f)];
      const int father[2] = {haplotype(pop), haplotype(pop)};
      const int mother[2] = {haplotype(pop), haplotype(pop)};
      const size_t base = static_cast<size_t>(f) * 4;
      family.put(base, father[0] + father[1], missing());
      family.put(base + 1, mother[0] + mother[1], missing());
      for (size_t child = 2; child < 4; ++child) {
        const int copies = father[random() & 1] + mother[random() & 1];
        family.put(base + child, copies, missing());
      }
    }
    for (size_t i = 0; i < unrelatedPeople; ++i) {
      const int pop = unrelatedPop[i];
      unrelated.put(i, haplotype(pop) + haplotype(pop), missing());
    }
    if (familyPeople > 0) family.endSnp();
    if (unrelatedPeople > 0) unrelated.endSnp();
  }
  for (Fileset* set : {&family, &unrelated}) {
    if (set->bed != nullptr) closeOrDie(set->bed, set->prefix + ".bed");
  }
  if (famBim != nullptr) closeOrDie(famBim, o.out + "/family.bim");
  if (unrBim != nullptr) closeOrDie(unrBim, o.out + "/unrelated.bim");
  std::fprintf(stderr, "simulate_plink: %ld families (%zu people), %zu unrelated, %ld SNPs\n", o.families,
               familyPeople, unrelatedPeople, o.snps);
  return 0;
}
