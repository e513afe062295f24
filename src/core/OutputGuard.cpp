// Outputs never overwrite the run's inputs.
#include <sys/stat.h>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputFile.h"

namespace ombra {

void refuseOutputsThatAreInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (const std::string& output : outputs) {
    struct stat written {};
    if (stat(output.c_str(), &written) != 0) continue;
    for (const std::string& input : inputs) {
      struct stat read {};
      if (stat(input.c_str(), &read) != 0) continue;
      if (read.st_dev == written.st_dev && read.st_ino == written.st_ino) {
        stopRun("The output file " + output + " is the input file " + input +
                ": an input is never overwritten. Please give the output another name.\n");
      }
    }
  }
}

}  // namespace ombra
