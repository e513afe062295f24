// Seeded generator of benchmark data: a family text set and an unrelated text
// set over one SNP map, drawn from a few subpopulations.
//
//   simulate [--families N] [--unrelated N] [--snps M] [--seed S] [--out DIR]
//            [--causal K] [--effect-scale X] [--missing-rate R]
//
// Writes DIR/family.ped, DIR/family.map, DIR/unrelated.ped, DIR/unrelated.map
// (the two maps are the same), DIR/pca_keep.txt, the family and individual
// IDs of the mutually unrelated individuals (founders, the first child of each
// sibship whose parents are absent, every unrelated individual), for tools
// that need the list spelled out, and DIR/causal.txt, the causal SNPs with
// their effects on the log-odds scale.
//
// The model:
// - three subpopulations; per SNP an ancestral frequency, and per
//   subpopulation a Balding-Nichols draw from it (Fst 0.05); a few SNPs are
//   monomorphic; the two alleles are distinct letters of ACGT chosen per SNP;
// - families: two founders and 1 to 4 children by Mendelian transmission
//   (independent SNPs), or, for about 10% of them, a sibship whose parents are
//   not in the file (non-zero parent IDs that no line carries); every family
//   comes from one subpopulation;
// - unrelated set: every individual is its own family, subpopulation drawn at
//   random;
// - trait: 1 unaffected / 2 affected from a logistic liability on a few causal
//   SNPs (10 by default; --causal K many, each effect times --effect-scale,
//   for a polygenic trait) plus a subpopulation shift (so that the
//   components matter); about 2% of traits are missing ("0");
// - about 1% of genotypes (--missing-rate) are missing, written "0 0".
// All IDs are numbers, unique over both files.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kPops = 3;
constexpr double kPopShare[kPops] = {0.5, 0.3, 0.2};
constexpr double kFst = 0.05;
constexpr double kMissingTrait = 0.02;
constexpr double kSibshipShare = 0.10;
// Logistic liability: intercept, per-subpopulation shift.
constexpr double kIntercept = -0.6;
constexpr double kPopShift[kPops] = {0.0, 0.5, -0.5};

struct Options {
  long families = 100;
  long unrelated = 200;
  long snps = 20000;
  unsigned long long seed = 1;
  std::string out = ".";
  long causal = 10;
  double effectScale = 1.0;
  double missingRate = 0.01;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "simulate: %s\n"
               "usage: simulate [--families N] [--unrelated N] [--snps M] [--seed S] [--out DIR]\n"
               "                [--causal K] [--effect-scale X] [--missing-rate R]\n",
               why);
  std::exit(2);
}

long parseCount(const char* text, const char* name) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0) {
    std::string why = std::string("bad value for ") + name + ": " + text;
    usage(why.c_str());
  }
  return v;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") usage("help");
    if (i + 1 >= argc) usage(("missing value after " + a).c_str());
    const char* v = argv[++i];
    if (a == "--families") o.families = parseCount(v, "--families");
    else if (a == "--unrelated") o.unrelated = parseCount(v, "--unrelated");
    else if (a == "--snps") o.snps = parseCount(v, "--snps");
    else if (a == "--seed") o.seed = static_cast<unsigned long long>(parseCount(v, "--seed"));
    else if (a == "--out") o.out = v;
    else if (a == "--causal") o.causal = parseCount(v, "--causal");
    else if (a == "--effect-scale") o.effectScale = std::atof(v);
    else if (a == "--missing-rate") o.missingRate = std::atof(v);
    else usage(("unknown option " + a).c_str());
  }
  if (o.snps < 1) usage("--snps must be at least 1");
  if (!(o.missingRate > 0 && o.missingRate < 1)) usage("--missing-rate must lie between 0 and 1");
  return o;
}

