// A progress line on standard error for a long step, only when standard
// error is a terminal, updated at most four times a second; standard output
// and the files are never touched.
#ifndef OMBRA_OUTPUTS_PROGRESS_H
#define OMBRA_OUTPUTS_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <string>

namespace ombra {

class Progress {
 public:
  // `what` names the step; `total` is the count that makes 100%.
  Progress(std::string what, size_t total);
  // Clears the line.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // `done` of the total are finished.
  void update(size_t done);

 private:
  void draw(size_t done);

  std::string label;
  size_t total;
  bool shown;
  std::chrono::steady_clock::time_point last;
};

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_PROGRESS_H
