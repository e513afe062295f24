// Shared pieces of the fuzz targets: a work folder made once per process,
// writing the input to a file there (the readers only read files by path),
// turning the run's process exit into an exception the target can catch,
// and a check that aborts, so that the fuzzer reports a broken invariant.
#ifndef OMBRA_FUZZ_FUZZSUPPORT_H
#define OMBRA_FUZZ_FUZZSUPPORT_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace fuzz {

// Thrown by the end-of-run hook; the targets catch it where the program
// would have exited.
struct RunEnded {
  int status;
};

[[noreturn]] inline void throwRunEnded(int status) { throw RunEnded{status}; }

// Installs the hook, and silences the program's console output unless
// OMBRA_FUZZ_VERBOSE is set (useful when replaying one input).
inline void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  ombra::setEndRunHandler(throwRunEnded);
  if (std::getenv("OMBRA_FUZZ_VERBOSE") == nullptr) std::cout.setstate(std::ios::badbit);
}

// A folder of this process, made on first use and reused by every input.
inline const std::string& workDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ombra-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  // Removed when the fuzzer exits normally; a crash leaves it for a look.
  static const bool cleanup = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }) == 0;
  (void)cleanup;
  return dir;
}

inline std::string pathOf(const std::string& name) { return workDir() + "/" + name; }

inline std::string writeFile(const std::string& name, const void* data, size_t size) {
  const std::string path = pathOf(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

inline std::string writeFile(const std::string& name, const std::string& text) {
  return writeFile(name, text.data(), text.size());
}

// The program's error stops end with status 1, its normal early ends with 0.
inline void checkStatus(const RunEnded& ended) {
  if (ended.status != 0 && ended.status != 1) {
    std::fprintf(stderr, "run ended with status %d\n", ended.status);
    std::abort();
  }
}

}  // namespace fuzz

// An invariant that every accepted input must keep.
#define FUZZ_CHECK(condition)                                                                     \
  do {                                                                                            \
    if (!(condition)) {                                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);         \
      std::abort();                                                                               \
    }                                                                                             \
  } while (0)

#endif  // OMBRA_FUZZ_FUZZSUPPORT_H
