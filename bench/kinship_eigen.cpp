// Times one eigendecomposition of a pedigree's relationship matrix (twice
// its kinship) as the mixed model takes it for a large family: LAPACK's
// dsyevd on one OpenBLAS thread. The reference of bench/lmm_pedigree.sh.
//   kinship_eigen FAMFILE     the first pedigree of a PLINK .fam (or the
//                             first six columns of a .ped)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Records.h"
#include "design/Kinship.h"
#include "numerics/OpenBlas.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kinship_eigen FAMFILE\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  Pedigree pedigree;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string fid;
    Individual person;
    fields >> fid >> person.indId >> person.fatherId >> person.motherId;
    if (pedigree.members.empty()) pedigree.famId = fid;
    if (fid != pedigree.famId) break;
    pedigree.members.push_back(person);
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<double> matrix = ombra::pedigreeKinship(pedigree);
  for (double& value : matrix) value *= 2;
  const auto kinship = std::chrono::steady_clock::now();
  const ombra::OpenBlas& blas = ombra::loadOpenBlas(1);
  if (!blas.loaded()) {
    std::fprintf(stderr, "OpenBLAS is not there\n");
    return 1;
  }
  ombra::setBlasThreads(1);
  const int m = static_cast<int>(pedigree.members.size());
  std::vector<double> values(static_cast<size_t>(m));
  int info = 0, query = -1, intsSize = 0;
  double workSize = 0;
  blas.dsyevd("V", "L", &m, matrix.data(), &m, values.data(), &workSize, &query, &intsSize, &query, &info);
  std::vector<double> work(static_cast<size_t>(workSize));
  std::vector<int> ints(static_cast<size_t>(intsSize));
  const int length = static_cast<int>(work.size()), intLength = static_cast<int>(ints.size());
  blas.dsyevd("V", "L", &m, matrix.data(), &m, values.data(), work.data(), &length, ints.data(), &intLength, &info);
  const auto end = std::chrono::steady_clock::now();
  std::printf("%d members: kinship %.2f s, eigendecomposition %.2f s (info %d)\n", m,
              std::chrono::duration<double>(kinship - start).count(), std::chrono::duration<double>(end - kinship).count(),
              info);
  return info == 0 ? 0 : 1;
}
