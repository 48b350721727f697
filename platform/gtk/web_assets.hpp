#pragma once

#include <string_view>

namespace tarvel {

// The launcher's own web files, built into the program from web/bridge/.
// The bridge every movie page gets before its own scripts run.
[[nodiscard]] std::string_view bridge_script();
// The page that plays a .swf movie in the Flash emulator.
[[nodiscard]] std::string_view player_page();

}  // namespace tarvel
