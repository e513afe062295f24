// One run of the program, stage after stage.
#ifndef OMBRA_APP_RUN_H
#define OMBRA_APP_RUN_H

namespace ombra {

// Runs the program for one command line: options, the data sets, selections
// and filters, the study design, recodings, the components, the test and its
// report. Every error, and every early end, leaves it as a RunStop
// (core/RunEnd.h), which the caller settles with finishRun.
void runProgram(int argc, char** argv);

}  // namespace ombra

#endif  // OMBRA_APP_RUN_H
