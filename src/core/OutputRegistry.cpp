// The run's table of temporary files, its commit and discard, and the
// signal handler that removes the files of an interrupted run.
//
// The handler may run on any thread at any moment, so it reads only a fixed
// table (a state flag and a path buffer per slot, published with release
// stores) and calls only unlink, write and _exit. The renames of a commit
// and the removals of the handler exclude each other through `phase`: a
// signal that arrives during a commit is held until the commit is done.
#include "core/OutputRegistry.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputFile.h"

namespace ombra {

namespace {

constexpr int kSlots = 64;
constexpr size_t kPathCapacity = 4096 + 64;  // PATH_MAX and the temporary suffix

enum SlotState : int { kFree, kWriting, kClosed };
enum Phase : int { kRunning, kCommitting, kEnding };
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free flags");

struct Slot {
  std::atomic<int> state{kFree};
  char tempPath[kPathCapacity];
};

Slot slots[kSlots];
// Read and written by the run's own thread only.
std::string finalPaths[kSlots];
long serials[kSlots];
long lastSerial = 0;

std::atomic<int> phase{kRunning};
std::atomic<int> deferredSignal{0};

const char* interruptLine(int signal) {
  switch (signal) {
    case SIGINT:
      return "Interrupted by SIGINT: the run was stopped and its unfinished output files were removed.\n";
    case SIGHUP:
      return "Interrupted by SIGHUP: the run was stopped and its unfinished output files were removed.\n";
    default:
      return "Interrupted by SIGTERM: the run was stopped and its unfinished output files were removed.\n";
  }
}

[[noreturn]] void endInterrupted(int signal) {
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) != kFree) unlink(slot.tempPath);
  }
  const char* line = interruptLine(signal);
  const ssize_t written = write(STDOUT_FILENO, line, std::strlen(line));
  (void)written;
  _exit(128 + signal);
}

// Another thread is ending the run; it exits the process shortly.
[[noreturn]] void waitForTheEnd() {
  for (;;) pause();
}

void onInterrupt(int signal) {
  int expected = kRunning;
  if (phase.compare_exchange_strong(expected, kEnding)) endInterrupted(signal);
  if (expected != kCommitting) return;  // another thread is already ending the run
  deferredSignal.store(signal);
  expected = kRunning;  // the commit may have ended before the signal was noted
  if (phase.compare_exchange_strong(expected, kEnding)) endInterrupted(signal);
}

void freeSlot(int i) { slots[i].state.store(kFree, std::memory_order_release); }

void beginCommit() {
  int expected = kRunning;
  if (!phase.compare_exchange_strong(expected, kCommitting)) waitForTheEnd();
}

// A signal held during the commit ends the run now.
void endCommit() {
  phase.store(kRunning);
  const int signal = deferredSignal.exchange(0);
  if (signal == 0) return;
  int expected = kRunning;
  if (phase.compare_exchange_strong(expected, kEnding)) endInterrupted(signal);
  waitForTheEnd();
}

}  // namespace

namespace outputs {

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

Claim claimSlot(const std::string& tempPath, const std::string& finalPath) {
  if (tempPath.size() >= kPathCapacity) return Claim{};
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].state.load(std::memory_order_acquire) != kFree) continue;
    std::memcpy(slots[i].tempPath, tempPath.c_str(), tempPath.size() + 1);
    finalPaths[i] = finalPath;
    serials[i] = ++lastSerial;
    slots[i].state.store(kWriting, std::memory_order_release);
    return Claim{i, serials[i]};
  }
  return Claim{};
}

void markClosed(Claim claim) {
  if (claim.slot < 0 || serials[claim.slot] != claim.serial) return;
  if (slots[claim.slot].state.load() == kWriting) slots[claim.slot].state.store(kClosed, std::memory_order_release);
}

void abandonSlot(Claim claim) {
  if (claim.slot < 0 || serials[claim.slot] != claim.serial) return;
  if (slots[claim.slot].state.load() == kFree) return;
  unlink(slots[claim.slot].tempPath);
  freeSlot(claim.slot);
}

}  // namespace outputs

void commitOutputs() {
  beginCommit();
  std::string failedName;
  int failure = 0;
  for (int i = 0; i < kSlots && failure == 0; ++i) {
    const int state = slots[i].state.load();
    if (state == kFree) continue;
    // A file still open at the end of the run is unfinished.
    if (state == kWriting) {
      unlink(slots[i].tempPath);
    } else if (std::rename(slots[i].tempPath, finalPaths[i].c_str()) != 0) {
      failure = errno;
      failedName = finalPaths[i];
      continue;
    }
    freeSlot(i);
  }
  endCommit();
  if (failure != 0) stopRun("Write File " + failedName + " failed! " + std::strerror(failure) + "\n");
}

void discardOutputs() {
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].state.load() == kFree) continue;
    unlink(slots[i].tempPath);
    freeSlot(i);
  }
}

void installInterruptCleanup() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = onInterrupt;
    sigemptyset(&cleanup.sa_mask);
    for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&cleanup.sa_mask, other);
    cleanup.sa_flags = SA_RESTART;
    sigaction(signal, &cleanup, nullptr);
  }
}

}  // namespace ombra
