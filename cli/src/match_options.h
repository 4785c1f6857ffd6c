#pragma once
// The options that say what to find, shared by find and by capture's --until.

#include "analysis/search.h"

#include <string>

namespace CLI {
class App;
}

namespace pulsara::cli {

// --signal, --edge, --pulse, --shorter, --longer, --value, --mask, --pattern, -P, -A,
// --text and --regex, into `words`.
void AddMatchOptions(CLI::App& cmd, analysis::MatchWords& words);

// A time from the trigger with its sign and a unit that keeps it short: +0ns, -250ns,
// +1.5us, -16.378ms.
[[nodiscard]] std::string TimeText(double ns);

} // namespace pulsara::cli
