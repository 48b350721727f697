#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarvel {

// The arguments of an operator tool: "--name value" options, "--name" flags
// and the plain arguments, in order.
struct CommandLine {
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
  std::vector<std::string> arguments;
  std::string error;  // what was wrong, "" when nothing

  [[nodiscard]] bool has(const std::string& name) const {
    return options.contains(name) || flags.contains(name);
  }
  [[nodiscard]] std::string value(const std::string& name,
                                  const std::string& otherwise = "") const {
    const auto found = options.find(name);
    return found == options.end() ? otherwise : found->second;
  }
};

// Reads argv[1...]; valued: the options that take a value; flags: those that
// do not. An unknown option, a missing value or an option given twice sets
// error.
[[nodiscard]] CommandLine parse_command_line(int argc, const char* const* argv,
                                             const std::set<std::string>& valued,
                                             const std::set<std::string>& flags);

// Reads a whole decimal number from min to max into out; false when the
// text is not one.
[[nodiscard]] bool read_number(const std::string& text, long long min, long long max,
                               long long& out);

}  // namespace tarvel
