#pragma once

#include <string_view>

namespace tarvel {

// Names the file sink gives what an interrupted download leaves beside its
// target: ".<name>.tarvel-part" (the body so far) and ".<name>.tarvel-resume"
// (the note that lets the next run continue it); earlier launchers wrote to
// ".tarvel-part-<random>". Once a list has arrived such leftovers in its
// folders are removed, so no file of a package may carry such a name.
inline constexpr std::string_view kPartialSuffix = ".tarvel-part";
inline constexpr std::string_view kResumeSuffix = ".tarvel-resume";
inline constexpr std::string_view kOlderTemporaryPrefix = ".tarvel-part-";

[[nodiscard]] inline bool is_leftover_name(std::string_view name) {
  if (name.starts_with(kOlderTemporaryPrefix)) return true;
  if (name.size() < 2 || name.front() != '.') return false;
  for (const std::string_view suffix : {kPartialSuffix, kResumeSuffix}) {
    if (name.size() > suffix.size() + 1 && name.ends_with(suffix)) return true;
  }
  return false;
}

// Whether any folder or file name of a path ("/" or "\" between them) is
// the name of a leftover.
[[nodiscard]] inline bool holds_leftover_name(std::string_view path) {
  while (!path.empty()) {
    const auto end = path.find_first_of("/\\");
    if (is_leftover_name(path.substr(0, end))) return true;
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace tarvel