// Buffered writer: lines are assembled in memory and handed to stdio in
// large blocks.
class Writer {
 public:
  explicit Writer(const std::string& path) : path_(path) {
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) {
      std::fprintf(stderr, "simulate: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      std::exit(1);
    }
    buf_.reserve(kFlushAt + (1u << 20));
  }
  ~Writer() { close(); }
  std::vector<char>& buffer() { return buf_; }
  void maybeFlush() {
    if (buf_.size() >= kFlushAt) flush();
  }
  void flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) fail();
    bytes_ += buf_.size();
    buf_.clear();
  }
  void close() {
    if (!f_) return;
    flush();
    if (std::fclose(f_) != 0) fail();
    f_ = nullptr;
  }
  unsigned long long bytes() const { return bytes_; }

 private:
  static constexpr size_t kFlushAt = 16u << 20;
  [[noreturn]] void fail() {
    std::fprintf(stderr, "simulate: write error on %s: %s\n", path_.c_str(), std::strerror(errno));
    std::exit(1);
  }
  std::string path_;
  FILE* f_ = nullptr;
  std::vector<char> buf_;
  unsigned long long bytes_ = 0;
};

void append(std::vector<char>& b, const char* s, size_t n) { b.insert(b.end(), s, s + n); }
void appendNumber(std::vector<char>& b, unsigned long long v) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) b.push_back(tmp[--n]);
}

struct Snp {
  uint32_t threshold[kPops];  // P(allele 2) scaled to 2^32, per subpopulation
  double freq[kPops];
  // Text of the four ordered haplotype pairs (h1 * 2 + h2), each " X Y".
  char text[4][4];
};

// One individual's two haplotypes: allele-2 indicators, one byte per SNP.
struct Genome {
  std::vector<uint8_t> h1, h2;
  explicit Genome(size_t m) : h1(m), h2(m) {}
};

class Simulator {
 public:
  explicit Simulator(const Options& o) : o_(o), rng_(o.seed), m_(static_cast<size_t>(o.snps)) {}

  void run() {
    makeSnps();
    writeMap(o_.out + "/family.map");
    writeMap(o_.out + "/unrelated.map");
    Writer keep(o_.out + "/pca_keep.txt");
    {
      Writer fam(o_.out + "/family.ped");
      writeFamilies(fam, keep);
      fam.close();
      famBytes_ = fam.bytes();
    }
    {
      Writer unr(o_.out + "/unrelated.ped");
      writeUnrelated(unr, keep);
      unr.close();
      unrBytes_ = unr.bytes();
    }
    keep.close();
    writeCausal(o_.out + "/causal.txt");
  }

  void report(double seconds) const {
    std::fprintf(stderr,
                 "simulate: %ld families (%llu individuals), %ld unrelated, %zu SNPs "
                 "(%zu monomorphic, %d causal); family.ped %.1f MB, unrelated.ped %.1f MB; %.1f s\n",
                 o_.families, familyIndividuals_, o_.unrelated, m_, monomorphic_, static_cast<int>(causal_.size()),
                 famBytes_ / 1e6, unrBytes_ / 1e6, seconds);
  }

