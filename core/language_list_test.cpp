#include "core/language_list.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using List = std::vector<LanguageEntry>;

TEST(LanguageList, ReadsTheMenuEntriesInFileOrder) {
  struct Case {
    const char* what;
    const char* text;
    List expected;
  };
  const Case cases[] = {
      {"two entries, text outside the menu ignored",
       "<?xml version=\"1.0\"?><other name=\"zz\" lang=\"x\"></menu>\n<lang_menu>\n"
       "<menu name=\"en\" lang=\"language/en\">English</menu>\n"
       "<menu name=\"de\" lang=\"language/de\">Deutsch</menu>\n</lang_menu>"
       "<menu name=\"fr\" lang=\"language/fr\">x</menu>",
       {{"en", "language/en"}, {"de", "language/de"}}},
      {"no closing menu tag: entries after it are read too",
       "<lang_menu><menu name=\"en\" lang=\"l/en\"></menu><menu name=\"fr\" lang=\"l/fr\"></menu>",
       {{"en", "l/en"}, {"fr", "l/fr"}}},
      {"an attribute whose name ends in name shifts the values",
       "<lang_menu><menu filename=\"a.png\" name=\"en\" lang=\"l/en\"></menu></lang_menu>",
       {{"a.png", "l/en"}}},
      {"an entry without attributes takes the next one's; the last finds nothing",
       "<lang_menu><menu></menu><menu name=\"en\" lang=\"l/en\"></menu>"
       "<menu name=\"de\" lang=\"l/de\"></menu></lang_menu>",
       {{"en", "l/en"}, {"de", "l/de"}}},
      {"an entry without lang ends the list, earlier ones kept",
       "<lang_menu><menu name=\"en\" lang=\"l/en\"></menu><menu name=\"de\"></menu></lang_menu>",
       {{"en", "l/en"}}},
      {"no menu", "<menu name=\"en\" lang=\"l/en\"></menu>", {}},
      {"empty text", "", {}},
      {"a menu without entries", "<lang_menu></lang_menu>", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_language_list(c.text), c.expected) << c.what;
  }
}

TEST(LanguageList, AMissingFileGivesNoEntries) {
  testing::TestApp t;
  EXPECT_TRUE(read_language_list(t.app, "app-popup\\abb_language.xml").empty());
  t.dir.write("app-popup/abb_language.xml",
              "<lang_menu><menu name=\"en\" lang=\"language/en\">English</menu></lang_menu>");
  EXPECT_EQ(read_language_list(t.app, "app-popup\\abb_language.xml"),
            (List{{"en", "language/en"}}));
}

}  // namespace
}  // namespace tarvel
