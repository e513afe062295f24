// Ombra: association analysis of SNPs pooling family and unrelated samples.
#include "Test.h"

int main(int argc, char** argv) {
  {
    CTest test;
    test.StartUp(argc, argv);
  }
  return 0;
}
