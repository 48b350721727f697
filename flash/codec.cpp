#include "flash/codec.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kNameAttribute = "name=";
constexpr std::string_view kArgumentsOpen = "<arguments>";
constexpr std::string_view kArgumentsClose = "</arguments>";
constexpr std::string_view kStringOpen = "<string>";
constexpr std::string_view kStringClose = "</string>";

std::string name_of(const std::string& request) {
  const auto attribute = request.find(kNameAttribute);
  if (attribute == std::string::npos) return request;
  const auto quote = request.find('"', attribute);
  if (quote == std::string::npos) return request;
  const auto end = request.find('"', quote + 1);
  return request.substr(quote + 1, end == std::string::npos ? std::string::npos : end - quote - 1);
}

std::vector<std::string> arguments_of(const std::string& request) {
  std::vector<std::string> arguments;
  const auto open = request.find(kArgumentsOpen);
  if (open == std::string::npos || request.find(kArgumentsClose) == std::string::npos) {
    return arguments;
  }
  std::size_t scan = open;
  while (true) {
    const auto start = request.find(kStringOpen, scan);
    const auto end = request.find(kStringClose, scan);
    if (start == std::string::npos || end == std::string::npos) break;
    const auto text_start = start + kStringOpen.size();
    // A close tag before the next open tag is malformed: stop there.
    if (end < text_start) break;
    arguments.push_back(request.substr(text_start, end - text_start));
    scan = end + kStringClose.size();
  }
  return arguments;
}

}  // namespace

std::string narrow(std::u16string_view wide) {
  std::string text(wide.size(), '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) text[i] = static_cast<char>(wide[i] & 0xFF);
  return text;
}

WideText widen(std::string_view text) {
  WideText wide(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
  }
  return wide;
}

ParsedRequest parse_request(std::u16string_view request) {
  const std::string text = narrow(request);
  return ParsedRequest{name_of(text), arguments_of(text)};
}

std::string build_invoke(std::string_view name, const std::vector<std::string>& arguments) {
  std::string call = "<invoke name=\"";
  call += name;
  call += "\" returntype=\"xml\"><arguments>";
  for (const std::string& argument : arguments) {
    call += kStringOpen;
    call += argument;
    call += kStringClose;
  }
  call += kArgumentsClose;
  call += "</invoke>";
  return call;
}

WideText build_add_text_call(std::string_view text) {
  return widen(build_invoke("addText", {std::string(text)}));
}

std::optional<std::string> add_text_of(std::u16string_view request) {
  static const std::string kEmpty = build_invoke("addText", {""});
  static const std::string_view kBefore =
      std::string_view(kEmpty).substr(0, kEmpty.find(kStringOpen) + kStringOpen.size());
  static const std::string_view kAfter = std::string_view(kEmpty).substr(kBefore.size());
  const std::string text = narrow(request);
  if (text.size() < kEmpty.size() || !text.starts_with(kBefore) || !text.ends_with(kAfter)) {
    return std::nullopt;
  }
  return text.substr(kBefore.size(), text.size() - kEmpty.size());
}

}  // namespace tarvel
