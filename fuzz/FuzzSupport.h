// Shared pieces of the fuzz targets: a work folder made once per process,
// writing the input to a file there (the readers only read files by path),
// settling a run's stop as the program does,
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

// The stop a run ends with; the targets catch it where the program's main
// would.
using RunEnded = ombra::RunStop;

// Silences the program's console output unless OMBRA_FUZZ_VERBOSE is set
// (useful when replaying one input).
inline void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
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

// Settles the stop as the program's main does (its outputs committed or
// removed, its log finished), so that the next input starts afresh. The
// program's error stops end with status 1, its normal early ends with 0.
inline void checkStatus(const RunEnded& ended) {
  if (ombra::finishRun(ended) > 1 || ended.status > 1 || ended.status < 0) {
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
