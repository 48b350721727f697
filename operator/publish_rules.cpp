#include "operator/publish_rules.hpp"

#include <algorithm>
#include <vector>

#include "core/text_lines.hpp"
#include "platform/leftover_names.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionMarker = "$version";

// Characters a path of an address may hold as they are: letters, digits,
// "-._~", the sub-delimiters other than the comma, "@" and "/".
bool address_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("-._~!$&'()*+;=@/").find(c) != std::string_view::npos;
}

// The first character of a name or prefix that a launcher cannot carry
// through a manifest line and an address unchanged.
std::optional<std::string> refused_character(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return "holds a control character";
    if (byte >= 0x80) return "holds a byte outside ASCII, which an address cannot carry as it is";
    if (c == ',') return "holds a comma, which ends the source of a manifest line";
    if (c == ' ') {
      return "holds a space, which launchers drop from target folders and addresses cannot carry";
    }
    if (c == '\\') return "holds a backslash, which launchers read as a folder separator";
    if (!address_character(c)) {
      return std::string("holds '") + c + "', which an address cannot carry as it is";
    }
  }
  if (contains(text, kVersionMarker)) {
    return "holds \"$version\", which would make its line a version header";
  }
  return std::nullopt;
}

// The one way the path leaves its folder, in words; nothing when it stays.
std::optional<std::string> leaving_reason(std::string_view path) {
  if (stays_inside(path)) return std::nullopt;
  if (path.front() == '/' || path.front() == '\\') {
    return "starts with \"" + std::string(1, path.front()) +
           "\", which launchers take for a path from the root";
  }
  if (path.find(':') != std::string_view::npos) {
    return "holds \":\", which launchers read as a drive or a stream";
  }
  return "leads out of its folder (\"..\" climbs above where it starts)";
}

bool label_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == '+';
}

}  // namespace

std::optional<std::string> refused_path_reason(std::string_view relative_path) {
  if (relative_path.empty()) return "has no name";
  if (auto reason = refused_character(relative_path)) return reason;
  if (auto reason = leaving_reason(relative_path)) return reason;
  if (holds_leftover_name(relative_path)) {
    return "is named like what an interrupted download leaves (.NAME.tarvel-part, "
           ".NAME.tarvel-resume), which launchers sweep away";
  }
  const auto separator = relative_path.find_last_of("/\\");
  const std::string_view name =
      separator == std::string_view::npos ? relative_path : relative_path.substr(separator + 1);
  if (is_install_file_name(name)) {
    return "is named like a launcher's own files of an installation (.NAME.tarvel-new, "
           "NAME.tarvel-journal)";
  }
  return std::nullopt;
}

std::optional<std::string> refused_label_reason(std::string_view label) {
  if (label.empty()) return "is empty";
  for (const char c : label) {
    if (!label_character(c)) return "may hold only letters, digits and . - _ +";
  }
  return std::nullopt;
}

std::optional<std::string> refused_prefix_reason(std::string_view prefix, std::string_view what) {
  if (prefix.empty()) return std::nullopt;
  if (auto reason = refused_character(prefix)) return std::string(what) + " " + *reason;
  if (auto reason = leaving_reason(prefix)) return std::string(what) + " " + *reason;
  return std::nullopt;
}

std::optional<std::string> folded_path(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.front() == '\\') return std::string(path);
  std::vector<std::string_view> kept;
  const bool folder = path.back() == '/' || path.back() == '\\';
  const char separator = path.find('\\') != std::string_view::npos ? '\\' : '/';
  for (std::size_t start = 0; start < path.size();) {
    const auto end = std::min(path.find_first_of("/\\", start), path.size());
    const std::string_view piece = path.substr(start, end - start);
    start = end + 1;
    if (piece.empty() || piece == ".") continue;
    if (piece != "..") {
      kept.push_back(piece);
    } else if (kept.empty()) {
      return std::nullopt;
    } else {
      kept.pop_back();
    }
  }
  std::string folded;
  for (const std::string_view piece : kept) {
    if (!folded.empty()) folded += separator;
    folded += piece;
  }
  if (folder && !folded.empty()) folded += separator;
  return folded;
}

}  // namespace tarvel
