#include "core/language_list.hpp"

#include <optional>

#include "core/app.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kMenuOpen = "<lang_menu>";
constexpr std::string_view kMenuClose = "</lang_menu>";
constexpr std::string_view kEntryClose = "</menu>";
constexpr std::string_view kNameWord = "name";
constexpr std::string_view kLangWord = "lang";

// The text after the first c, or all of it when c is not there.
std::string_view after(std::string_view text, char c) {
  const auto at = text.find(c);
  return at == std::string_view::npos ? text : text.substr(at + 1);
}

std::string_view menu_text(std::string_view text) {
  const auto open = text.find(kMenuOpen);
  if (open == std::string_view::npos) return {};
  std::string_view menu = after(text.substr(open), '>');
  return menu.substr(0, menu.find(kMenuClose));
}

std::size_t count_entries(std::string_view menu) {
  std::size_t count = 0;
  for (auto at = menu.find(kEntryClose); at != std::string_view::npos;
       at = menu.find(kEntryClose, at + kEntryClose.size())) {
    ++count;
  }
  return count;
}

// The quoted value that follows the next occurrence of word; the text is
// left after its closing quote. A value without a closing quote runs to the
// end. Nothing when the word is not there.
std::optional<std::string> quoted_value_after(std::string_view& text, std::string_view word) {
  const auto at = text.find(word);
  if (at == std::string_view::npos) return std::nullopt;
  text = after(text.substr(at), '"');
  std::string value(text.substr(0, text.find('"')));
  text = after(text, '"');
  return value;
}

}  // namespace

std::vector<LanguageEntry> parse_language_list(std::string_view text) {
  std::vector<LanguageEntry> list;
  std::string_view rest = menu_text(text);
  const std::size_t count = count_entries(rest);
  for (std::size_t i = 0; i < count; ++i) {
    auto name = quoted_value_after(rest, kNameWord);
    if (!name) break;
    auto lang = quoted_value_after(rest, kLangWord);
    if (!lang) break;
    const auto close = rest.find(kEntryClose);
    if (close == std::string_view::npos) break;
    rest = after(rest.substr(close), '>');
    list.push_back({std::move(*name), std::move(*lang)});
  }
  return list;
}

std::vector<LanguageEntry> read_language_list(App& app, const std::string& path) {
  const std::optional<std::string> text = app.files().read(path);
  if (!text) return {};
  return parse_language_list(*text);
}

}  // namespace tarvel
