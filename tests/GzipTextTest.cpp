// Gzip-compressed text sets: PREFIX.ped.gz and PREFIX.map.gz read when the
// plain files are absent, with the plain files' results, and broken streams
// stopped with a message instead of being taken for short files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "LoadedSets.h"
#include "TestSupport.h"
#include "core/RunEnd.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::resultOf;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// `text` compressed as one gzip member, or as one member per `pieces` parts
// (as bgzip writes it).
std::string gzipped(const std::string& text, size_t pieces = 1) {
  std::string out;
  const size_t part = text.size() / pieces + 1;
  for (size_t start = 0; start < text.size(); start += part) {
    const std::string piece = text.substr(start, part);
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string buffer(deflateBound(&stream, piece.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream.avail_in = static_cast<uInt>(piece.size());
    stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
    stream.avail_out = static_cast<uInt>(buffer.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    buffer.resize(stream.total_out);
    deflateEnd(&stream);
    out += buffer;
  }
  return out;
}

void writeGzipSet(const TempDir& dir, const std::string& prefix, const std::string& name, size_t pieces) {
  dir.write(prefix + ".ped.gz", gzipped(testing_support::readFile(kExamples + name + ".ped"), pieces));
  dir.write(prefix + ".map.gz", gzipped(testing_support::readFile(kExamples + name + ".map"), pieces));
}

TEST(GzipText, CompressedSetsGiveThePlainResult) {
  TempDir dir;
  writeGzipSet(dir, "fam", "family", 1);
  writeGzipSet(dir, "unr", "unrelated", 7);  // several members, as bgzip writes
  const std::string plain =
      resultOf(dir, {"--f", kExamples + "family", "--i", kExamples + "unrelated"}, "plain.txt");
  const std::string packed = resultOf(dir, {"--f", "fam", "--i", "unr"}, "packed.txt");
  EXPECT_EQ(packed, plain);
  // One compressed, one plain, and the plain file wins when both exist.
  dir.write("unr.ped", testing_support::readFile(kExamples + "unrelated.ped"));
  dir.write("unr.map", testing_support::readFile(kExamples + "unrelated.map"));
  dir.write("unr.ped.gz", "not read");
  EXPECT_EQ(resultOf(dir, {"--f", "fam", "--i", "unr"}, "mixed.txt"), plain);
  const RunResult run = runOmbra(dir.path(), {"--f", "fam", "--recode", "back"});
  EXPECT_NE(run.out.find("Reading snp map: fam.map.gz ...\n"), std::string::npos);
  EXPECT_NE(run.out.find("Reading pedigree: fam.ped.gz ...\n"), std::string::npos);
}

TEST(GzipText, BrokenStreamsStopWithTheFileName) {
  TempDir dir;
  dir.write("f.map", testing_support::readFile(kExamples + "family.map"));
  const std::string packed = gzipped(testing_support::readFile(kExamples + "family.ped"));
  std::string corrupt = packed;
  for (size_t at = 40; at < 60; ++at) corrupt[at] = static_cast<char>(corrupt[at] ^ 0x5a);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"corrupt", corrupt},
      {"truncated", packed.substr(0, packed.size() / 2)},
      {"no end", packed.substr(0, packed.size() - 4)},
  };
  for (const auto& broken : cases) {
    dir.write("f.ped.gz", broken.second);
    const RunResult run = runOmbra(dir.path(), {"--f", "f", "--out", "r.txt"});
    EXPECT_EQ(run.status, 1) << broken.first;
    EXPECT_NE(run.out.find("The file f.ped.gz is not a readable gzip file: "), std::string::npos)
        << broken.first << "\n" << run.out;
    EXPECT_FALSE(dir.exists("r.txt")) << broken.first;
  }
  // A map that ends early would otherwise drop SNPs without a word.
  dir.write("g.ped", testing_support::readFile(kExamples + "family.ped"));
  const std::string map = gzipped(testing_support::readFile(kExamples + "family.map"));
  dir.write("g.map.gz", map.substr(0, map.size() - 10));
  const RunResult run = runOmbra(dir.path(), {"--f", "g"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The file g.map.gz is not a readable gzip file: "), std::string::npos) << run.out;
}

// Inside the program the stop must leave the stream as the stop's own
// exception: a stream that swallowed it would end the file early instead.
TEST(GzipText, StopInsideTheStreamReachesTheCaller) {
  TempDir dir;
  const std::string packed = gzipped("F 1 0 0 1 1\nF 2 0 0 1 2\n");
  dir.write("p.ped.gz", packed.substr(0, packed.size() - 6));
  LoadedSets sets;
  EXPECT_THROW(sets.loader.readPedigree(dir.file("p.ped.gz"), sets.cohort.family, false), ombra::RunStop);
}

}  // namespace
