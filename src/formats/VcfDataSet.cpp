// A data set whose genotypes come from a VCF or BCF file and whose
// individuals, parents, sex and trait come from a .fam beside it.
#include <iostream>
#include <memory>

#include "Test.h"
#include "formats/MarkerReader.h"
#include "formats/SourceLoader.h"
#include "formats/VcfSource.h"

namespace {

// The genotype file of a VCF data set: the first of PREFIX.bcf,
// PREFIX.vcf.gz and PREFIX.vcf that exists.
std::string vcfPathOf(BaseClass& base, const std::string& prefix) {
  for (const char* suffix : {".bcf", ".vcf.gz", ".vcf"}) {
    if (base.fileExists(prefix + suffix)) return prefix + suffix;
  }
  ombra::stopRun("None of " + prefix + ".bcf, " + prefix + ".vcf.gz and " + prefix + ".vcf exists.\n");
}

// The individuals of a data set in the order of its file (their seq).
std::vector<ombra::SampleName> namesInFileOrder(const std::vector<Pedigree>& peds) {
  size_t total = 0;
  for (const Pedigree& pedigree : peds) total += pedigree.members.size();
  std::vector<ombra::SampleName> names(total);
  for (const Pedigree& pedigree : peds) {
    for (const Indi& person : pedigree.members) names[static_cast<size_t>(person.seq)] = {pedigree.famId, person.indId};
  }
  return names;
}

void reportVcfSkips(const ombra::VcfSource& source, const std::string& path, const std::string& famPath) {
  const size_t ignored = source.ignoredSamples();
  if (ignored == 1) std::cout << "1 sample of " << path << " is not in " << famPath << " and is ignored.\n";
  if (ignored > 1) std::cout << ignored << " samples of " << path << " are not in " << famPath << " and are ignored.\n";
  const size_t skipped = source.skippedRecords();
  if (skipped == 1) std::cout << "1 record of " << path << " is not a biallelic SNP or indel and is skipped.\n";
  if (skipped > 1) {
    std::cout << skipped << " records of " << path << " are not biallelic SNPs or indels and are skipped.\n";
  }
}

}  // namespace

bool CTest::readVcfSet(const std::string& prefix, bool unrelated) {
  const std::string path = vcfPathOf(*this, prefix);
  const std::string famPath = prefix + ".fam";
  std::vector<Pedigree>& peds = unrelated ? unrelatedPeds : familyPeds;
  std::vector<Index>& rows = unrelated ? unrelatedRows : familyRows;
  readPedigree(famPath, peds, rows, true, unrelated, TraitCodes::kPlink);

  std::cout << "Reading VCF genotypes: " << path << " ...\n";
  auto source = std::make_unique<ombra::VcfSource>(path, namesInFileOrder(peds), famPath);
  reportVcfSkips(*source, path, famPath);
  const long count = static_cast<long>(source->markers().size());
  const bool sharedMarkers = unrelated && markerCount() > 0;
  if (streaming) {
    // The source holds the sites, which the run reads as it goes.
    std::vector<bool> swapped =
        streamMarkers(std::make_unique<ombra::HeldMarkers>(source->markers()), sharedMarkers, path);
    (unrelated ? unrelatedMarkerCount : familyMarkerCount) = count;
    startStream(std::move(source), unrelated, std::move(swapped));
    std::cout << "Genotype have been loaded.\n";
    return true;
  }
  ombra::loadRows(*source, charTracker, rows);

  // Like a .bim, the file brings the markers unless the family set already
  // did; then its codes are turned to count the shared second allele.
  if (sharedMarkers) {
    alignUnrelatedMarkers(source->markers(), path);
  } else {
    markers = source->markers();
    alleleCountBase = unrelated ? unrelatedSize : familySize;
    bimCountPending = false;
    snpCount = static_cast<int>(markers.size());
    std::cout << "Total " << snpCount << " snps are read. \n\n";
  }
  (unrelated ? unrelatedMarkerCount : familyMarkerCount) = count;
  std::cout << "Genotype have been loaded.\n";
  return true;
}
