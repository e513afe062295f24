// Writers that turn one loaded data set into another file format. Every
// writer visits the individuals grouped by family ID, in order of the family
// ID's first appearance, and reads each one's row at its `seq`.
#include <array>
#include <iostream>

#include "Test.h"
#include "outputs/OutputFile.h"

namespace {

// The six sample columns, separated by blanks.
void putSampleColumns(ombra::OutputFile& out, const std::string& famId, const Indi& person) {
  for (const std::string* field : {&famId, &person.indId, &person.fatherId, &person.motherId, &person.sex}) {
    out.put(*field);
    out.put(' ');
  }
  out.put(person.trait);
}

// One line per individual, grouped by family ID: the sample columns, then
// the text `snpText(s, code)` of every SNP's genotype, separated by blanks.
template <typename SnpText>
void writeGenotypeLines(ombra::OutputFile& out, const std::vector<Pedigree>& peds, const std::vector<Index>& rows,
                        size_t markerCount, SnpText snpText) {
  for (const Pedigree& pedigree : peds) {
    for (const Indi& person : pedigree.members) {
      putSampleColumns(out, pedigree.famId, person);
      out.put(' ');
      const unsigned char* row = rows[static_cast<size_t>(person.seq)].geno;
      for (size_t s = 0; s < markerCount; ++s) {
        if (s > 0) out.put(' ');
        out.put(snpText(s, genotypeCode(row, s)));
      }
      out.endLine();
    }
  }
}

}  // namespace

bool CTest::RecodeAdditiveFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows) {
  std::cout << "Coding additive format file ...\n";
  ombra::OutputFile file(additivePrefix + ".add");
  static const std::string_view kDigits[4] = {"0", "1", "2", "3"};
  writeGenotypeLines(file, peds, rows, markers.size(), [](size_t, int code) { return kDigits[code]; });
  file.close();
  return true;
}

bool CTest::RecodeGenotypeBinaryFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows) {
  std::cout << "Coding binary format file ...\n";
  ombra::OutputFile bim(recodePrefix + ".bim");
  for (const Marker& marker : markers) {
    bim.stream() << marker.chr << ' ' << marker.snpId << " 0 " << marker.position << ' '
         << (marker.allele1.empty() ? "0" : marker.allele1) << ' '
         << (marker.allele2.empty() ? "0" : marker.allele2) << ' ' << marker.allele2Count << '\n';
  }
  bim.close();

  ombra::OutputFile fam(recodePrefix + ".fam");
  for (const Pedigree& pedigree : peds) {
    for (const Indi& person : pedigree.members) {
      putSampleColumns(fam, pedigree.famId, person);
      fam.endLine();
    }
  }
  fam.close();

  ombra::OutputFile bed(recodePrefix + ".bed");
  const size_t length = static_cast<size_t>(rowBytes(static_cast<long>(markers.size())));
  for (const Pedigree& pedigree : peds) {
    for (const Indi& person : pedigree.members) {
      const unsigned char* row = rows[static_cast<size_t>(person.seq)].geno;
      bed.put(std::string_view(reinterpret_cast<const char*>(row), length));
    }
  }
  bed.close();
  return true;
}

namespace {

// The text of each genotype code at one marker: "a1 a1", "a1 a2", "a2 a2"
// and the missing pair. A code that needs an allele the data never named
// (a .bim column of "0") is written as missing so that the file reads back.
struct GenotypeTexts {
  std::array<std::string, 4> text;
  std::array<bool, 4> unknownAllele{};
};

GenotypeTexts genotypeTexts(const Marker& marker, const std::string& missing) {
  const std::string missingPair = missing + " " + missing;
  GenotypeTexts texts;
  const std::string* alleles[3][2] = {{&marker.allele1, &marker.allele1},
                                      {&marker.allele1, &marker.allele2},
                                      {&marker.allele2, &marker.allele2}};
  for (int code = 0; code < 3; ++code) {
    const std::string& first = *alleles[code][0];
    const std::string& second = *alleles[code][1];
    texts.unknownAllele[code] = first.empty() || second.empty();
    texts.text[code] = texts.unknownAllele[code] ? missingPair : first + " " + second;
  }
  texts.text[3] = missingPair;
  return texts;
}

}  // namespace

bool CTest::RecodeGenotypeTextFormat(std::vector<Pedigree>& peds, std::vector<Index>& rows) {
  std::cout << "coding text format file ... \n";
  ombra::OutputFile map(recodePrefix + ".map");
  for (const Marker& marker : markers) {
    map.stream() << marker.chr << ' ' << marker.snpId << " 0 " << marker.position << '\n';
  }
  map.close();

  std::vector<GenotypeTexts> texts;
  texts.reserve(markers.size());
  for (const Marker& marker : markers) texts.push_back(genotypeTexts(marker, missingGenotype));
  std::vector<bool> unknownWritten(markers.size(), false);

  ombra::OutputFile ped(recodePrefix + ".ped");
  writeGenotypeLines(ped, peds, rows, markers.size(), [&](size_t s, int code) {
    const GenotypeTexts& snp = texts[s];
    if (snp.unknownAllele[static_cast<size_t>(code)]) unknownWritten[s] = true;
    return std::string_view(snp.text[static_cast<size_t>(code)]);
  });
  ped.close();
  for (size_t s = 0; s < markers.size(); ++s) {
    if (!unknownWritten[s]) continue;
    std::cout << "Warning: snp " << markers[s].snpId
              << " has genotypes of an allele that the binary data does not name; they are written as missing.\n";
  }
  return true;
}
