#pragma once

#include <string_view>
#include <vector>

namespace tarvel {

// Calls fn with each line of a text as a file read in text mode gives them:
// split at "\n", one "\r" before it dropped, a last line without "\n" kept,
// no empty line after a final "\n". Builds no list: manifests run to
// 100,000 lines.
template <typename Fn>
void for_each_line(std::string_view text, Fn&& fn) {
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    fn(line);
    start = end + 1;
  }
}

// The same lines as a list.
[[nodiscard]] inline std::vector<std::string_view> text_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for_each_line(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

// Whether part occurs anywhere in text (an empty part always does).
[[nodiscard]] inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace tarvel
