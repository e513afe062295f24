// Principal components: the SNP list, the computation and the PCA file.
#include "Test.h"

bool CTest::readSnpListOfPCA(std::string) { return true; }

void CTest::cal_prin() {}

bool CTest::ReadingPCA() { return true; }
