#include "operator/script_movie_page.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A script or title holding markup stays text: the page keeps exactly its
// own one script element and one script block, whatever the rules say.
TEST(ScriptMoviePage, ScriptAndTitleStayTextInsideThePage) {
  const std::string script =
      "text \"</pre><script>tarvel.fscommand('x')</script>\" -> command \"a&b\"\n"
      "prefix <h1> -> call validate \"<b>\" & en\n";
  const std::string page = script_movie_page("Lobby </h1><script>", script);
  EXPECT_EQ(count(page, "<script>"), 1U);
  EXPECT_EQ(count(page, "</pre>"), 1U);
  EXPECT_EQ(count(page, "</h1>"), 1U);
  EXPECT_NE(page.find("&lt;/pre&gt;&lt;script&gt;"), std::string::npos);
  EXPECT_NE(page.find("command &quot;a&amp;b&quot;"), std::string::npos);
  EXPECT_NE(page.find("<h1>Lobby &lt;/h1&gt;&lt;script&gt;</h1>"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