 private:
  double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }

  double gammaDraw(double shape) { return std::gamma_distribution<double>(shape, 1.0)(rng_); }

  double betaDraw(double a, double b) {
    double x = gammaDraw(a), y = gammaDraw(b);
    return x + y > 0 ? x / (x + y) : 0.5;
  }

  static uint32_t toThreshold(double p) {
    double t = std::floor(p * 4294967296.0);
    if (t < 0) t = 0;
    if (t > 4294967295.0) t = 4294967295.0;
    return static_cast<uint32_t>(t);
  }

  void makeSnps() {
    static const char kLetters[4] = {'A', 'C', 'G', 'T'};
    snps_.resize(m_);
    // A few monomorphic SNPs: about one in 2,000, at least 3 (when there is room).
    size_t nMono = std::min(m_ / 4, std::max<size_t>(3, m_ / 2000));
    std::vector<uint8_t> mono(m_, 0);
    for (size_t k = 0; k < nMono; ++k) mono[static_cast<size_t>(uniform() * m_) % m_] = 1;
    const double scale = (1.0 - kFst) / kFst;
    for (size_t j = 0; j < m_; ++j) {
      Snp& s = snps_[j];
      int a = static_cast<int>(uniform() * 4) & 3;
      int b = (a + 1 + (static_cast<int>(uniform() * 3) % 3)) & 3;
      char c[2] = {kLetters[a], kLetters[b]};
      for (int h = 0; h < 4; ++h) {
        s.text[h][0] = ' ';
        s.text[h][1] = c[h >> 1];
        s.text[h][2] = ' ';
        s.text[h][3] = c[h & 1];
      }
      if (mono[j]) {
        ++monomorphic_;
        for (int p = 0; p < kPops; ++p) s.freq[p] = 0.0;
      } else {
        double anc = 0.05 + 0.9 * uniform();
        for (int p = 0; p < kPops; ++p) {
          double f = betaDraw(anc * scale, (1.0 - anc) * scale);
          s.freq[p] = std::min(0.99, std::max(0.01, f));
        }
      }
      for (int p = 0; p < kPops; ++p) s.threshold[p] = toThreshold(s.freq[p]);
    }
    // Causal SNPs: distinct, polymorphic, with effects of either sign.
    while (causal_.size() < static_cast<size_t>(o_.causal) && causal_.size() < m_ - nMono) {
      size_t j = static_cast<size_t>(uniform() * m_) % m_;
      if (mono[j] || std::find(causal_.begin(), causal_.end(), j) != causal_.end()) continue;
      causal_.push_back(j);
      double effect = (0.25 + 0.35 * uniform()) * o_.effectScale;
      effects_.push_back(uniform() < 0.5 ? -effect : effect);
      double mean = 0;
      for (int p = 0; p < kPops; ++p) mean += kPopShare[p] * snps_[j].freq[p];
      causalMean_.push_back(2.0 * mean);
    }
  }

  void writeMap(const std::string& path) {
    Writer w(path);
    auto& b = w.buffer();
    // 22 chromosomes of equal SNP counts, positions increasing within each.
    size_t perChr = (m_ + 21) / 22;
    unsigned long long pos = 0;
    std::mt19937_64 posRng(o_.seed ^ 0x9e3779b97f4a7c15ULL);
    for (size_t j = 0; j < m_; ++j) {
      size_t chr = 1 + j / perChr;
      if (j % perChr == 0) pos = 10000;
      pos += 1000 + posRng() % 9000;
      appendNumber(b, chr);
      append(b, " rs", 3);
      appendNumber(b, j + 1);
      append(b, " 0 ", 3);
      appendNumber(b, pos);
      b.push_back('\n');
    }
    w.close();
  }

  void writeCausal(const std::string& path) {
    Writer w(path);
    auto& b = w.buffer();
    for (size_t k = 0; k < causal_.size(); ++k) {
      char line[96];
      int n = std::snprintf(line, sizeof line, "rs%zu\t%.4f\n", causal_[k] + 1, effects_[k]);
      b.insert(b.end(), line, line + n);
    }
    w.close();
  }

  int drawPop() {
    double u = uniform(), acc = 0;
    for (int p = 0; p < kPops - 1; ++p) {
      acc += kPopShare[p];
      if (u < acc) return p;
    }
    return kPops - 1;
  }

  int drawChildren() {
    // 1 to 4 children, smaller sibships more common (mean about 1.8).
    double u = uniform();
    return u < 0.5 ? 1 : u < 0.8 ? 2 : u < 0.92 ? 3 : 4;
  }

  void drawFounder(Genome& g, int pop) {
    for (size_t j = 0; j < m_; ++j) {
      uint64_t r = rng_();
      uint32_t t = snps_[j].threshold[pop];
      g.h1[j] = static_cast<uint32_t>(r) < t;
      g.h2[j] = static_cast<uint32_t>(r >> 32) < t;
    }
  }

  void drawChild(Genome& c, const Genome& father, const Genome& mother) {
    uint64_t bits = 0;
    for (size_t j = 0; j < m_; ++j) {
      if ((j & 31) == 0) bits = rng_();
      c.h1[j] = (bits & 1) ? father.h2[j] : father.h1[j];
      c.h2[j] = (bits & 2) ? mother.h2[j] : mother.h1[j];
      bits >>= 2;
    }
  }

  // Trait text: "2" affected, "1" unaffected, "0" missing.
  char drawTrait(const Genome& g, int pop) {
    double liability = kIntercept + kPopShift[pop];
    for (size_t k = 0; k < causal_.size(); ++k) {
      size_t j = causal_[k];
      liability += effects_[k] * (g.h1[j] + g.h2[j] - causalMean_[k]);
    }
    double pAffected = 1.0 / (1.0 + std::exp(-liability));
    bool affected = uniform() < pAffected;
    if (uniform() < kMissingTrait) return '0';
    return affected ? '2' : '1';
  }

  // Gap to the next missing genotype (geometric, mean 1 / the missing rate).
  size_t missingGap() { return static_cast<size_t>(gap_(rng_)); }

  void writeLine(Writer& w, unsigned long long fam, unsigned long long ind, unsigned long long father,
                 unsigned long long mother, int sex, char trait, const Genome& g) {
    auto& b = w.buffer();
    appendNumber(b, fam);
    b.push_back(' ');
    appendNumber(b, ind);
    b.push_back(' ');
    appendNumber(b, father);
    b.push_back(' ');
    appendNumber(b, mother);
    b.push_back(' ');
    b.push_back(static_cast<char>('0' + sex));
    b.push_back(' ');
    b.push_back(trait);
    size_t start = b.size();
    b.resize(start + 4 * m_ + 1);
    char* out = b.data() + start;
    size_t nextMissing = missingGap();
    for (size_t j = 0; j < m_; ++j, out += 4) {
      if (j == nextMissing) {
        std::memcpy(out, " 0 0", 4);
        nextMissing = j + 1 + missingGap();
      } else {
        std::memcpy(out, snps_[j].text[g.h1[j] * 2 + g.h2[j]], 4);
      }
    }
    *out = '\n';
    w.maybeFlush();
  }

  void writeKeep(Writer& keep, unsigned long long fam, unsigned long long ind) {
    auto& b = keep.buffer();
    appendNumber(b, fam);
    b.push_back(' ');
    appendNumber(b, ind);
    b.push_back('\n');
  }

  void writeFamilies(Writer& w, Writer& keep) {
    Genome father(m_), mother(m_), child(m_);
    for (long f = 0; f < o_.families; ++f) {
      unsigned long long famId = static_cast<unsigned long long>(f) + 1;
      int pop = drawPop();
      int children = drawChildren();
      bool sibship = uniform() < kSibshipShare;
      drawFounder(father, pop);
      drawFounder(mother, pop);
      unsigned long long fatherId = ++nextId_, motherId = ++nextId_;
      if (!sibship) {
        writeLine(w, famId, fatherId, 0, 0, 1, drawTrait(father, pop), father);
        writeLine(w, famId, motherId, 0, 0, 2, drawTrait(mother, pop), mother);
        writeKeep(keep, famId, fatherId);
        writeKeep(keep, famId, motherId);
        familyIndividuals_ += 2;
      }
      for (int c = 0; c < children; ++c) {
        drawChild(child, father, mother);
        unsigned long long id = ++nextId_;
        int sex = uniform() < 0.5 ? 1 : 2;
        writeLine(w, famId, id, fatherId, motherId, sex, drawTrait(child, pop), child);
        if (sibship && c == 0) writeKeep(keep, famId, id);
        ++familyIndividuals_;
      }
    }
  }

  void writeUnrelated(Writer& w, Writer& keep) {
    Genome g(m_);
    // Family IDs of the unrelated set follow those of the family set.
    unsigned long long famId = static_cast<unsigned long long>(o_.families);
    for (long i = 0; i < o_.unrelated; ++i) {
      int pop = drawPop();
      drawFounder(g, pop);
      unsigned long long fid = ++famId, id = ++nextId_;
      int sex = uniform() < 0.5 ? 1 : 2;
      writeLine(w, fid, id, 0, 0, sex, drawTrait(g, pop), g);
      writeKeep(keep, fid, id);
    }
  }

  Options o_;
  std::mt19937_64 rng_;
  std::geometric_distribution<long> gap_{o_.missingRate};
  size_t m_;
  std::vector<Snp> snps_;
  std::vector<size_t> causal_;
  std::vector<double> effects_, causalMean_;
  size_t monomorphic_ = 0;
  unsigned long long nextId_ = 0;
  unsigned long long familyIndividuals_ = 0;
  unsigned long long famBytes_ = 0, unrBytes_ = 0;
};

// mkdir -p.
bool makeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    std::string part = path.substr(0, i);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parseOptions(argc, argv);
  if (!makeDirs(o.out)) {
    std::fprintf(stderr, "simulate: cannot create %s: %s\n", o.out.c_str(), std::strerror(errno));
    return 1;
  }
  auto t0 = std::chrono::steady_clock::now();
  Simulator sim(o);
  sim.run();
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  sim.report(s);
  return 0;
}
