// The association statistics of a whole run, checked against a computation
// written separately here: a generated family set and unrelated set (missing
// traits, missing genotypes, a family without any trait, unrelated individuals
// sharing family IDs, a monomorphic SNP) go through the built program, and
// every number of its result file is recomputed from the input files and the
// saved component scores. The regression is solved through the normal
// equations with a Cholesky factor instead of the program's pseudo-inverse.
// Both adjustments are checked: a constant beside the scores with missing
// genotypes at the mean dosage (the default), and the scores alone with the
// allele2 frequency as fill (--adjustment legacy).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

constexpr int kSnps = 40;
constexpr int kMonomorphicSnp = 7;     // every genotype the same homozygote (or missing)
constexpr int kAssociatedSnp = 12;     // shifts the trait
constexpr int kFamilyFixedSnp = 21;    // family set homozygous, second allele only in the unrelated set

// ---------------------------------------------------------------------------
// Data generation

struct Person {
  std::string famId, indId, father, mother, sex, trait;
  int group = 0;
  std::vector<std::string> alleles;  // 2 per SNP
};

struct DataSet {
  std::vector<Person> family;
  std::vector<Person> unrelated;
  std::vector<std::string> snpNames;
};

std::string formatTrait(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return buffer;
}

DataSet generate(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  const char letters[] = "ACGT";

  DataSet data;
  std::vector<char> firstLetter(kSnps), secondLetter(kSnps);
  std::vector<double> freq0(kSnps), freq1(kSnps);
  for (int s = 0; s < kSnps; ++s) {
    data.snpNames.push_back("snp" + std::to_string(s + 1));
    const int a = static_cast<int>(rng() % 4);
    int b = static_cast<int>(rng() % 3);
    if (b >= a) ++b;
    firstLetter[s] = letters[a];
    secondLetter[s] = letters[b];
    freq0[s] = 0.1 + 0.8 * unit(rng);
    double shifted = freq0[s] + (unit(rng) < 0.5 ? -0.35 : 0.35);
    if (shifted < 0.05) shifted = 0.05;
    if (shifted > 0.95) shifted = 0.95;
    freq1[s] = shifted;
  }

  auto fillGenotypes = [&](Person& person, bool fromFamilySet) {
    person.alleles.clear();
    for (int s = 0; s < kSnps; ++s) {
      std::string a1, a2;
      if (unit(rng) < 0.05) {
        a1 = a2 = "0";
      } else if (s == kMonomorphicSnp || (s == kFamilyFixedSnp && fromFamilySet)) {
        a1 = a2 = std::string(1, firstLetter[s]);
      } else {
        const double p = person.group == 0 ? freq0[s] : freq1[s];
        const bool x = unit(rng) < p;
        const bool y = unit(rng) < p;
        a1 = std::string(1, x ? secondLetter[s] : firstLetter[s]);
        a2 = std::string(1, y ? secondLetter[s] : firstLetter[s]);
      }
      person.alleles.push_back(a1);
      person.alleles.push_back(a2);
    }
  };

  auto assignTrait = [&](Person& person, bool forceMissing) {
    if (forceMissing || unit(rng) < 0.15) {
      person.trait = "0";
      return;
    }
    double dose = 0;
    const std::string& x = person.alleles[2 * kAssociatedSnp];
    const std::string& y = person.alleles[2 * kAssociatedSnp + 1];
    dose += x == std::string(1, secondLetter[kAssociatedSnp]) ? 1 : 0;
    dose += y == std::string(1, secondLetter[kAssociatedSnp]) ? 1 : 0;
    person.trait = formatTrait(1.5 + 1.2 * person.group + 0.6 * dose + noise(rng));
  };

  // Family set: twelve pedigrees. Pedigrees 3 and 9 are sibships whose
  // parents are absent (IDs 901, 902 and 903 name nobody in the file);
  // pedigree 7 has no member with a trait.
  for (int k = 1; k <= 12; ++k) {
    const std::string famId = "F" + std::to_string(k);
    const int group = static_cast<int>(rng() % 2);
    const bool noTraits = k == 7;
    std::vector<Person> members;
    if (k == 3 || k == 9) {
      const int children = 2 + static_cast<int>(rng() % 2);
      for (int c = 0; c < children; ++c) {
        Person p{famId, std::to_string(11 + c), "901", c == children - 1 && k == 9 ? "903" : "902",
                 std::to_string(1 + c % 2), "", group, {}};
        members.push_back(p);
      }
    } else {
      members.push_back(Person{famId, "1", "0", "0", "1", "", group, {}});
      members.push_back(Person{famId, "2", "0", "0", "2", "", group, {}});
      const int children = 1 + static_cast<int>(rng() % 3);
      for (int c = 0; c < children; ++c)
        members.push_back(Person{famId, std::to_string(3 + c), "1", "2", std::to_string(1 + c % 2), "", group, {}});
    }
    for (Person& p : members) {
      fillGenotypes(p, true);
      assignTrait(p, noTraits);
    }
    for (Person& p : members) data.family.push_back(p);
  }
  // One member with a trait that reads as the number zero but is not the
  // missing code, and one family ID whose lines are not adjacent.
  data.family[1].trait = "0.0";
  {
    Person moved = data.family[4];  // a member of an early pedigree
    data.family.erase(data.family.begin() + 4);
    data.family.insert(data.family.begin() + 20, moved);
  }

  // Unrelated set: 30 individuals in 20 family IDs; the last ten reuse IDs.
  for (int u = 1; u <= 30; ++u) {
    const int id = u <= 20 ? u : 1 + static_cast<int>(rng() % 20);
    Person p{"U" + std::to_string(id), "u" + std::to_string(u), "0", "0", std::to_string(1 + u % 2), "",
             static_cast<int>(rng() % 2), {}};
    fillGenotypes(p, false);
    assignTrait(p, false);
    data.unrelated.push_back(p);
  }
  return data;
}

