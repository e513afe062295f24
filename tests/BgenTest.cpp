// The BGEN reader and its genotype source: dosages of every layout, width,
// compression and phase decoded against the integers written; the samples
// named by the identifier block or the .sample file; regions through a
// bgenix index; every defect stopping the run; and PLINK 2's own BGEN
// export read back against the PLINK fileset it came from.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "BgenWriter.h"
#include "TestSupport.h"
#include "design/Selections.h"
#include "formats/BgenFile.h"
#include "formats/BgenSource.h"
#include "formats/OxfordSample.h"
#include "formats/PlinkBed.h"

using testing_support::TempDir;

namespace {

namespace bw = bgen_writer;

// The exact dosage of a written sample, in 1/16384 units; -1 when missing.
double exactDosage(const bw::Options& o, const bw::Variant& v, const bw::Sample& s) {
  if (o.layout == 1) {
    const double sum = s.values[0] + s.values[1] + s.values[2];
    return sum == 0 ? -1 : (s.values[1] + 2.0 * s.values[2]) / 32768 * 16384;
  }
  if (s.missing || s.ploidy == 0) return -1;
  const double max = std::ldexp(1.0, o.bits) - 1;
  double second = 0;
  if (v.phased) {
    for (uint32_t value : s.values) second += max - value;
    if (s.ploidy == 1) second *= 2;
  } else if (s.ploidy == 2) {
    second = s.values[1] + 2 * (max - s.values[0] - s.values[1]);
  } else {
    second = 2 * (max - s.values[0]);
  }
  return second / max * 16384;
}

// Samples of every kind: random probabilities, the three sure genotypes
// (exact dosages 0, 1, 2), a haploid one and a missing one.
std::vector<bw::Sample> samplesFor(const bw::Options& o, bool phased, std::mt19937& random) {
  std::vector<bw::Sample> samples;
  if (o.layout == 1) {
    std::uniform_int_distribution<uint32_t> part(0, 32768);
    for (uint32_t i = 0; i + 4 < o.samples; ++i) {
      const uint32_t a = part(random), b = part(random) % (32769 - a);
      samples.push_back({2, false, {a, b, 32768 - a - b}});
    }
    samples.push_back({2, false, {32768, 0, 0}});
    samples.push_back({2, false, {0, 32768, 0}});
    samples.push_back({2, false, {0, 0, 32768}});
    samples.push_back({2, false, {0, 0, 0}});
    return samples;
  }
  const uint32_t max = static_cast<uint32_t>((uint64_t{1} << o.bits) - 1);
  std::uniform_int_distribution<uint32_t> value(0, max);
  for (uint32_t i = 0; i + 5 < o.samples; ++i) {
    const uint32_t a = value(random);
    samples.push_back({2, false, {a, phased ? value(random) : value(random) % (max - a + 1)}});
  }
  // Sure genotypes: hom allele1, het, hom allele2.
  samples.push_back({2, false, phased ? std::vector<uint32_t>{max, max} : std::vector<uint32_t>{max, 0}});
  samples.push_back({2, false, phased ? std::vector<uint32_t>{max, 0} : std::vector<uint32_t>{0, max}});
  samples.push_back({2, false, {0, 0}});
  samples.push_back({1, false, {value(random)}});
  samples.push_back({2, true, {0, 0}});
  return samples;
}

// Every decoded dosage is the written one to within half a unit, and exact
// where the written one is a whole number of units.
void expectDosages(const bw::Options& o, const bw::Variant& v, const std::vector<uint16_t>& got, const std::string& label) {
  ASSERT_EQ(got.size(), v.samples.size());
  for (size_t i = 0; i < got.size(); ++i) {
    const double expected = exactDosage(o, v, v.samples[i]);
    if (expected < 0) {
      EXPECT_EQ(got[i], kMissingDosage) << label << " sample " << i;
    } else if (expected == std::floor(expected)) {
      EXPECT_EQ(got[i], expected) << label << " sample " << i;
    } else {
      EXPECT_LE(std::fabs(got[i] - expected), 0.5) << label << " sample " << i;
    }
  }
}

std::vector<uint16_t> dosagesOf(ombra::BgenFile& file, size_t index) {
  std::vector<uint16_t> out(file.sampleCount());
  file.readDosages(index, out.data());
  return out;
}

TEST(BgenFile, DosagesOfEveryLayoutWidthCompressionAndPhase) {
  TempDir dir;
  std::mt19937 random(7);
  struct Form {
    int layout, compression, bits;
    bool ids, zeroMagic;
  };
  std::vector<Form> forms = {{1, 0, 16, true, true}, {1, 1, 16, false, false}};
  for (int compression : {0, 1, 2}) {
    for (int bits : {1, 3, 8, 16, 32}) forms.push_back({2, compression, bits, compression != 1, false});
  }
  for (const Form& form : forms) {
    bw::Options o;
    o.layout = form.layout;
    o.compression = form.compression;
    o.bits = form.bits;
    o.zeroMagic = form.zeroMagic;
    o.samples = 23;
    if (form.ids) {
      for (uint32_t i = 0; i < o.samples; ++i) o.ids.push_back("s" + std::to_string(i));
    }
    std::vector<bw::Variant> variants;
    for (int phased = 0; phased < (form.layout == 2 ? 2 : 1); ++phased) {
      bw::Variant v;
      v.rsid = "rs" + std::to_string(variants.size() + 1);
      v.position = 100 + static_cast<uint32_t>(variants.size());
      v.alleles = {"C", "TTA"};
      v.phased = phased != 0;
      v.samples = samplesFor(o, v.phased, random);
      variants.push_back(v);
    }
    // A record of three alleles between them is skipped.
    bw::Variant multi = variants[0];
    multi.alleles = {"A", "C", "G"};
    if (form.layout == 2) variants.insert(variants.begin() + 1, multi);
    const std::string label = "layout " + std::to_string(form.layout) + " compression " +
                              std::to_string(form.compression) + " bits " + std::to_string(form.bits);
    dir.write("f.bgen", bw::write(o, variants));
    ombra::BgenFile file(dir.file("f.bgen"));
    ASSERT_EQ(file.sampleCount(), o.samples) << label;
    EXPECT_EQ(file.sampleIds(), o.ids) << label;
    EXPECT_EQ(file.skippedRecords(), form.layout == 2 ? 1u : 0u) << label;
    std::vector<bw::Variant> kept = variants;
    if (form.layout == 2) kept.erase(kept.begin() + 1);
    ASSERT_EQ(file.variants().size(), kept.size()) << label;
    // Last first: each record is read at its own offset.
    for (size_t k = kept.size(); k-- > 0;) {
      EXPECT_EQ(file.variants()[k].rsid, kept[k].rsid) << label;
      EXPECT_EQ(file.variants()[k].allele1, "C") << label;
      EXPECT_EQ(file.variants()[k].allele2, "TTA") << label;
      expectDosages(o, kept[k], dosagesOf(file, k), label + " variant " + std::to_string(k));
    }
  }
}

// A .fam's individuals, and a source's codes and dosages of SNP j.
std::vector<ombra::SampleName> people(const std::vector<std::string>& ids) {
  std::vector<ombra::SampleName> out;
  for (const std::string& id : ids) out.push_back({"F", id});
  return out;
}
int codeAt(const unsigned char* column, size_t i) { return column[i / 4] >> (6 - 2 * (i % 4)) & 3; }

bw::Options fourSamples() {
  bw::Options o;
  o.samples = 4;
  o.ids = {"a", "b", "c", "d"};
  return o;
}
bw::Variant fourGenotypes(uint32_t position) {
  bw::Variant v;
  v.rsid = "rs" + std::to_string(position);
  v.position = position;
  // Dosages 0, 1, 2 and about 1.53 (values of 8 bits).
  v.samples = {{2, false, {255, 0}}, {2, false, {0, 255}}, {2, false, {0, 0}}, {2, false, {10, 100}}};
  return v;
}

TEST(BgenSource, SamplesInFamOrderCodesDosagesAndCounts) {
  TempDir dir;
  bw::Options o = fourSamples();
  std::vector<bw::Variant> variants = {fourGenotypes(10), fourGenotypes(20)};
  variants[1].samples[3].missing = true;
  dir.write("f.bgen", bw::write(o, variants));
  // The .fam orders them d, b, a and leaves c out; one is named FID_IID.
  std::vector<ombra::SampleName> fam = {{"F", "d"}, {"G", "b"}, {"X", "Y"}};
  o.ids[0] = "X_Y";
  dir.write("g.bgen", bw::write(o, variants));
  ombra::BgenSource source(dir.file("g.bgen"), "", fam, "set.fam");
  EXPECT_TRUE(source.hasDosages());
  EXPECT_EQ(source.sampleCount(), 3u);
  EXPECT_EQ(source.ignoredSamples(), 1u);
  ASSERT_EQ(source.markers().size(), 2u);
  EXPECT_EQ(source.markers()[1].snpId, "rs20");
  EXPECT_EQ(source.markers()[1].allele1, "A");
  EXPECT_EQ(source.markers()[1].allele2, "G");
  unsigned char codes[2] = {};
  uint16_t dosages[6] = {};
  source.readDosages(0, 2, codes, dosages);
  const double d = (100 + 2.0 * 145) / 255 * 16384;  // sample d of the first SNP
  EXPECT_EQ(dosages[0], static_cast<uint16_t>(std::lround(d)));
  EXPECT_EQ(dosages[1], 16384);
  EXPECT_EQ(dosages[2], 0);
  EXPECT_EQ(dosages[3], kMissingDosage);
  EXPECT_EQ((std::vector<int>{codeAt(codes, 0), codeAt(codes, 1), codeAt(codes, 2), codes[0] & 3}),
            (std::vector<int>{2, 1, 0, 0}));
  EXPECT_EQ(codeAt(codes + 1, 0), 3);
  EXPECT_DOUBLE_EQ(source.markers()[0].allele2Count, (dosages[0] + 16384) / 16384.0);
  EXPECT_DOUBLE_EQ(source.markers()[1].allele2Count, 1.0);
  // Codes alone, the second SNP first: the same codes.
  unsigned char again[2] = {};
  source.readSnps(1, 1, again + 1);
  source.readSnps(0, 1, again);
  EXPECT_EQ(again[0], codes[0]);
  EXPECT_EQ(again[1], codes[1]);

  // Without an identifier block the .sample file names them: by ID_2, or
  // by ID_1_ID_2.
  o.ids.clear();
  dir.write("h.bgen", bw::write(o, variants));
  dir.write("h.sample", "ID_1 ID_2 missing sex\n0 0 0 D\nX Y 0 1\nF b 0 1\nF c 0 2\nF d 0 1\n");
  EXPECT_EQ(ombra::readOxfordSample(dir.file("h.sample")).size(), 4u);
  ombra::BgenSource named(dir.file("h.bgen"), dir.file("h.sample"), {{"F", "d"}, {"G", "b"}, {"X", "Y"}}, "set.fam");
  unsigned char sameCodes[2] = {};
  uint16_t sameDosages[6] = {};
  named.readDosages(0, 2, sameCodes, sameDosages);
  EXPECT_EQ(std::vector<uint16_t>(sameDosages, sameDosages + 6), std::vector<uint16_t>(dosages, dosages + 6));
}

// Runs `step` and expects a stop (status 1) whose message holds `words`.
void expectStop(const std::function<void()>& step, const std::string& words) {
  const testing_support::StopShown stop = testing_support::stopOf(step);
  EXPECT_EQ(stop.status, 1) << words << "\n" << stop.out;
  EXPECT_NE(stop.out.find(words), std::string::npos) << stop.out;
}

// zlib blocks (inflated by libdeflate) of every level, stored blocks
// among them, with bytes after the stream: the dosages of the same file
// stored plainly. Blocks of called diploid samples only take a path of
// their own. A damaged checksum stops.
TEST(BgenFile, ZlibBlocksReadAsTheirPlainTwin) {
  TempDir dir;
  std::mt19937 random(11);
  bw::Options o;
  o.samples = 37;
  std::vector<bw::Variant> variants;
  for (int k = 0; k < 4; ++k) {
    bw::Variant v;
    v.position = 10 + static_cast<uint32_t>(k);
    v.samples = samplesFor(o, false, random);
    if (k % 2 == 0) {
      // Diploid only, one missing (its stored pair not a valid one).
      for (bw::Sample& sample : v.samples) sample = {2, false, {sample.values[0] / 2, sample.values[0] / 3}};
      v.samples[5] = {2, true, {200, 200}};
    }
    variants.push_back(v);
  }
  auto everyDosage = [&](const bw::Options& form) {
    dir.write("f.bgen", bw::write(form, variants));
    ombra::BgenFile file(dir.file("f.bgen"));
    std::vector<uint16_t> all;
    for (size_t k = 0; k < variants.size(); ++k) {
      const std::vector<uint16_t> one = dosagesOf(file, k);
      expectDosages(form, variants[k], one, "variant " + std::to_string(k));
      all.insert(all.end(), one.begin(), one.end());
    }
    return all;
  };
  bw::Options plain = o;
  plain.compression = 0;
  const std::vector<uint16_t> expected = everyDosage(plain);
  for (int level : {0, 1, 9}) {
    for (const char* tail : {"", "tail"}) {
      bw::Options zipped = o;
      zipped.zlibLevel = level;
      zipped.zlibTail = tail;
      EXPECT_EQ(everyDosage(zipped), expected) << "level " << level << " tail '" << tail << "'";
    }
  }
  std::string bytes = bw::write(o, variants);
  dir.write("f.bgen", bytes);
  ombra::BgenFile file(dir.file("f.bgen"));
  const size_t checksum = file.variants()[1].blockStart + file.variants()[1].blockBytes - 1;
  bytes[checksum] ^= 1;
  dir.write("f.bgen", bytes);
  expectStop([&] {
    ombra::BgenFile damaged(dir.file("f.bgen"));
    dosagesOf(damaged, 1);
  },
             "The genotype block of variant 2 (rs, at byte " + std::to_string(file.variants()[1].recordStart) +
                 ") of " + dir.file("f.bgen") + " does not inflate to its stated");
}

TEST(BgenSource, SampleProblemsStopNamingTheFiles) {
  TempDir dir;
  bw::Options o = fourSamples();
  const std::vector<bw::Variant> variants = {fourGenotypes(10)};
  dir.write("f.bgen", bw::write(o, variants));
  const std::string bgen = dir.file("f.bgen");
  expectStop([&] { ombra::BgenSource(bgen, "", people({"a", "e"}), "set.fam"); },
             "The individual F e of set.fam is not a sample of " + bgen);
  dir.write("three.sample", "ID_1 ID_2 missing\n0 0 0\nF a 0\nF b 0\nF c 0\n");
  expectStop([&] { ombra::BgenSource(bgen, dir.file("three.sample"), people({"a"}), "set.fam"); },
             "lists 3 samples, but the BGEN file " + bgen + " holds 4");
  o.ids = {"a", "b", "a", "d"};
  dir.write("twice.bgen", bw::write(o, variants));
  expectStop([&] { ombra::BgenSource(dir.file("twice.bgen"), "", people({"a"}), "set.fam"); },
             "The sample a appears twice in " + dir.file("twice.bgen"));
  o.ids.clear();
  dir.write("anonymous.bgen", bw::write(o, variants));
  expectStop([&] { ombra::BgenSource(dir.file("anonymous.bgen"), "", people({"a"}), "set.fam"); },
             "does not name its samples; give its .sample file");
  dir.write("bad.sample", "ID_1 ID_2 missing\n0 0 0\nF a 0\nF b\n");
  expectStop([&] { ombra::readOxfordSample(dir.file("bad.sample")); },
             "Line 4 of the sample file " + dir.file("bad.sample") + " has 2 fields");
  dir.write("headless.sample", "F a 0\n");
  expectStop([&] { ombra::readOxfordSample(dir.file("headless.sample")); }, "does not start with the line");
}

// A bgenix index of `records` (chromosome, position, byte offset) beside
// `bgen`, with its Metadata table when `size` is not 0.
void writeIndex(const std::string& bgen, const std::vector<std::tuple<std::string, uint32_t, uint64_t>>& records,
                uint64_t size) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((bgen + ".bgi").c_str(), &db), SQLITE_OK);
  std::string sql =
      "CREATE TABLE Variant (chromosome TEXT NOT NULL, position INT NOT NULL, rsid TEXT, number_of_alleles INT, "
      "allele1 TEXT, allele2 TEXT, file_start_position INT NOT NULL, size_in_bytes INT);";
  for (const auto& [chr, position, offset] : records) {
    sql += "INSERT INTO Variant VALUES ('" + chr + "', " + std::to_string(position) + ", 'rs', 2, 'A', 'G', " +
           std::to_string(offset) + ", 0);";
  }
  if (size != 0) {
    sql += "CREATE TABLE Metadata (filename TEXT, file_size INT, last_write_time INT, first_1000_bytes BLOB, "
           "index_creation_time INT); INSERT INTO Metadata VALUES ('f', " + std::to_string(size) + ", 0, NULL, 0);";
  }
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(BgenFile, ARegionListsTheSameRecordsWithOrWithoutItsIndex) {
  TempDir dir;
  bw::Options o = fourSamples();
  std::vector<bw::Variant> variants;
  for (uint32_t p = 1; p <= 6; ++p) {
    variants.push_back(fourGenotypes(p * 100));
    variants.back().chr = p <= 2 ? "01" : p <= 4 ? "1" : "2";  // two spellings of chromosome 1
  }
  const std::string bytes = bw::write(o, variants);
  dir.write("f.bgen", bytes);
  const std::string bgen = dir.file("f.bgen");
  ombra::BgenFile whole(bgen);
  ASSERT_EQ(whole.variants().size(), 6u);
  // The caller's reading of names ("01" is 1), through the index as without it.
  const ombra::BgenRegion region{"1", 200, 400, [](std::string_view name) { return name == "1" || name == "01"; }};
  ombra::BgenFile readThrough(bgen, &region);
  EXPECT_FALSE(readThrough.listedThroughIndex());
  std::vector<std::tuple<std::string, uint32_t, uint64_t>> rows;
  for (const ombra::BgenVariant& v : whole.variants()) rows.emplace_back(v.chr, v.position, v.recordStart);
  writeIndex(bgen, rows, bytes.size());
  ombra::BgenFile indexed(bgen, &region);
  EXPECT_TRUE(indexed.listedThroughIndex());
  ASSERT_EQ(indexed.variants().size(), 3u);
  ASSERT_EQ(readThrough.variants().size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(indexed.variants()[k].position, 200 + 100 * k);
    EXPECT_EQ(indexed.variants()[k].blockStart, readThrough.variants()[k].blockStart);
    EXPECT_EQ(dosagesOf(indexed, k), dosagesOf(whole, k + 1));
  }
  const ombra::BgenRegion exact{"1", 200, 400, {}};
  EXPECT_EQ(ombra::BgenFile(bgen, &exact).variants().size(), 2u);
  // An index of another file: another size, or offsets of other records.
  std::remove((bgen + ".bgi").c_str());
  writeIndex(bgen, rows, bytes.size() + 1);
  expectStop([&] { ombra::BgenFile(bgen, &region); }, "make the index again with bgenix");
  std::remove((bgen + ".bgi").c_str());
  std::get<2>(rows[1]) = std::get<2>(rows[5]);
  writeIndex(bgen, rows, 0);
  expectStop([&] { ombra::BgenFile(bgen, &region); }, "does not belong to " + bgen);
  std::remove((bgen + ".bgi").c_str());
  dir.write("f.bgen.bgi", "not a database at all, but long enough to be looked at by sqlite as one....");
  expectStop([&] { ombra::BgenFile(bgen, &region); }, "cannot be read as a bgenix index");
}

