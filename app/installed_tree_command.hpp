#pragma once

#include <string>

#include "update/verify.hpp"

namespace tarvel {

class App;

// What --verify prints of a checked tree.
[[nodiscard]] std::string tree_report_text(const TreeReport& report);

// "--verify": checks the installed tree against the records of what was
// installed and says what a repair would fetch. "--repair": fetches what is
// broken and checks again. Progress goes to standard error (one line redrawn
// on a terminal), the report to standard output. 0 when the tree is whole
// (after the repair), 1 when not.
int verify_command(App& app);
int repair_command(App& app);

}  // namespace tarvel
