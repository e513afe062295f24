// Ombra: association analysis of SNPs pooling family and unrelated samples.
#include "app/Run.h"
#include "core/OutputFile.h"

int main(int argc, char** argv) {
  ombra::installInterruptCleanup();
  ombra::runProgram(argc, argv);
  return 0;
}