std::string pedText(const std::vector<Person>& people) {
  std::string text;
  for (const Person& p : people) {
    text += p.famId + " " + p.indId + " " + p.father + " " + p.mother + " " + p.sex + " " + p.trait;
    for (size_t a = 0; a < p.alleles.size(); a += 2) text += "  " + p.alleles[a] + " " + p.alleles[a + 1];
    text += "\n";
  }
  return text;
}

std::string mapText(const std::vector<std::string>& names) {
  std::string text;
  for (size_t s = 0; s < names.size(); ++s)
    text += "1\t" + names[s] + "\t0\t" + std::to_string(1000 * (s + 1)) + "\n";
  return text;
}

// ---------------------------------------------------------------------------
// Independent computation

struct Expected {
  std::string name, allele1, allele2;
  double freq1 = 0, freq2 = 0;
  bool monomorphic = false;
  double stat[3] = {0, 0, 0};
  double pvalue[3] = {1, 1, 1};
};

std::vector<std::string> splitBlank(const std::string& line) {
  std::vector<std::string> fields;
  std::string current;
  for (char c : line) {
    if (c == '\t' || c == ' ') {
      if (!current.empty()) fields.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) fields.push_back(current);
  return fields;
}

// Scores by "famId<TAB>indId" from a saved component file.
std::map<std::string, std::vector<double>> readScores(const std::string& text, int count) {
  std::map<std::string, std::vector<double>> scores;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = splitBlank(line);
    if (f.empty()) continue;
    if (static_cast<int>(f.size()) < 4 + count) {
      ADD_FAILURE() << "short component line: " << line;
      continue;
    }
    std::vector<double> values;
    for (int k = 0; k < count; ++k) values.push_back(std::strtod(f[4 + k].c_str(), nullptr));
    scores[f[0] + "\t" + f[1]] = values;
  }
  return scores;
}

