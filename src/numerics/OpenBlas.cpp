#include "numerics/OpenBlas.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/ResourceLimits.h"
#include "core/RunEnd.h"

namespace ombra {

namespace {

// The address space OpenBLAS takes, measured with Debian's libopenblas0-pthread
// 0.3.21 (DYNAMIC_ARCH, MAX_THREADS=64) by reading VmSize around each step:
// loading the library maps 39 MB, and every buffer is BUFFER_SIZE (32 << 22
// bytes = 128 MB) and a page, kept until the process ends. Each of OpenBLAS's
// own threads holds a buffer from its start and has a default stack; every
// thread that calls a product (ours, or the one that hands it to OpenBLAS's
// threads) takes one more while the product runs. A run of T threads thus
// needs 2T - 1 buffers: T - 1 for OpenBLAS's threads and T for the callers.
constexpr double kLibraryBytes = 48.0 * 1048576.0;  // the 39 MB measured, and some
constexpr double kBufferBytes = 128.0 * 1048576.0 + 4096.0;
// What the rest of a run keeps free at least besides OpenBLAS: its data come
// after the library is loaded (an eighth of the room when that is more).
constexpr double kRunBytes = 64.0 * 1048576.0;

int buffersFor(int threads) { return 2 * threads - 1; }

// The most threads, up to `wanted`, whose OpenBLAS buffers and stacks (and
// the stacks of as many threads of ours) fit in `room` bytes of address
// space with the run's share left over; 0 when not even one does.
int threadsThatFit(double room, int wanted, double stack) {
  const double spare = room / 8 > kRunBytes ? room / 8 : kRunBytes;
  for (int threads = wanted; threads >= 1; --threads) {
    const double needed = kLibraryBytes + buffersFor(threads) * kBufferBytes + 2.0 * (threads - 1) * stack;
    if (needed + spare <= room) return threads;
  }
  return 0;
}

// How many of `wanted` - 1 further threads the system lets us start at once
// (a limit on processes or a pids cgroup may refuse some), plus this one.
int threadsTheSystemStarts(int wanted) {
  std::vector<std::thread> started;
  try {
    for (int i = 1; i < wanted; ++i) started.emplace_back([] {});
  } catch (const std::exception&) {
  }
  for (std::thread& thread : started) thread.join();
  return static_cast<int>(started.size()) + 1;
}

// Runs `body` (which may start OpenBLAS's threads) with the interrupt
// signals blocked in this thread, so that the threads started meanwhile,
// which inherit the mask, never take one: an interrupt must reach a thread
// of the run's own, whose handler removes the output files the run has
// registered (a signal taken by OpenBLAS's thread while the run's thread
// creates a file would leave that file behind). OpenBLAS raises SIGINT
// itself when it cannot start one of its threads, and then goes on with a
// thread table it cannot use or tear down; that SIGINT is told apart from
// one sent by someone else, which is delivered again once the signals are
// unblocked. Returns true when OpenBLAS raised it.
template <typename Body>
bool startsThreadsQuietly(Body body) {
  sigset_t held, previous, interrupt;
  sigemptyset(&held);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
  body();
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  bool raisedItself = false, sentByOthers = false;
  siginfo_t info{};
  const timespec now{0, 0};
  while (sigtimedwait(&interrupt, &info, &now) == SIGINT) {
    const bool own = info.si_code == SI_TKILL && info.si_pid == getpid();
    raisedItself = raisedItself || own;
    sentByOthers = sentByOthers || !own;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (sentByOthers) kill(getpid(), SIGINT);
  return raisedItself;
}

[[noreturn]] void stopForThreadStart() {
  stopRunAtOnce("OpenBLAS could not start its threads: the system refused to create one (a limit on processes "
                "or threads?). Please give fewer --threads.\n");
}

// openblas_set_num_threads, which starts threads when it raises the count.
void (*setLibraryThreads)(int) = nullptr;

void setThreadsQuietly(int count) {
  if (startsThreadsQuietly([count] { setLibraryThreads(count); })) stopForThreadStart();
}

std::string megabytes(double bytes) { return std::to_string(static_cast<long long>(bytes / 1048576.0 + 0.5)); }

template <typename Function>
void bind(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(handle, name));
}

// Maps the 2T - 1 buffers a run of T threads needs while the room is known
// to be there, and returns for how many threads they suffice (0: none, or
// the library lets no buffer be reserved). OpenBLAS's threads, started
// afterwards, take theirs from the pool; later products draw on it and never
// map one.
int reserveBuffers(void* handle, int threads) {
  void* (*allocate)(int) = nullptr;
  void (*release)(void*) = nullptr;
  bind(handle, "blas_memory_alloc", allocate);
  bind(handle, "blas_memory_free", release);
  if (allocate == nullptr || release == nullptr) return 0;
  std::vector<void*> buffers;
  for (int i = 0; i < buffersFor(threads); ++i) {
    // Checked each time: a mapping that fails here would never return.
    const double room = addressSpaceRoom();
    if (room >= 0 && room < kBufferBytes + kRunBytes / 2) break;
    buffers.push_back(allocate(0));
  }
  for (void* buffer : buffers) release(buffer);
  return (static_cast<int>(buffers.size()) + 1) / 2;
}

double neededBytes() { return kLibraryBytes + buffersFor(1) * kBufferBytes + kRunBytes; }
std::string neededMegabytes() { return megabytes(neededBytes()); }

void sayBuiltInKernels(double room) {
  std::cout << "OpenBLAS needs about " << neededMegabytes()
            << " MB of address space, more than the address-space limit leaves (" << megabytes(room)
            << " MB); the built-in kernels are used instead.\n";
}

OpenBlas loadLibrary(int wanted) {
  // OpenBLAS picks its kernels from the processor model when it is loaded,
  // and gives a model it does not know its slowest kernels (several times
  // slower on recent processors). Unless the user chose, name the kernels
  // from the instruction sets the processor and the system support.
  if (std::getenv("OPENBLAS_CORETYPE") == nullptr) {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
      setenv("OPENBLAS_CORETYPE", "SkylakeX", 0);
    } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
      setenv("OPENBLAS_CORETYPE", "Haswell", 0);
    }
  }
  // Between two products OpenBLAS's idle threads spin, yielding, for 2^28
  // cycles, taking a core from the decoding that runs between the
  // products; 2^4 lets them sleep at once (the results are the same).
  setenv("OPENBLAS_THREAD_TIMEOUT", "4", 0);
  OpenBlas library;
  library.threadRoom = wanted;
  // Without an address-space limit the buffers cost nothing until touched,
  // and the library is loaded as it always was.
  const double room = addressSpaceRoom();
  int threads = 0;
  if (room >= 0) {
    threads = threadsThatFit(room, wanted, threadStackBytes());
    if (threads > 1) threads = threadsTheSystemStarts(threads);
    if (threads == 0) {
      sayBuiltInKernels(room);
      library.heldBack = true;
      return library;
    }
    // Its threads start once the buffers are mapped (see reserveBuffers).
    setenv("OPENBLAS_NUM_THREADS", "1", 1);
  }
  void* handle = nullptr;
  if (startsThreadsQuietly([&handle] { handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL); })) {
    stopForThreadStart();
  }
  if (handle == nullptr) return library;
  bind(handle, "cblas_dsyrk", library.dsyrk);
  bind(handle, "cblas_ssyrk", library.ssyrk);
  bind(handle, "cblas_dgemm", library.dgemm);
  bind(handle, "cblas_sgemm", library.sgemm);
  bind(handle, "dsytrd_", library.dsytrd);
  bind(handle, "dsterf_", library.dsterf);
  bind(handle, "dstemr_", library.dstemr);
  bind(handle, "dormtr_", library.dormtr);
  bind(handle, "dsyev_", library.dsyev);
  bind(handle, "dsyevd_", library.dsyevd);
  bind(handle, "dpotrf_", library.dpotrf);
  bind(handle, "cblas_dtrsm", library.dtrsm);
  bind(handle, "openblas_set_num_threads", setLibraryThreads);
  if (setLibraryThreads != nullptr) library.setThreads = setThreadsQuietly;
  if (threads == 0 || !library.loaded()) return library;
  threads = reserveBuffers(handle, threads);
  if (threads == 0) {
    sayBuiltInKernels(addressSpaceRoom());
    library = OpenBlas();
    library.threadRoom = wanted;
    library.heldBack = true;
    return library;
  }
  library.setThreads(threads);
  if (threads < wanted) {
    library.threadRoom = threads;
    std::cout << "OpenBLAS's buffers leave room for " << threads << (threads == 1 ? " thread" : " threads")
              << " under the address-space limit; the run uses " << threads << " instead of " << wanted << ".\n";
  }
  return library;
}

}  // namespace

const OpenBlas& loadOpenBlas(int threads) {
  static const OpenBlas library = loadLibrary(threads < 1 ? 1 : threads);
  return library;
}

const OpenBlas& openBlas() { return loadOpenBlas(1); }

void setBlasThreads(int count) {
  const OpenBlas& library = openBlas();
  if (library.loaded()) library.setThreads(count < 1 ? 1 : count);
}

void requireOpenBlas(const std::string& what, const std::string& alternative) {
  if (!openBlas().heldBack) return;
  stopRun(what + " need OpenBLAS, which the address-space limit (ulimit -v) keeps out: without it they would "
          "differ in their last digits from a run without the limit. Please raise the limit by about " +
          megabytes(std::max(neededBytes() - addressSpaceRoom(), 1048576.0)) + " MB." + (alternative.empty() ? "" : " " + alternative) + "\n");
}

}  // namespace ombra
