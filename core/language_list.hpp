#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class App;

// One language the client offers: its code (the menu entry's "name") and its
// path (the entry's "lang").
struct LanguageEntry {
  std::string name;
  std::string lang;
  bool operator==(const LanguageEntry&) const = default;
};

// The entries of the language menu file, in file order. The menu is the text
// between "<lang_menu>" and "</lang_menu>"; each entry carries a name and a
// lang value in double quotes and is closed by "</menu>". The file is scanned
// as text, not parsed: words and quotes are matched, nothing else. A file
// without a menu gives no entries; an entry that lacks its name, its lang or
// its closing "</menu>" ends the list (the entries before it are kept).
[[nodiscard]] std::vector<LanguageEntry> parse_language_list(std::string_view text);

// The same, read from a file (launcher path); a missing file gives no entries.
[[nodiscard]] std::vector<LanguageEntry> read_language_list(App& app, const std::string& path);

}  // namespace tarvel
