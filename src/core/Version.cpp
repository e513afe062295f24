#include "core/Version.h"

#ifndef OMBRA_VERSION
#define OMBRA_VERSION "unknown"
#endif
#ifndef OMBRA_COMMIT
#define OMBRA_COMMIT ""
#endif

namespace ombra {

std::string versionText() {
  std::string text = std::string("Ombra ") + OMBRA_VERSION;
  const std::string commit = OMBRA_COMMIT;
  if (!commit.empty()) text += " (commit " + commit + ")";
  return text + "\n";
}

}  // namespace ombra