// Least-squares residuals of `v` on the columns of `x` (an intercept only
// when `x` holds a constant column), through the normal equations and a
// Cholesky factor.
void residualise(const std::vector<std::vector<double>>& x, std::vector<double>& v) {
  const size_t n = x.size();
  if (n == 0) return;
  const size_t p = x[0].size();
  if (p == 0) return;
  std::vector<std::vector<long double>> a(p, std::vector<long double>(p, 0));
  std::vector<long double> b(p, 0);
  for (size_t i = 0; i < n; ++i)
    for (size_t r = 0; r < p; ++r) {
      b[r] += static_cast<long double>(x[i][r]) * v[i];
      for (size_t c = 0; c < p; ++c) a[r][c] += static_cast<long double>(x[i][r]) * x[i][c];
    }
  // a = L L'
  std::vector<std::vector<long double>> l(p, std::vector<long double>(p, 0));
  for (size_t j = 0; j < p; ++j) {
    long double d = a[j][j];
    for (size_t k = 0; k < j; ++k) d -= l[j][k] * l[j][k];
    ASSERT_GT(d, 0) << "score matrix not of full rank";
    l[j][j] = std::sqrt(d);
    for (size_t i = j + 1; i < p; ++i) {
      long double s = a[i][j];
      for (size_t k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
      l[i][j] = s / l[j][j];
    }
  }
  std::vector<long double> z(p), beta(p);
  for (size_t i = 0; i < p; ++i) {
    long double s = b[i];
    for (size_t k = 0; k < i; ++k) s -= l[i][k] * z[k];
    z[i] = s / l[i][i];
  }
  for (size_t i = p; i-- > 0;) {
    long double s = z[i];
    for (size_t k = i + 1; k < p; ++k) s -= l[k][i] * beta[k];
    beta[i] = s / l[i][i];
  }
  for (size_t i = 0; i < n; ++i) {
    long double fit = 0;
    for (size_t c = 0; c < p; ++c) fit += beta[c] * x[i][c];
    v[i] = static_cast<double>(v[i] - fit);
  }
}

double sampleVariance(const std::vector<double>& s) {
  if (s.empty()) return 0;
  double mean = 0;
  for (double x : s) mean += x;
  mean /= s.size();
  double sum = 0;
  for (double x : s) sum += (x - mean) * (x - mean);
  return sum / (static_cast<double>(s.size()) - 1);
}

double upperTail(double t) { return std::erfc(std::sqrt(t / 2)); }

std::vector<Expected> computeExpected(const DataSet& data, const std::map<std::string, std::vector<double>>& scores,
                                      int count, bool intercept) {
  // Reading order of the genotype lines: family file, then unrelated file.
  std::vector<const Person*> reading;
  for (const Person& p : data.family) reading.push_back(&p);
  for (const Person& p : data.unrelated) reading.push_back(&p);
  const double coded = static_cast<double>(reading.size());

  // Analysis entries: family pedigrees by first appearance of the ID with
  // members in file order, then every unrelated individual on its own.
  struct Entry {
    const Person* person;
    int pedigree;  // family pedigree number, -1 for an unrelated individual
  };
  std::vector<std::string> familyIds;
  for (const Person& p : data.family) {
    bool seen = false;
    for (const std::string& id : familyIds) seen = seen || id == p.famId;
    if (!seen) familyIds.push_back(p.famId);
  }
  std::vector<Entry> entries;
  for (size_t k = 0; k < familyIds.size(); ++k)
    for (const Person& p : data.family)
      if (p.famId == familyIds[k]) entries.push_back({&p, static_cast<int>(k)});
  std::vector<std::string> unrelatedIds;
  for (const Person& p : data.unrelated) {
    bool seen = false;
    for (const std::string& id : unrelatedIds) seen = seen || id == p.famId;
    if (!seen) unrelatedIds.push_back(p.famId);
  }
  for (const std::string& id : unrelatedIds)
    for (const Person& p : data.unrelated)
      if (p.famId == id) entries.push_back({&p, -1});

  // The adjusted set: entries with a trait.
  std::vector<Entry> used;
  for (const Entry& e : entries)
    if (e.person->trait != "0") used.push_back(e);
  const size_t n = used.size();
  const int familyCount = static_cast<int>(familyIds.size());

  std::vector<std::vector<double>> x;
  for (const Entry& e : used) {
    std::vector<double> row;
    if (intercept) row.push_back(1.0);
    if (count > 0) {
      auto it = scores.find(e.person->famId + "\t" + e.person->indId);
      if (it == scores.end()) {
        ADD_FAILURE() << "no scores for " << e.person->famId << " " << e.person->indId;
        row.resize(row.size() + static_cast<size_t>(count), 0.0);
      } else {
        row.insert(row.end(), it->second.begin(), it->second.end());
      }
    }
    x.push_back(row);
  }

  std::vector<double> y;
  for (const Entry& e : used) y.push_back(std::strtod(e.person->trait.c_str(), nullptr));
  residualise(x, y);

  std::vector<Expected> result;
  for (int s = 0; s < kSnps; ++s) {
    Expected ex;
    ex.name = data.snpNames[s];
    // Allele discovery and codes in reading order.
    std::map<const Person*, int> code;
    double allele2Count = 0;
    double called = 0;
    for (const Person* p : reading) {
      const std::string& a = p->alleles[2 * s];
      const std::string& b = p->alleles[2 * s + 1];
      if (a == "0" && b == "0") {
        code[p] = 3;
        continue;
      }
      int c = 0;
      for (const std::string* allele : {&a, &b}) {
        if (*allele == ex.allele1) {
        } else if (*allele == ex.allele2) {
          ++c;
        } else if (ex.allele1.empty()) {
          ex.allele1 = *allele;
        } else if (ex.allele2.empty()) {
          ex.allele2 = *allele;
          ++c;
        } else {
          ADD_FAILURE() << "third allele in generated data";
        }
      }
      code[p] = c;
      allele2Count += c;
      ++called;
    }
    const double missing = intercept ? (called > 0 ? allele2Count / called : 0) : allele2Count / (2 * coded);

    std::vector<double> g;
    double sum = 0;
    for (const Entry& e : used) {
      const int c = code[e.person];
      const double value = c == 3 ? missing : c;
      g.push_back(value);
      sum += value;
    }
    const double f = sum / (2.0 * n);
    ex.freq2 = f;
    ex.freq1 = 1 - f;
    if (static_cast<int>(f) == 1 || static_cast<int>(1 - f) == 1) {
      ex.monomorphic = true;
      result.push_back(ex);
      continue;
    }
    residualise(x, g);

    // calculate_T and calculate_T1
    double ybar = 0, gbar = 0;
    for (size_t i = 0; i < n; ++i) {
      ybar += y[i];
      gbar += g[i];
    }
    ybar /= n;
    gbar /= n;
    std::vector<double> familyMean, familySum, unrelatedScores;
    for (int k = 0; k < familyCount; ++k) {
      double total = 0;
      int members = 0;
      for (size_t i = 0; i < n; ++i)
        if (used[i].pedigree == k) {
          total += (y[i] - ybar) * (g[i] - gbar);
          ++members;
        }
      if (members > 0) {
        familyMean.push_back(total / members);
        familySum.push_back(total);
      }
    }
    for (size_t i = 0; i < n; ++i)
      if (used[i].pedigree < 0) unrelatedScores.push_back((y[i] - ybar) * (g[i] - gbar));
    auto scoreTest = [&](const std::vector<double>& fam) {
      double total = 0;
      for (double v : fam) total += v;
      for (double v : unrelatedScores) total += v;
      const double denominator = static_cast<double>(fam.size()) * sampleVariance(fam) +
                                 static_cast<double>(unrelatedScores.size()) * sampleVariance(unrelatedScores);
      return total * total / denominator;
    };
    ex.stat[1] = scoreTest(familyMean);
    ex.stat[2] = scoreTest(familySum);

    // cal_ss
    double yu = 0, gu = 0, yf = 0, gf = 0;
    int nu = 0, nm = 0;
    for (size_t i = 0; i < n; ++i) {
      if (used[i].pedigree < 0) {
        yu += y[i];
        gu += g[i];
        ++nu;
      } else {
        yf += y[i];
        gf += g[i];
        ++nm;
      }
    }
    if (nu > 0) {
      yu /= nu;
      gu /= nu;
    }
    if (nm > 0) {
      yf /= nm;
      gf /= nm;
    }
    double cu = 0, syy = 0, sgg = 0;
    for (size_t i = 0; i < n; ++i)
      if (used[i].pedigree < 0) {
        cu += (y[i] - yu) * (g[i] - gu);
        syy += (y[i] - yu) * (y[i] - yu);
        sgg += (g[i] - gu) * (g[i] - gu);
      }
    std::vector<double> ck;
    for (int k = 0; k < familyCount; ++k) {
      double total = 0;
      int members = 0;
      for (size_t i = 0; i < n; ++i)
        if (used[i].pedigree == k) {
          total += (y[i] - yf) * (g[i] - gf);
          ++members;
        }
      if (members > 0) ck.push_back(total);
    }
    double c = cu, ckTotal = 0;
    for (double v : ck) {
      c += v;
      ckTotal += v;
    }
    const double cbar = familyCount > 0 ? ckTotal / familyCount : 0;
    double d = 0;
    for (double v : ck) d += (v - cbar) * (v - cbar);
    double denominator;
    if (nu > 0 && !ck.empty())
      denominator = syy * sgg / nu + d;
    else if (nu > 0)
      denominator = syy * sgg / nu;
    else
      denominator = d;
    ex.stat[0] = c * c / denominator;
    for (int t = 0; t < 3; ++t) ex.pvalue[t] = upperTail(ex.stat[t]);
    result.push_back(ex);
  }
  return result;
}

// ---------------------------------------------------------------------------
// Result file

struct Line {
  std::string name, allele1, allele2;
  std::vector<double> numbers;  // freq1, freq2, then statistic and p-value three times
  std::string text;
};

std::string trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::vector<Line> parseResult(const std::string& text) {
  std::vector<Line> lines;
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    Line line;
    line.text = raw;
    if (raw.size() < 30) {
      ADD_FAILURE() << "short result line: " << raw;
      continue;
    }
    // Names and alleles here are shorter than their fields.
    line.name = trimmed(raw.substr(0, 20));
    line.allele1 = trimmed(raw.substr(20, 5));
    line.allele2 = trimmed(raw.substr(25, 5));
    for (const std::string& field : splitBlank(raw.substr(30))) {
      char* end = nullptr;
      const double value = std::strtod(field.c_str(), &end);
      if (*end != '\0') ADD_FAILURE() << "not a number: '" << field << "' in " << raw;
      line.numbers.push_back(value);
    }
    lines.push_back(line);
  }
  return lines;
}

