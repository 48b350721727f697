#include "platform/headless/movie_script.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using Trigger = MovieRule::Trigger;
using Action = MovieRule::Action;

TEST(MovieScript, RulesOfEveryKind) {
  const MovieScript script = parse_movie_script(
      "# a comment\n"
      "\n"
      "text Err=405 -> command \"\"\n"
      "  prefix \"lang=\" -> call validate \"player one\" secret en  \r\n"
      "text \"Err=402\" #3 -> command exit \"now\"\n"
      "after 1500 -> command retry\n"
      "text \"say \\\"hi\\\"\\\\\" -> call log \"\" \"a\\nb\"");
  EXPECT_TRUE(script.problems.empty()) << script.problems.front();
  ASSERT_EQ(script.rules.size(), 5u);
  EXPECT_EQ(script.rules[0], (MovieRule{Trigger::text, "Err=405", 0, 0, Action::command, "", {}}));
  EXPECT_EQ(script.rules[1], (MovieRule{Trigger::prefix,
                                        "lang=",
                                        0,
                                        0,
                                        Action::call,
                                        "validate",
                                        {"player one", "secret", "en"}}));
  EXPECT_EQ(script.rules[2],
            (MovieRule{Trigger::text, "Err=402", 3, 0, Action::command, "exit", {"now"}}));
  EXPECT_EQ(script.rules[3],
            (MovieRule{Trigger::after, "", 0, 1500, Action::command, "retry", {}}));
  EXPECT_EQ(script.rules[4],
            (MovieRule{Trigger::text, "say \"hi\"\\", 0, 0, Action::call, "log", {"", "a\nb"}}));
}

TEST(MovieScript, BadLinesAreReportedAndSkipped) {
  const MovieScript script = parse_movie_script(
      "text a -> command ok\n"
      "text \"unclosed -> command x\n"
      "text a command x\n"
      "after soon -> command x\n"
      "after -> command x\n"
      "text a #0 -> command x\n"
      "text a #x -> command x\n"
      "text a b c -> command x\n"
      "when a -> command x\n"
      "text a -> command\n"
      "text a -> command x y z\n"
      "text a -> shout x\n"
      "\"text\" a -> command x\n"
      "text a -> \"command\" x\n");
  ASSERT_EQ(script.rules.size(), 1u);
  ASSERT_EQ(script.problems.size(), 13u);
  EXPECT_EQ(script.problems[0], "line 2: a quoted text is not closed");
  EXPECT_EQ(script.problems[12].substr(0, 8), "line 14:");
}

}  // namespace
}  // namespace tarvel
