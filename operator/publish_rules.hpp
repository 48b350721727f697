#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// Why a launcher could not fetch or place a file published under this path
// (relative to its package folder, "/" between folders), or nothing when it
// can. Launchers put a source path into an address as it is written, split
// a manifest line at its first comma, strip white space from target folders
// and refuse anything that leaves the application directory.
[[nodiscard]] std::optional<std::string> refused_path_reason(std::string_view relative_path);

// The path with its "." pieces and each "name/.." pair taken out
// ("GAMES/x/../slot/" gives "GAMES/slot/"), "/" or "\" between folders as
// given; nothing when a ".." climbs above the path's start.
[[nodiscard]] std::optional<std::string> folded_path(std::string_view path);

// Why a version or mandatory label cannot go into a header line, or nothing.
[[nodiscard]] std::optional<std::string> refused_label_reason(std::string_view label);

// Why a source prefix or target folder given for a whole package cannot be
// used, or nothing. what names the option in the message.
[[nodiscard]] std::optional<std::string> refused_prefix_reason(std::string_view prefix,
                                                               std::string_view what);

}  // namespace tarvel
