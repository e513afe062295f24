// Ombra: association analysis of SNPs pooling family and unrelated samples.
#include "Test.h"
#include "outputs/OutputFile.h"

int main(int argc, char** argv) {
  ombra::installInterruptCleanup();
  {
    CTest test;
    test.StartUp(argc, argv);
  }
  return 0;
}
