#include "platform/headless/movie_script.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace tarvel {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A quoted word: "..." with \" \\ \n \t escapes. Returns false when the
// closing quote is missing.
bool read_quoted(std::string_view line, std::size_t& at, std::string& out) {
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\' && at + 1 < line.size()) {
      c = line[++at];
      if (c == 'n') c = '\n';
      if (c == 't') c = '\t';
    }
    out += c;
  }
  return false;
}

std::optional<std::vector<Token>> tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t at = 0;
  while (true) {
    while (at < line.size() && is_space(line[at])) ++at;
    if (at >= line.size()) return tokens;
    Token token;
    if (line[at] == '"') {
      token.quoted = true;
      if (!read_quoted(line, at, token.text)) return std::nullopt;
    } else {
      while (at < line.size() && !is_space(line[at])) token.text += line[at++];
    }
    tokens.push_back(std::move(token));
  }
}

std::optional<std::uint64_t> number(const Token& token) {
  std::uint64_t value = 0;
  const char* end = token.text.data() + token.text.size();
  const auto [stop, error] = std::from_chars(token.text.data(), end, value);
  if (token.quoted || token.text.empty() || error != std::errc() || stop != end)
    return std::nullopt;
  return value;
}

bool keyword(const Token& token, std::string_view word) {
  return !token.quoted && token.text == word;
}

// "text T [#N]", "prefix P [#N]" or "after MS".
const char* read_trigger(const std::vector<Token>& words, MovieRule& rule) {
  if (words.size() == 2 && keyword(words[0], "after")) {
    const auto ms = number(words[1]);
    if (!ms) return "after needs a number of milliseconds";
    rule.trigger = MovieRule::Trigger::after;
    rule.after_ms = *ms;
    return nullptr;
  }
  const bool text = !words.empty() && keyword(words[0], "text");
  if (!text && !(!words.empty() && keyword(words[0], "prefix"))) {
    return "a rule starts with text, prefix or after";
  }
  if (words.size() < 2 || words.size() > 3) return "text and prefix take one text and maybe #N";
  rule.trigger = text ? MovieRule::Trigger::text : MovieRule::Trigger::prefix;
  rule.match = words[1].text;
  if (words.size() == 3) {
    const Token& n = words[2];
    const auto count = n.quoted || n.text.size() < 2 || n.text[0] != '#'
                           ? std::nullopt
                           : number(Token{n.text.substr(1), false});
    if (!count || *count == 0 || *count > 1'000'000) return "#N needs a count from 1";
    rule.occurrence = static_cast<int>(*count);
  }
  return nullptr;
}

// "command C [ARGUMENT]" or "call NAME [STRING...]".
const char* read_action(const std::vector<Token>& words, MovieRule& rule) {
  if (words.size() < 2) return "an action is command or call with a name";
  if (keyword(words[0], "command")) {
    if (words.size() > 3) return "command takes a command and at most one argument";
    rule.action = MovieRule::Action::command;
  } else if (keyword(words[0], "call")) {
    rule.action = MovieRule::Action::call;
  } else {
    return "an action is command or call";
  }
  rule.name = words[1].text;
  for (std::size_t i = 2; i < words.size(); ++i) rule.arguments.push_back(words[i].text);
  return nullptr;
}

const char* read_rule(std::string_view line, MovieRule& rule) {
  const auto tokens = tokenize(line);
  if (!tokens) return "a quoted text is not closed";
  const auto arrow =
      std::find_if(tokens->begin(), tokens->end(), [](const Token& t) { return keyword(t, "->"); });
  if (arrow == tokens->end()) return "no -> between trigger and action";
  if (const char* problem = read_trigger({tokens->begin(), arrow}, rule)) return problem;
  return read_action({arrow + 1, tokens->end()}, rule);
}

}  // namespace

const char* parse_movie_action(std::string_view line, MovieRule& rule) {
  const auto tokens = tokenize(line);
  if (!tokens) return "a quoted text is not closed";
  return read_action(*tokens, rule);
}

MovieScript parse_movie_script(std::string_view text) {
  MovieScript script;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
    while (!line.empty() && is_space(line.back())) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    MovieRule rule;
    if (const char* problem = read_rule(line, rule)) {
      script.problems.push_back("line " + std::to_string(number) + ": " + problem);
    } else {
      script.rules.push_back(std::move(rule));
    }
  }
  return script;
}

}  // namespace tarvel
