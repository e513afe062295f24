// The log of a run: NAME.log beside the result file (or beside the PCA file
// for a components-only run), holding the version, the command line, the
// start and end times and everything the run printed on standard output,
// its errors included. A run that stops with an error leaves its log too,
// ending with the error and the exit status, so it never claims a success
// that did not happen.
#ifndef OMBRA_OUTPUTS_RUNLOG_H
#define OMBRA_OUTPUTS_RUNLOG_H

#include <string>

namespace ombra {

// The log's name for an output named `output`: its extension (and a
// ".gz" before it) replaced by ".log".
std::string logNameFor(const std::string& output);

// From now on standard output is also kept for the log `path`.
void startRunLog(const std::string& path, int argc, char** argv);

// Adds `text` to the log only, not to standard output (for facts that a
// completed run's standard output has never shown); nothing without a log.
void noteInRunLog(const std::string& text);

// Adds `text` (whole lines) to the facts of the run at the head of the log,
// after the ones noted before it and before everything printed, so that what
// the run printed stays in one piece; nothing without a log.
void noteRunFact(const std::string& text);

// Writes the log of a run ending with `status` and stops keeping standard
// output; nothing when no log was started. Returns the status the run ends
// with: 1 when the log of a successful run cannot be written (after saying
// so), else `status`.
int finishRunLog(int status);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_RUNLOG_H
