#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// One line of a movie script: when something happens, the movie sends
// something. See docs/movie-scripts.md for the format.
struct MovieRule {
  enum class Trigger { text, prefix, after };
  enum class Action { command, call };

  Trigger trigger = Trigger::text;
  std::string match;           // text or prefix a received text is compared with
  int occurrence = 0;          // only the n-th match (from 1); 0: every match
  std::uint64_t after_ms = 0;  // Trigger::after: time since the movie was loaded
  Action action = Action::command;
  std::string name;                    // command, or the function a call names
  std::vector<std::string> arguments;  // command: its argument; call: its strings

  bool operator==(const MovieRule&) const = default;
};

struct MovieScript {
  std::vector<MovieRule> rules;
  // Lines that could not be read, as "line N: reason"; the rest still plays.
  std::vector<std::string> problems;
};

[[nodiscard]] MovieScript parse_movie_script(std::string_view text);

// The action half of a rule on its own ("command C [A]", "call NAME [S...]"),
// as a person types it for a console movie. Null when it was read into rule;
// otherwise what is wrong with it.
[[nodiscard]] const char* parse_movie_action(std::string_view line, MovieRule& rule);

}  // namespace tarvel
