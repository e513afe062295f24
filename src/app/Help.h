// The text of --help.
#ifndef OMBRA_APP_HELP_H
#define OMBRA_APP_HELP_H

#include <string>

namespace ombra {

// Every option, what it takes and its default, grouped.
const char* helpText();

}  // namespace ombra

#endif  // OMBRA_APP_HELP_H
