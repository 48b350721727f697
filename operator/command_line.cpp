#include "operator/command_line.hpp"

#include <charconv>

namespace tarvel {

CommandLine parse_command_line(int argc, const char* const* argv,
                               const std::set<std::string>& valued,
                               const std::set<std::string>& flags) {
  CommandLine line;
  for (int i = 1; i < argc && line.error.empty(); ++i) {
    const std::string word = argv[i];
    // A flag may be short ("-h"); any other word without "--" is an argument.
    if (!flags.contains(word) && (!word.starts_with("--") || word == "--")) {
      line.arguments.push_back(word);
    } else if (line.has(word)) {
      line.error = word + " is given twice";
    } else if (flags.contains(word)) {
      line.flags.insert(word);
    } else if (!valued.contains(word)) {
      line.error = "unknown option " + word;
    } else if (i + 1 >= argc) {
      line.error = word + " needs a value";
    } else {
      line.options[word] = argv[++i];
    }
  }
  return line;
}

bool read_number(const std::string& text, long long min, long long max, long long& out) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < min || value > max) {
    return false;
  }
  out = value;
  return true;
}

}  // namespace tarvel
