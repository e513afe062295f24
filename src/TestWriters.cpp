// Writers that turn one loaded data set into another file format.
#include "Test.h"

bool CTest::RecodeAdditiveFormat(std::vector<Pedigree>&, std::vector<Index>&) { return true; }

bool CTest::RecodeGenotypeBinaryFormat(std::vector<Pedigree>&, std::vector<Index>&) { return true; }

bool CTest::RecodeGenotypeTextFormat(std::vector<Pedigree>&, std::vector<Index>&) { return true; }
