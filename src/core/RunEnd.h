// The one way a run ends early or late: every error stop, and every early
// end of a run that has done what was asked, throws a RunStop up to where
// the run began (app/Main.cpp), which settles the run's output files
// (core/OutputFile.h) and its log there, after the stack has unwound. A
// stage called on its own (by a test, say) sees the stop as an exception
// carrying its message.
#ifndef OMBRA_CORE_RUNEND_H
#define OMBRA_CORE_RUNEND_H

#include <string>

namespace ombra {

// Not a std::exception, so that no handler meant for a library's errors
// can swallow a stop; whoever catches one either settles it (finishRun) or
// says why the run goes on without what stopped (a skipped phenotype).
struct RunStop {
  int status = 1;       // the process's exit status: 0 for an early end that succeeded
  std::string message;  // what the run prints for it, with its own line breaks
};

// Ends the run with `status`: 0 commits its outputs (renames them over their
// final names), any other status removes their temporary files.
[[noreturn]] void endRun(int status);
// Ends the run with status 1 and `message` on standard output. Every error
// stop goes through here.
[[noreturn]] void stopRun(const std::string& message);

// Settles the run ended by `stop`, once the stack has unwound: prints its
// message, commits or removes the outputs, and finishes the log last, so
// that it records how the run really ended. Returns the status the process
// ends with (1 when committing an output or writing the log failed).
int finishRun(const RunStop& stop);

// As stopRun, but the process ends at once, without unwinding and without
// running the exit handlers of the libraries it loaded: for a library left
// in a state its own clean-up cannot survive (OpenBLAS after a thread it
// could not start). The outputs are removed and the log finished first.
[[noreturn]] void stopRunAtOnce(const std::string& message);

// After settling the output files (committed on status 0, removed
// otherwise), finishRun finishes the run's log through this step, which may
// turn the status into 1 when the log cannot be written. The log belongs to
// the output layer, which registers the step, so that this layer needs
// nothing above it; without a step there is no log to finish.
void setFinishLog(int (*step)(int status));

}  // namespace ombra

#endif  // OMBRA_CORE_RUNEND_H