// A little-endian field of a file's bytes, rewritten.
void set32(std::string& bytes, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>(v >> (8 * k) & 255);
}

// --chr, --from-bp and --to-bp through the index list exactly what reading
// the whole file and selecting keeps: a SNP at either edge of the region is
// in, one a base beyond it is out, under any spelling of the chromosome.
TEST(BgenFile, AnIndexedRegionKeepsWhatTheSelectionKeepsAtItsEdges) {
  TempDir dir;
  const std::vector<std::pair<std::string, uint32_t>> sites = {{"1", 199},   {"01", 200}, {"1", 201}, {"chr1", 299},
                                                               {"1", 300},   {"1", 301},  {"2", 200}, {"2", 300},
                                                               {"GL1", 250}};
  std::vector<bw::Variant> variants;
  for (const auto& [chr, position] : sites) {
    variants.push_back(fourGenotypes(position));
    variants.back().chr = chr;
  }
  const std::string bytes = bw::write(fourSamples(), variants);
  dir.write("indexed.bgen", bytes);
  dir.write("plain.bgen", bytes);
  const std::string indexed = dir.file("indexed.bgen"), plain = dir.file("plain.bgen");
  ombra::BgenFile whole(plain);
  std::vector<std::tuple<std::string, uint32_t, uint64_t>> rows;
  for (const ombra::BgenVariant& v : whole.variants()) rows.emplace_back(v.chr, v.position, v.recordStart);
  writeIndex(indexed, rows, bytes.size());

  using Listed = std::vector<std::pair<std::string, uint32_t>>;
  auto listed = [](const ombra::BgenFile& file) {
    Listed out;
    for (const ombra::BgenVariant& v : file.variants()) out.emplace_back(v.chr, v.position);
    return out;
  };
  const std::vector<std::array<const char*, 3>> asked = {
      {"1", "200", "300"}, {"1", "201", "299"}, {"1", "199", "301"}, {"1", "200", "200"}, {"chr01", "300", ""},
      {"1", "", "200"},    {"1", "300", "300"}, {"2", "200", "299"}, {"GL1", "250", "250"}, {"X", "", ""}};
  for (const auto& [chr, from, to] : asked) {
    SCOPED_TRACE(std::string("--chr ") + chr + " --from-bp " + from + " --to-bp " + to);
    ombra::SelectionOptions options;
    options.chrList = chr;
    options.fromBp = from;
    options.toBp = to;
    ombra::SnpSelection selection(options);
    Listed kept;
    for (const ombra::BgenVariant& v : whole.variants()) {
      Marker marker;
      marker.setChromosome(v.chr);
      marker.position = static_cast<int>(v.position);
      if (selection.admit(marker)) kept.emplace_back(v.chr, v.position);
    }
    const std::optional<ombra::BgenRegion> region = ombra::bgenRegion(options);
    ASSERT_TRUE(region.has_value());
    const ombra::BgenFile throughIndex(indexed, &*region), readThrough(plain, &*region);
    EXPECT_TRUE(throughIndex.listedThroughIndex());
    EXPECT_FALSE(readThrough.listedThroughIndex());
    EXPECT_EQ(listed(throughIndex), kept);
    EXPECT_EQ(listed(readThrough), kept);
    if (std::string(from) == "200" && std::string(to) == "300") {
      EXPECT_EQ(kept, (Listed{{"01", 200}, {"1", 201}, {"chr1", 299}, {"1", 300}}));
    }
  }
}

