// The text of --version, which the log repeats.
#ifndef OMBRA_CORE_VERSION_H
#define OMBRA_CORE_VERSION_H

#include <string>

namespace ombra {

// "Ombra VERSION", with the commit when built from a git checkout.
std::string versionText();

}  // namespace ombra

#endif  // OMBRA_CORE_VERSION_H
