// The texts of --help and --version.
#ifndef OMBRA_HELP_H
#define OMBRA_HELP_H

#include <string>

namespace ombra {

// Every option, what it takes and its default, grouped.
const char* helpText();
// "Ombra VERSION", with the commit when built from a git checkout.
std::string versionText();

}  // namespace ombra

#endif  // OMBRA_HELP_H
