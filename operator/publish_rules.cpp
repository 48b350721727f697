#include "operator/publish_rules.hpp"

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

bool label_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == '+';
}

}  // namespace

std::optional<std::string> refused_path_reason(std::string_view relative_path) {
  if (relative_path.empty()) return "has no name";
  if (auto reason = refused_character(relative_path)) return reason;
  if (!stays_inside(relative_path))
    return "leads out of its folder (\"..\", \":\" or a leading \"/\")";
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
  if (!stays_inside(prefix)) {
    return std::string(what) + " leads out of its folder (\"..\", \":\" or a leading \"/\")";
  }
  return std::nullopt;
}

}  // namespace tarvel
