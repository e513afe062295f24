// Writers that turn one loaded data set into another file format. Every
// writer visits the individuals grouped by family ID, in order of the family
// ID's first appearance, and reads each one's row at its `seq`.
#include "formats/Recodings.h"

#include <array>
#include <iostream>

#include "core/OutputFile.h"

namespace ombra {

namespace {

// The six sample columns, separated by blanks.
void putSampleColumns(OutputFile& out, const std::string& famId, const Individual& person) {
  for (const std::string* field : {&famId, &person.indId, &person.fatherId, &person.motherId, &person.sexField}) {
    out.put(*field);
    out.put(' ');
  }
  out.put(person.trait);
}

// One line per individual, grouped by family ID: the sample columns, then
// the text `snpText(s, code)` of every SNP's genotype, separated by blanks.
template <typename SnpText>
void writeGenotypeLines(OutputFile& out, const std::vector<Pedigree>& peds, const std::vector<GenotypeRow>& rows,
                        size_t markerCount, SnpText snpText) {
  for (const Pedigree& pedigree : peds) {
    for (const Individual& person : pedigree.members) {
      putSampleColumns(out, pedigree.famId, person);
      out.put(' ');
      const unsigned char* row = rows[static_cast<size_t>(person.seq)].codes;
      for (size_t s = 0; s < markerCount; ++s) {
        if (s > 0) out.put(' ');
        out.put(snpText(s, genotypeCode(row, s)));
      }
      out.endLine();
    }
  }
}

}  // namespace

void writeAdditive(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set) {
  std::cout << "Coding additive format file ...\n";
  OutputFile file(prefix + ".add");
  static const std::string_view kDigits[4] = {"0", "1", "2", "3"};
  writeGenotypeLines(file, set.pedigrees, set.rows, markers.size(), [](size_t, int code) { return kDigits[code]; });
  file.close();
}

void writeOmbraBinary(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set) {
  const std::vector<Pedigree>& peds = set.pedigrees;
  std::cout << "Coding binary format file ...\n";
  OutputFile bim(prefix + ".bim");
  for (const Marker& marker : markers) {
    bim.stream() << marker.chr << ' ' << marker.snpId << " 0 " << marker.position << ' '
         << (marker.allele1.empty() ? "0" : marker.allele1) << ' '
         << (marker.allele2.empty() ? "0" : marker.allele2) << ' ' << marker.allele2Count << '\n';
  }
  bim.close();

  OutputFile fam(prefix + ".fam");
  for (const Pedigree& pedigree : peds) {
    for (const Individual& person : pedigree.members) {
      putSampleColumns(fam, pedigree.famId, person);
      fam.endLine();
    }
  }
  fam.close();

  OutputFile bed(prefix + ".bed");
  const size_t length = static_cast<size_t>(rowBytes(static_cast<long>(markers.size())));
  for (const Pedigree& pedigree : peds) {
    for (const Individual& person : pedigree.members) {
      const unsigned char* row = set.rows[static_cast<size_t>(person.seq)].codes;
      bed.put(std::string_view(reinterpret_cast<const char*>(row), length));
    }
  }
  bed.close();
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

void writeText(const std::string& prefix, const std::vector<Marker>& markers, const DataSet& set,
               const std::string& missingGenotype) {
  std::cout << "coding text format file ... \n";
  OutputFile map(prefix + ".map");
  for (const Marker& marker : markers) {
    map.stream() << marker.chr << ' ' << marker.snpId << " 0 " << marker.position << '\n';
  }
  map.close();

  std::vector<GenotypeTexts> texts;
  texts.reserve(markers.size());
  for (const Marker& marker : markers) texts.push_back(genotypeTexts(marker, missingGenotype));
  std::vector<bool> unknownWritten(markers.size(), false);

  OutputFile ped(prefix + ".ped");
  writeGenotypeLines(ped, set.pedigrees, set.rows, markers.size(), [&](size_t s, int code) {
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
}

}  // namespace ombra
