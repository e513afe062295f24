// Ombra: association analysis of SNPs pooling family and unrelated samples.
#include "app/Run.h"
#include "core/OutputFile.h"
#include "core/RunEnd.h"

int main(int argc, char** argv) {
  ombra::installInterruptCleanup();
  try {
    ombra::runProgram(argc, argv);
  } catch (const ombra::RunStop& stop) {
    // Settled here, once every stage has unwound and closed what it held.
    return ombra::finishRun(stop);
  }
  return 0;
}
