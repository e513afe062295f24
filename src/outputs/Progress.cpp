#include "outputs/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace ombra {

Progress::Progress(std::string what, size_t count)
    : label(std::move(what)), total(count), shown(isatty(STDERR_FILENO) == 1), last() {}

Progress::~Progress() {
  if (!shown || last == std::chrono::steady_clock::time_point()) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label.size()) + 24, "");
  std::fflush(stderr);
}

void Progress::update(size_t done) {
  if (!shown) return;
  const auto now = std::chrono::steady_clock::now();
  if (last != std::chrono::steady_clock::time_point() && now - last < std::chrono::milliseconds(250)) return;
  last = now;
  draw(done);
}

void Progress::draw(size_t done) {
  const double percent = total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total);
  std::fprintf(stderr, "\r%s: %5.1f%% (%zu of %zu)", label.c_str(), percent, done, total);
  std::fflush(stderr);
}

}  // namespace ombra
