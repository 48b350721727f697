#pragma once

#include <string_view>

namespace tarvel {

// Whether a name read from a folder listing can be handed back to Files. A
// "\" in a name on disk would read as a folder separator in the launcher's
// path form, so the path would address some other entry: such a file is
// none of the launcher's, and deleting it could reach elsewhere.
[[nodiscard]] inline bool addressable_name(std::string_view name) {
  return name.find('\\') == std::string_view::npos;
}

}  // namespace tarvel
