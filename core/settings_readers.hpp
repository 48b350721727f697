#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_lines.hpp"

namespace tarvel {

class App;
class Settings;

inline constexpr const char* kSettingsFileName = "setup.xml";
inline constexpr const char* kConfigFileName = "Config.xml";
// The setup.xml key that names the launcher's own program file.
inline constexpr const char* kExeNameKey = "exe_name";
inline constexpr const char* kLanguageFileName = "app-popup\\abb_language.xml";
inline constexpr const char* kConfigNotFound = "not found";
inline constexpr const char* kFileAccessProblem = "File access Problem";
inline constexpr const char* kErrorCaption = "ERROR!!";

// Resets the key-table defaults and the values start-up expects fresh.
void apply_defaults(Settings& settings);

// Reads "setup.xml" into the record. A missing file changes nothing; once a
// file was read, a key it does not name becomes "".
void read_settings_file(App& app);

// The value setup.xml's reader gives key in this text: the last line that
// starts with key + "=" (after white space) holds it; "" when none does.
[[nodiscard]] std::string settings_value(std::string_view text, std::string_view key);

// The value of the first line of the file that starts with key + "=", or "".
// A file that cannot be opened shows "File access Problem" first.
[[nodiscard]] std::string read_key_from_file(App& app, const std::string& path,
                                             const std::string& key);

// Text of the named child of "Config.xml"'s first element, read afresh each
// call, or "not found". The text is trimmed and each run of white space in it
// becomes one space.
[[nodiscard]] std::string read_config_value(App& app, const std::string& name);

// What is wrong with "Config.xml" in a line for the player ("Config.xml is
// not XML: line 3, ..."), or "" when it reads.
[[nodiscard]] std::string config_file_problem(App& app);

// Whether "Config.xml" holds the named element at all, and its text as
// read_config_value reads it: nothing when it holds none (or there is no
// file); "" when the element is there without a text (empty, white space, a
// comment). A file that is not XML but names the element counts as holding
// it, without a text: for a setting whose presence matters.
[[nodiscard]] std::optional<std::string> read_config_element(App& app, const std::string& name);

// The same readers over Config.xml's text already in memory.
[[nodiscard]] std::string config_value(std::string_view text, const std::string& name);
[[nodiscard]] std::optional<std::string> config_element(std::string_view text,
                                                        const std::string& name);

// Picks the default language code from the language file with the first
// entry of the Languages configuration value.
void load_default_language(App& app);

// Leading white space skipped, an optional sign, then digits; 0 when the text
// does not start with a number. Clamped to the range of a 32-bit integer.
[[nodiscard]] int decimal_prefix(std::string_view text);

}  // namespace tarvel