TEST(BgenFile, EveryDefectStopsNamingFileAndVariant) {
  TempDir dir;
  bw::Options o = fourSamples();
  o.compression = 0;
  const std::vector<bw::Variant> variants = {fourGenotypes(10), fourGenotypes(20)};
  const std::string good = bw::write(o, variants);
  const std::string path = dir.file("f.bgen");
  auto decodeAll = [&] {
    ombra::BgenFile file(path);
    for (size_t k = 0; k < file.variants().size(); ++k) dosagesOf(file, k);
  };
  auto check = [&](const std::string& bytes, const std::string& words) {
    dir.write("f.bgen", bytes);
    expectStop(decodeAll, words);
  };
  dir.write("f.bgen", good);
  decodeAll();
  ombra::BgenFile file(path);
  const size_t second = file.variants()[1].recordStart;
  const size_t block = file.variants()[1].blockStart;  // its 4-byte length is just before
  const size_t headerEnd = 4 + 20;

  // Every truncation stops: inside the header, the identifier block, a record.
  for (size_t cut : {size_t{3}, size_t{17}, headerEnd + 5, second + 3, block + 7, good.size() - 1}) {
    check(good.substr(0, cut), cut < 24 ? "is too short to be a BGEN file" : "truncated");
  }
  std::string bytes = good;
  bytes[17] = 'x';
  check(bytes, "is not a BGEN file");
  bytes = good;
  set32(bytes, 4, 0xFFFFFFF0);  // header length
  check(bytes, "does not fit before its first variant");
  bytes = good;
  set32(bytes, 0, 0xFFFFFFF0);
  set32(bytes, 4, 0xFFFFFFE0);
  check(bytes, "beyond its end");
  bytes = good;
  set32(bytes, headerEnd, 0xFFFFFFF0);  // identifier block length
  check(bytes, "sample identifier block of 4294967280 bytes");
  bytes = good;
  set32(bytes, block - 4, 0xFFFFFFF0);  // genotype block length
  check(bytes, "runs past the end of the file");
  bytes = good;
  set32(bytes, block, 5);  // samples in the block
  check(bytes, "holds 5 samples, but the header states 4");
  bytes = good;
  bytes[block + 8 + 4 + 1] = 0;  // bits
  check(bytes, "probabilities of 0 bits");
  bytes[block + 8 + 4 + 1] = 33;
  check(bytes, "probabilities of 33 bits");
  bytes = good;
  bytes[block + 8] = 3;  // ploidy of sample 1
  check(bytes, "has ploidy 3");
  bytes = good;
  bytes[block + 8 + 4 + 2] = static_cast<char>(200);  // sample 1: 200 + 0 ... and its P12
  bytes[block + 8 + 4 + 3] = static_cast<char>(100);
  const std::string named = "The probabilities of sample 1 in variant 2 (rs20, at byte " + std::to_string(second) +
                            ") of " + path + " sum above 1";
  check(bytes, named);
  // The same once the listed names are freed (as a source does): the name
  // is read again from the record.
  expectStop([&] {
    ombra::BgenFile released(path);
    released.releaseVariants();
    dosagesOf(released, 1);
  }, named);

  // Compressed blocks: a stated inflated size that the block cannot make,
  // or that it does not make.
  o.compression = 1;
  const std::string zipped = bw::write(o, variants);
  dir.write("f.bgen", zipped);
  ombra::BgenFile zippedFile(path);
  const size_t inflatedAt = zippedFile.variants()[0].blockStart - 4;
  bytes = zipped;
  set32(bytes, inflatedAt, 0xFFFFFFF0);
  check(bytes, "states an inflated size of 4294967280 bytes");
  bytes = zipped;
  set32(bytes, inflatedAt, 30);
  check(bytes, "does not inflate to its stated 30 bytes");
  bytes = zipped;
  bytes[zippedFile.variants()[0].blockStart + 3] ^= 0x55;
  check(bytes, "does not inflate");
}

