// The run's table of temporary files, its commit and discard, and the
// signal handler that removes the files of an interrupted run.
//
// The handler may run on any thread at any moment, so it reads only the
// table's fixed slots (a state flag and a path buffer each, published with
// release stores) and calls only unlink, write, the log's own safe step and
// _exit. The table grows by chunks of slots that are linked in once built
// and never moved or freed, so that the handler can walk it whatever the run
// is doing. The renames of a commit and the removals of the handler exclude
// each other through `phase`: a signal that arrives during a commit is held
// until the commit is done.
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

constexpr int kChunkSlots = 64;
constexpr size_t kPathCapacity = 4096 + 64;  // PATH_MAX and the temporary suffix

enum SlotState : int { kFree, kWriting, kClosed };
enum Phase : int { kRunning, kCommitting, kEnding };
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free flags");
static_assert(std::atomic<void*>::is_always_lock_free, "the signal handler needs lock-free links");

struct Slot {
  std::atomic<int> state{kFree};
  char tempPath[kPathCapacity];
};

struct Chunk {
  Slot slots[kChunkSlots];
  std::atomic<Chunk*> next{nullptr};
  // Read and written by the run's own thread only.
  std::string finalPaths[kChunkSlots];
  long serials[kChunkSlots] = {};
};

Chunk firstChunk;
long lastSerial = 0;

std::atomic<int> phase{kRunning};
std::atomic<int> deferredSignal{0};

// The chunk holding slot `index` (counted over the whole table) and the
// slot's place in it; null past the table's end.
Chunk* chunkOf(int index, int& place) {
  Chunk* chunk = &firstChunk;
  for (int k = index / kChunkSlots; k > 0 && chunk != nullptr; --k) chunk = chunk->next.load(std::memory_order_acquire);
  place = index % kChunkSlots;
  return chunk;
}

// Calls `visit(slot, finalPath)` for every slot of the table, in order.
template <typename Visit>
void forEachSlot(Visit visit) {
  for (Chunk* chunk = &firstChunk; chunk != nullptr; chunk = chunk->next.load(std::memory_order_acquire)) {
    for (int i = 0; i < kChunkSlots; ++i) visit(chunk->slots[i], chunk->finalPaths[i]);
  }
}

const char* interruptLine(int signal) {
  switch (signal) {
    case SIGINT:
      return "Interrupted by SIGINT: the run was stopped and its unfinished output files were removed.\n";
    case SIGHUP:
      return "Interrupted by SIGHUP: the run was stopped and its unfinished output files were removed.\n";
    case SIGPIPE:
      return "Interrupted by SIGPIPE: the run was stopped and its unfinished output files were removed.\n";
    default:
      return "Interrupted by SIGTERM: the run was stopped and its unfinished output files were removed.\n";
  }
}

void (*signalLog)(const char* line, int status) = nullptr;

[[noreturn]] void endInterrupted(int signal) {
  forEachSlot([](Slot& slot, const std::string&) {
    if (slot.state.load(std::memory_order_acquire) != kFree) unlink(slot.tempPath);
  });
  const char* line = interruptLine(signal);
  const ssize_t written = write(STDOUT_FILENO, line, std::strlen(line));
  (void)written;
  if (signalLog != nullptr) signalLog(line, 128 + signal);
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

void freeSlot(Slot& slot) { slot.state.store(kFree, std::memory_order_release); }

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

// The signals a run ends on, removing its temporary files.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The slot of `claim`, or null when the claim is no longer its holder's.
Slot* claimedSlot(outputs::Claim claim) {
  if (claim.slot < 0) return nullptr;
  int place = 0;
  Chunk* chunk = chunkOf(claim.slot, place);
  return chunk != nullptr && chunk->serials[place] == claim.serial ? &chunk->slots[place] : nullptr;
}

// A new chunk of free slots after the last one; returns the first slot's
// index over the table.
int growTable() {
  int index = 0;
  Chunk* last = &firstChunk;
  for (Chunk* next = last->next.load(); next != nullptr; next = next->next.load()) {
    last = next;
    index += kChunkSlots;
  }
  last->next.store(new Chunk, std::memory_order_release);
  return index + kChunkSlots;
}

}  // namespace

namespace outputs {

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kEndingSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

Claim claimSlot(const std::string& tempPath, const std::string& finalPath) {
  if (tempPath.size() >= kPathCapacity) return Claim{};
  int index = 0;
  int found = -1;
  forEachSlot([&](Slot& slot, const std::string&) {
    if (found < 0 && slot.state.load(std::memory_order_acquire) == kFree) found = index;
    ++index;
  });
  if (found < 0) found = growTable();
  int place = 0;
  Chunk* chunk = chunkOf(found, place);
  Slot& slot = chunk->slots[place];
  std::memcpy(slot.tempPath, tempPath.c_str(), tempPath.size() + 1);
  chunk->finalPaths[place] = finalPath;
  chunk->serials[place] = ++lastSerial;
  slot.state.store(kWriting, std::memory_order_release);
  return Claim{found, lastSerial};
}

void markClosed(Claim claim) {
  Slot* slot = claimedSlot(claim);
  if (slot != nullptr && slot->state.load() == kWriting) slot->state.store(kClosed, std::memory_order_release);
}

void abandonSlot(Claim claim) {
  Slot* slot = claimedSlot(claim);
  if (slot == nullptr || slot->state.load() == kFree) return;
  unlink(slot->tempPath);
  freeSlot(*slot);
}

}  // namespace outputs

void commitOutputs() {
  beginCommit();
  std::string failedName;
  int failure = 0;
  forEachSlot([&](Slot& slot, const std::string& finalPath) {
    const int state = slot.state.load();
    if (state == kFree || failure != 0) return;
    // A file still open at the end of the run is unfinished.
    if (state == kWriting) {
      unlink(slot.tempPath);
    } else if (std::rename(slot.tempPath, finalPath.c_str()) != 0) {
      failure = errno;
      failedName = finalPath;
      return;
    }
    freeSlot(slot);
  });
  endCommit();
  if (failure != 0) stopRun("Write File " + failedName + " failed! " + std::strerror(failure) + "\n");
}

void discardOutputs() {
  forEachSlot([](Slot& slot, const std::string&) {
    if (slot.state.load() == kFree) return;
    unlink(slot.tempPath);
    freeSlot(slot);
  });
}

void installInterruptCleanup() {
  // A file size limit fails the write (EFBIG), which stops the run with its
  // message, instead of killing the process with its temporary files left.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int signal : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = onInterrupt;
    sigemptyset(&cleanup.sa_mask);
    for (int other : kEndingSignals) sigaddset(&cleanup.sa_mask, other);
    cleanup.sa_flags = SA_RESTART;
    sigaction(signal, &cleanup, nullptr);
  }
}

void setSignalLog(void (*step)(const char* line, int status)) { signalLog = step; }

RunSettling::RunSettling() {
  int expected = kRunning;
  if (!phase.compare_exchange_strong(expected, kEnding)) waitForTheEnd();
}

RunSettling::~RunSettling() { phase.store(kRunning); }

}  // namespace ombra
