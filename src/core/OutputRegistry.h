// The run's table of temporary output files, shared by OutputFile, the
// commit and discard of a run's outputs, and the signal handler. Internal to
// src/outputs/.
#ifndef OMBRA_OUTPUTS_OUTPUTREGISTRY_H
#define OMBRA_OUTPUTS_OUTPUTREGISTRY_H

#include <signal.h>

#include <string>

namespace ombra::outputs {

// Holds the signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGPIPE) back from the calling thread while it
// lives, so that a temporary file is never created without being recorded.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t previous;
};

struct Claim {
  int slot = -1;   // -1: the name is too long for the table
  long serial = 0;
};

// Records `tempPath` (an existing temporary file, removed on an error stop
// or a signal) and the `finalPath` it is renamed to at commit.
Claim claimSlot(const std::string& tempPath, const std::string& finalPath);
// The file of `claim` is complete and waits for the commit.
void markClosed(Claim claim);
// Removes the temporary file of `claim` and frees its slot; nothing when the
// slot was freed since (by a commit or discard) or holds a later claim.
void abandonSlot(Claim claim);

}  // namespace ombra::outputs

#endif  // OMBRA_OUTPUTS_OUTPUTREGISTRY_H
