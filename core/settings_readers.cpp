#include "core/settings_readers.hpp"

#include <tinyxml2.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>

#include "core/app.hpp"

namespace tarvel {
namespace {

// The keys of setup.xml in the order the reader checks them.
enum KeyIndex { kUrl, kVersion, kCommonInstall, kCommonUpdate, kCommonUrl, kExeName, kFirstLog,
                kAurl, kUpdate, kGameUrl, kMaxConnections, kMaxKbps, kUrlMirrors,
                kCommonUrlMirrors, kGameUrlMirrors, kKeyCount };
constexpr std::array<const char*, kKeyCount> kKeys = {
    "url", "version", "common_install", "common_update", "common_url",
    "exe_name", "first_log", "aurl", "update", "game_url", "max_connections", "max_kbps",
    "url_mirrors", "common_url_mirrors", "game_url_mirrors"};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// setup.xml's reader skips white space, blank lines included, before each line.
std::vector<std::string_view> settings_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::string_view line : text_lines(text)) {
    std::size_t start = 0;
    while (start < line.size() && is_space(line[start])) ++start;
    if (start < line.size()) lines.push_back(line.substr(start));
  }
  return lines;
}

// A count of connections: anything below one (or no number at all) means
// the default, and a count past the limit is held to it, so that a typo
// cannot open hundreds of connections.
int connections_from(std::string_view text) {
  const int count = decimal_prefix(text);
  if (count < 1) return kDefaultMaxConnections;
  return std::min(count, kMostConnections);
}

void store_key_table(Settings& settings, const std::array<std::string, kKeyCount>& table) {
  settings.locked([&](SettingsValues& v) {
    v.url = table[kUrl];
    v.version = table[kVersion];
    v.common_install = table[kCommonInstall];
    v.common_update = table[kCommonUpdate];
    v.common_url = table[kCommonUrl];
    v.exe_name = table[kExeName];
    v.first_log = table[kFirstLog];
    v.aurl = table[kAurl];
    if (!table[kUpdate].empty()) v.update = decimal_prefix(table[kUpdate]);
    v.game_url = table[kGameUrl];
    if (!table[kMaxConnections].empty()) {
      v.max_connections = connections_from(table[kMaxConnections]);
    }
    // Missing, zero or no number at all: no cap.
    v.max_kbps = std::max(0, decimal_prefix(table[kMaxKbps]));
    v.url_mirrors = table[kUrlMirrors];
    v.common_url_mirrors = table[kCommonUrlMirrors];
    v.game_url_mirrors = table[kGameUrlMirrors];
  });
}

// Value of a line that starts with key + "=", or nothing.
std::optional<std::string_view> value_for(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
    return std::nullopt;
  }
  return line.substr(key.size() + 1);
}

std::string default_language_from(std::string_view text, std::string_view word) {
  for (std::string_view line : text_lines(text)) {
    if (line.empty() || line.find(word) == std::string_view::npos) continue;
    const auto quote = line.find('"');
    const std::size_t start = quote == std::string_view::npos ? 0 : quote + 1;
    return std::string(line.substr(start, 2));
  }
  return {};
}

}  // namespace

int decimal_prefix(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void apply_defaults(Settings& settings) {
  settings.locked([](SettingsValues& v) {
    v.url = "";
    v.version = "$version-1.1";
    v.common_install = "common_install.xml";
    v.common_update = "common_update.xml";
    v.update = 0;
    v.error_file_name = "error.txt";
    v.restart_pending = 0;
    v.language_changed = false;
  });
}

void read_settings_file(App& app) {
  const auto text = app.files().read(kSettingsFileName);
  if (!text) return;
  std::array<std::string, kKeyCount> table;
  // Lines are taken whole whatever their length: cutting one would let its
  // tail be read as a line of its own.
  for (std::string_view line : settings_lines(*text)) {
    for (std::size_t k = 0; k < kKeyCount; ++k) {
      if (auto value = value_for(line, kKeys[k])) table[k] = std::string(*value);
    }
  }
  store_key_table(app.settings(), table);
}

std::string settings_value(std::string_view text, std::string_view key) {
  std::string found;
  for (std::string_view line : settings_lines(text)) {
    if (auto value = value_for(line, key)) found = std::string(*value);
  }
  return found;
}

std::string read_key_from_file(App& app, const std::string& path, const std::string& key) {
  const auto text = app.files().read(path);
  if (!text) {
    app.message_box().show(kFileAccessProblem, kErrorCaption);
    return {};
  }
  for (std::string_view line : text_lines(*text)) {
    if (auto value = value_for(line, key)) return std::string(*value);
  }
  return {};
}

std::string read_config_value(App& app, const std::string& name) {
  const auto text = app.files().read(kConfigFileName);
  return text ? config_value(*text, name) : kConfigNotFound;
}

std::optional<std::string> read_config_element(App& app, const std::string& name) {
  const auto text = app.files().read(kConfigFileName);
  if (!text) return std::nullopt;
  return config_element(*text, name);
}

std::string config_value(std::string_view text, const std::string& name) {
  const std::optional<std::string> value = config_element(text, name);
  return value && !value->empty() ? *value : kConfigNotFound;
}

std::optional<std::string> config_element(std::string_view text, const std::string& name) {
  // Values are trimmed and inner runs of white space become one space, so a
  // pretty-printed file (a value on a line of its own, indented) reads the
  // same as a compact one.
  tinyxml2::XMLDocument document(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
    if (contains(text, "<" + name)) return std::string();
    return std::nullopt;
  }
  const tinyxml2::XMLElement* root = document.FirstChildElement();
  const tinyxml2::XMLElement* element =
      root == nullptr ? nullptr : root->FirstChildElement(name.c_str());
  if (element == nullptr) return std::nullopt;
  const tinyxml2::XMLNode* first = element->FirstChild();
  const tinyxml2::XMLText* value = first == nullptr ? nullptr : first->ToText();
  if (value == nullptr || value->Value() == nullptr) return std::string();
  return std::string(value->Value());
}

std::string config_file_problem(App& app) {
  const std::string name = kConfigFileName;
  const auto text = app.files().read(kConfigFileName);
  if (!text) {
    return name + " cannot be read: the launcher has no request service, no games and no icon";
  }
  tinyxml2::XMLDocument document;
  if (document.Parse(text->data(), text->size()) != tinyxml2::XML_SUCCESS) {
    std::string words = document.ErrorName();
    if (words.starts_with("XML_ERROR_")) words = words.substr(10);
    for (char& c : words) {
      c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const int line = document.ErrorLineNum();
    return name + " is not XML: " + (line > 0 ? "line " + std::to_string(line) + ", " : "") +
           words + "; every value of it reads as \"not found\"";
  }
  if (document.FirstChildElement() == nullptr) {
    return name + " holds no element; every value of it reads as \"not found\"";
  }
  return {};
}

void load_default_language(App& app) {
  const std::string languages = read_config_value(app, "Languages");
  const std::string word = languages.substr(0, languages.find(','));
  // Without the file the code is "", as when no line qualifies.
  const auto text = app.files().read(kLanguageFileName);
  app.settings().set_default_language(text ? default_language_from(*text, word) : "");
}

}  // namespace tarvel
