// Principal components of the genotypes of mutually unrelated individuals:
// the PCA SNPs, the choice of individuals from the pedigrees, the
// decomposition by one of three routes, every individual's scores, and the
// PCA and eigen loading files that save and reload them.
#ifndef OMBRA_COMPONENTS_COMPONENTS_H
#define OMBRA_COMPONENTS_COMPONENTS_H

#include <string>
#include <unordered_set>
#include <vector>

#include "core/Records.h"
#include "formats/GenotypeStore.h"

namespace ombra {

// How the principal components are decomposed (option --pca-method): always
// by the Golub-Reinsch SVD, always through the eigen-decomposition of the
// Gram matrix, always by the approximate block Krylov iteration, or the
// first while it is quick and else the quicker of the other two by
// estimate (auto).
enum class PcaMethod { kExact, kFast, kAuto, kApprox };
// The route a run takes.
enum class PcaRoute { kExact, kGram, kApprox };

struct PcaSettings {
  int count = 10;                    // components asked for (--p)
  PcaMethod method = PcaMethod::kAuto;
  std::string snpListFile;           // --snp-list-pca; empty: every SNP
  std::string eigenLoadingFile;      // written when not empty (--op)
  int threads = 1;
};

// Every individual's scores, in analysis order (see Cohort).
struct ComponentScores {
  int count = 0;               // components per individual
  std::vector<double> values;  // [index * count + k]
  std::vector<char> inPca;     // per individual: used to compute the components (computed scores only)
  const double* of(size_t index) const { return values.data() + index * static_cast<size_t>(count); }
};

// Stops the run, before anything is computed or loaded, when the scores of
// `people` individuals on `slots` components would not fit in memory.
void requireScoreMemory(int people, int slots);

// Computes the components from the PCA SNPs and the unrelated individuals,
// and every individual's scores; a count above what the data allow is
// lowered, with a message. The eigen loading file is written when the
// settings name it. A streamed run first reads the PCA SNPs into the rows
// (their slots 0, 1, ... in map order); a loaded run needs the mean dosages
// of every SNP (kIntercept).
ComponentScores computeComponents(Cohort& cohort, GenotypeStore& store, const PcaSettings& settings);

// The PCA SNPs as marker indices in map order: those named by the lines of
// `listFile` (read with a line saying how many), or every marker when it is
// empty.
std::vector<int> choosePcaSnps(GenotypeStore& store, const std::string& listFile);

// What `auto` weighs for `snps` PCA SNPs, `cols` individuals and `wanted`
// components: each route's estimated seconds at `threads` threads, and
// whether the Gram route's C x C matrix fits in `memoryBytes` (a quarter of
// it).
struct RouteEstimate {
  double exactWork = 0;  // S x C^2, the exact route's work
  double gramSeconds = 0;
  double approxSeconds = 0;
  bool gramFits = true;
};
RouteEstimate estimateRoutes(int snps, int cols, int wanted, int threads, double memoryBytes);

// The route `method` takes for `snps` PCA SNPs and `cols` individuals:
// `auto` takes the exact route while its work is tiny, else the quicker of
// the Gram and approximate routes by estimate, the approximate one when the
// Gram matrix does not fit in a quarter of `memoryBytes`.
PcaRoute chooseRoute(PcaMethod method, const RouteEstimate& estimate);

// One line for the log saying which route `method` took and why.
std::string routeLine(PcaMethod method, PcaRoute route, const RouteEstimate& estimate);

// The scores of `count` components read from a PCA file (from its fifth
// column), for every individual of the cohort. The line of an individual
// not in the cohort whom the data sets held before any selection (`held`,
// "FID\tIID") is skipped and counted; an individual of the file in neither
// data set, a short line or an individual without scores stops the run.
ComponentScores loadPcaFile(const Cohort& cohort, const std::string& path, int count,
                            const std::unordered_set<std::string>& held = {});
// Per individual its family ID, individual ID, trait, 1 when it was used to
// compute the components, and its scores.
void writePcaFile(const std::string& path, const Cohort& cohort, const ComponentScores& scores);

// The eigen loading file saved with the PCA file `pcaFileName`: beside it,
// named by the PCA file's name up to its first dot.
std::string eigenLoadingFileName(const std::string& pcaFileName);

}  // namespace ombra

#endif  // OMBRA_COMPONENTS_COMPONENTS_H