// PLINK 2's BGEN export of the example filesets, read back.
bool hasTool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

std::vector<ombra::SampleName> famNames(const std::string& path) {
  std::ifstream in(path);
  std::vector<ombra::SampleName> out;
  std::string fid, iid, rest;
  while (in >> fid >> iid && std::getline(in, rest)) out.push_back({fid, iid});
  return out;
}

TEST(BgenPlink2, ExportsReadBackAsTheFilesetsCodes) {
  if (!hasTool("plink2")) GTEST_SKIP() << "plink2 is not installed";
  TempDir dir;
  for (const std::string set : {"unrelated", "family"}) {
    const std::string prefix = std::string(OMBRA_SOURCE_DIR) + "/examples/plink/" + set;
    const std::vector<ombra::SampleName> names = famNames(prefix + ".fam");
    std::vector<Marker> markers = ombra::readPlinkBim(prefix + ".bim");
    const size_t m = markers.size();
    ombra::PlinkBedSource bed(prefix + ".bed", prefix + ".bim", prefix + ".fam", markers, names.size());
    const size_t column = ombra::columnBytes(names.size());
    std::vector<unsigned char> expected(m * column);
    bed.readSnps(0, m, expected.data());
    for (const std::string format : {"bgen-1.2 bits=8", "bgen-1.3 bits=16", "bgen-1.1"}) {
      const std::string out = dir.file(set);
      ASSERT_EQ(std::system(("plink2 --bfile " + prefix + " --export " + format + " --out " + out + " >/dev/null 2>&1")
                                .c_str()),
                0)
          << format;
      // bgen-1.1 carries no sample identifiers: the .sample file names them.
      ombra::BgenSource source(out + ".bgen", out + ".sample", names, prefix + ".fam");
      ASSERT_EQ(source.markers().size(), m) << format;
      std::vector<unsigned char> codes(m * column);
      std::vector<uint16_t> dosages(m * names.size());
      source.readDosages(0, m, codes.data(), dosages.data());
      for (size_t s = 0; s < m; ++s) {
        // PLINK 2 writes the .bim's A1 (column 5) first: the same allele2.
        ASSERT_EQ(source.markers()[s].allele1, markers[s].allele1) << format << " snp " << s;
        ASSERT_EQ(source.markers()[s].allele2, markers[s].allele2) << format << " snp " << s;
        for (size_t i = 0; i < names.size(); ++i) {
          const int code = codeAt(&expected[s * column], i);
          ASSERT_EQ(codeAt(&codes[s * column], i), code) << format << " snp " << s << " individual " << i;
          ASSERT_EQ(dosages[s * names.size() + i], code == 3 ? kMissingDosage : code * 16384)
              << format << " snp " << s << " individual " << i;
        }
        ASSERT_EQ(std::memcmp(&codes[s * column], &expected[s * column], column), 0) << format << " snp " << s;
      }
    }
  }
}

}  // namespace
