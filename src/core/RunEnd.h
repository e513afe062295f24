// The one way a run ends early or late: every error stop prints its message
// and ends the process through endRun, which first settles the run's output
// files (core/OutputFile.h) and its log.
#ifndef OMBRA_CORE_RUNEND_H
#define OMBRA_CORE_RUNEND_H

#include <string>

namespace ombra {

// Ends the process with `status` (flushing standard output first). Status 0
// commits the run's outputs (renames them over their final names), any
// other status removes their temporary files; both happen before the
// handler is called. Tests and fuzzers install a handler that throws
// instead; it must not return.
[[noreturn]] void endRun(int status);
// Prints `message` (which carries its own line breaks) to standard output and
// ends the run with status 1. Every error stop goes through here.
[[noreturn]] void stopRun(const std::string& message);

// As stopRun, but the process ends without running the exit handlers of the
// libraries it loaded: for a library left in a state its own clean-up cannot
// survive (OpenBLAS after a thread it could not start).
[[noreturn]] void stopRunAtOnce(const std::string& message);

using EndRunHandler = void (*)(int status);
// Replaces the process exit of endRun; null restores it. Returns the old one.
EndRunHandler setEndRunHandler(EndRunHandler handler);

// After settling the output files (committed on status 0, removed
// otherwise), endRun finishes the run's log through this step, which may
// turn the status into 1 when the log cannot be written. The log belongs to
// the output layer, which registers the step, so that this layer needs
// nothing above it; without a step there is no log to finish.
void setFinishLog(int (*step)(int status));

}  // namespace ombra

#endif  // OMBRA_CORE_RUNEND_H
