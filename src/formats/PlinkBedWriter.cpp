#include "formats/PlinkBedWriter.h"

#include <algorithm>
#include <string_view>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputFile.h"
#include "formats/PlinkBed.h"
#include "formats/SourceLoader.h"

namespace ombra {

namespace {

const std::string kUnknownAllele = "0";

const std::string& alleleText(const std::string& allele) { return allele.empty() ? kUnknownAllele : allele; }

void writeBim(const std::string& path, const std::vector<Marker>& markers) {
  OutputFile out(path);
  {
    for (const Marker& marker : markers) {
      for (const std::string* field : {&marker.chr, &marker.snpId}) {
        out.put(*field);
        out.put('\t');
      }
      out.put("0\t");
      out.put(std::to_string(marker.position));
      out.put('\t');
      out.put(alleleText(marker.allele1));
      out.put('\t');
      out.put(alleleText(marker.allele2));
      out.endLine();
    }
  }
  out.close();
}

void writeFam(const std::string& path, const std::vector<Pedigree>& peds) {
  OutputFile out(path);
  {
    for (const Pedigree& pedigree : peds) {
      for (const Individual& person : pedigree.members) {
        for (const std::string* field : {&pedigree.famId, &person.indId, &person.fatherId, &person.motherId,
                                         &person.sexField}) {
          out.put(*field);
          out.put(' ');
        }
        out.put(person.trait);
        out.endLine();
      }
    }
  }
  out.close();
}

void writeBed(const std::string& path, size_t snps, const std::vector<const unsigned char*>& order) {
  OutputFile out(path);
  {
    out.put(std::string_view(reinterpret_cast<const char*>(kPlinkBedMagic.data()), kPlinkBedMagic.size()));
    const size_t perBlock = snpsPerBlock(order.size());
    const size_t stride = columnBytes(order.size());
    std::vector<unsigned char> block(perBlock * stride);
    for (size_t first = 0; first < snps && stride > 0; first += perBlock) {
      const size_t count = std::min(perBlock, snps - first);
      rowsToColumns(order, first, count, block.data());
      ombraColumnsToPlink(block.data(), count, order.size());
      out.put(std::string_view(reinterpret_cast<const char*>(block.data()), count * stride));
    }
  }
  out.close();
}

}  // namespace

void writePlinkFileset(const std::string& prefix, const std::vector<Marker>& markers,
                       const std::vector<Pedigree>& peds, const std::vector<GenotypeRow>& rows) {
  writeBim(prefix + ".bim", markers);
  writeFam(prefix + ".fam", peds);
  std::vector<const unsigned char*> order;
  for (const Pedigree& pedigree : peds) {
    for (const Individual& person : pedigree.members) order.push_back(rows[static_cast<size_t>(person.seq)].codes);
  }
  writeBed(prefix + ".bed", markers.size(), order);
}

}  // namespace ombra