::testing::AssertionResult near(double got, double want, double relative, double absolute) {
  if (std::isnan(got) || std::isnan(want)) {
    if (std::isnan(got) && std::isnan(want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", expected " << want;
  }
  if (std::fabs(got - want) <= relative * std::fabs(want) + absolute) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got << ", expected " << want << " (difference "
                                       << got - want << ")";
}

void compareResult(const std::string& resultText, const std::vector<Expected>& expected) {
  const std::vector<Line> lines = parseResult(resultText);
  ASSERT_EQ(lines.size(), expected.size());
  const char* labels[] = {"cal_ss", "T", "T1"};
  int tested = 0;
  for (size_t s = 0; s < lines.size(); ++s) {
    const Line& got = lines[s];
    const Expected& want = expected[s];
    SCOPED_TRACE(got.text);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.allele1, want.allele1);
    EXPECT_EQ(got.allele2, want.allele2);
    ASSERT_EQ(got.numbers.size(), 8u);
    EXPECT_TRUE(near(got.numbers[0], want.freq1, 2e-6, 1e-12)) << "allele1 frequency";
    EXPECT_TRUE(near(got.numbers[1], want.freq2, 2e-6, 1e-12)) << "allele2 frequency";
    if (want.monomorphic) {
      EXPECT_NE(got.text.find("              0        1.000000e+00              0        1.000000e+00"
                              "              0        1.000000e+00"),
                std::string::npos);
      continue;
    }
    ++tested;
    for (int t = 0; t < 3; ++t) {
      EXPECT_TRUE(near(got.numbers[2 + 2 * t], want.stat[t], 1e-5, 1.5e-6)) << labels[t] << " statistic";
      EXPECT_TRUE(near(got.numbers[3 + 2 * t], want.pvalue[t], 1e-4, 1e-7)) << labels[t] << " p-value";
    }
  }
  // The generated data must exercise the statistics, not only the fixed lines.
  EXPECT_GE(tested, kSnps - 2);
  EXPECT_TRUE(expected[kMonomorphicSnp].monomorphic);
}

DataSet writeData(const TempDir& dir, unsigned seed) {
  DataSet data = generate(seed);
  dir.write("fam.ped", pedText(data.family));
  dir.write("fam.map", mapText(data.snpNames));
  dir.write("unr.ped", pedText(data.unrelated));
  dir.write("unr.map", mapText(data.snpNames));
  return data;
}

TEST(IndependentCheck, ThreeSavedComponentsMissingTraitsSharedUnrelatedIds) {
  for (const char* adjustment : {"intercept", "legacy"})
  for (unsigned seed : {20240501u, 7u}) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", adjustment " + adjustment);
    TempDir dir;
    const DataSet data = writeData(dir, seed);
    const bool intercept = std::string(adjustment) == "intercept";

    const RunResult save = runOmbra(
        dir.path(), {"--f", "fam", "--i", "unr", "--p", "3", "--op", "pca.txt", "--adjustment", adjustment});
    ASSERT_EQ(save.status, 0) << save.out;
    ASSERT_TRUE(dir.exists("pca.txt"));
    const std::string pcaText = dir.read("pca.txt");
    // One line of seven fields per individual of both sets.
    {
      std::istringstream in(pcaText);
      std::string line;
      size_t count = 0;
      while (std::getline(in, line)) {
        EXPECT_EQ(splitBlank(line).size(), 7u) << line;
        ++count;
      }
      EXPECT_EQ(count, data.family.size() + data.unrelated.size());
    }

    const RunResult run = runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "3", "--rp", "pca.txt", "--out",
                                                "res.txt", "--adjustment", adjustment});
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(dir.exists("res.txt"));

    const auto scores = readScores(pcaText, 3);
    EXPECT_EQ(scores.size(), data.family.size() + data.unrelated.size());
    compareResult(dir.read("res.txt"), computeExpected(data, scores, 3, intercept));
  }
}

TEST(IndependentCheck, NoComponentsUsesRawOrCentredValues) {
  TempDir dir;
  const DataSet data = writeData(dir, 99u);
  RunResult run = runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "0", "--out", "legacy.txt",
                                        "--adjustment", "legacy"});
  ASSERT_EQ(run.status, 0) << run.out;
  compareResult(dir.read("legacy.txt"), computeExpected(data, {}, 0, false));
  run = runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "0", "--out", "res.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(dir.exists("res.txt"));
  compareResult(dir.read("res.txt"), computeExpected(data, {}, 0, true));

  // The same through a saved and reloaded file of zero components.
  const RunResult save = runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "0", "--op", "pca.txt"});
  ASSERT_EQ(save.status, 0) << save.out;
  const RunResult reload =
      runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "0", "--rp", "pca.txt", "--out", "res2.txt"});
  ASSERT_EQ(reload.status, 0) << reload.out;
  EXPECT_EQ(dir.read("res2.txt"), dir.read("res.txt"));
}

}  // namespace
