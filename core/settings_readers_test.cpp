#include "core/settings_readers.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void read(const std::string& contents) {
    t.dir.write("setup.xml", contents);
    apply_defaults(settings());
    read_settings_file(t.app);
  }
  Settings& settings() { return t.app.settings(); }
  testing::TestApp t;
};

TEST_F(SettingsFile, MissingFileKeepsDefaults) {
  apply_defaults(settings());
  settings().set_update(7);
  read_settings_file(t.app);
  EXPECT_EQ(settings().version(), "$version-1.1");
  EXPECT_EQ(settings().common_install(), "common_install.xml");
  EXPECT_EQ(settings().common_update(), "common_update.xml");
  EXPECT_EQ(settings().update(), 7);
  EXPECT_TRUE(t.message_box.shown().empty());
}

TEST_F(SettingsFile, KeysMissingFromTheFileBecomeEmpty) {
  read("url=http://127.0.0.1/x/\n");
  EXPECT_EQ(settings().url(), "http://127.0.0.1/x/");
  EXPECT_EQ(settings().version(), "");
  EXPECT_EQ(settings().common_install(), "");
  EXPECT_EQ(settings().common_update(), "");
  EXPECT_EQ(settings().update(), 0);
}

TEST_F(SettingsFile, EveryKeyIsRead) {
  read("url=u\nversion=$version-2.0\ncommon_install=ci.xml\ncommon_update=cu.xml\n"
       "common_url=cu/\nexe_name=Tarvel\nfirst_log=3\naurl=a\nupdate=2\ngame_url=g/\n");
  const SettingsValues v = settings().snapshot();
  EXPECT_EQ(v.url, "u");
  EXPECT_EQ(v.version, "$version-2.0");
  EXPECT_EQ(v.common_install, "ci.xml");
  EXPECT_EQ(v.common_update, "cu.xml");
  EXPECT_EQ(v.common_url, "cu/");
  EXPECT_EQ(v.exe_name, "Tarvel");
  EXPECT_EQ(v.first_log, "3");
  EXPECT_EQ(v.aurl, "a");
  EXPECT_EQ(v.update, 2);
  EXPECT_EQ(v.game_url, "g/");
}

TEST_F(SettingsFile, LineMatching) {
  read("   url=spaced\nversion =no\nversion_extra=no\ncommon_url=a=b=c\nexe_name=\n");
  EXPECT_EQ(settings().url(), "spaced");
  EXPECT_EQ(settings().version(), "");
  EXPECT_EQ(settings().common_url(), "a=b=c");
  EXPECT_EQ(settings().exe_name(), "");
}

TEST_F(SettingsFile, LaterLineWinsBlankLinesAndCrLfIgnored) {
  read("url=first\r\n\r\n\n  \t\nurl=second\r\ngame_url=last-without-newline");
  EXPECT_EQ(settings().url(), "second");
  EXPECT_EQ(settings().game_url(), "last-without-newline");
}

TEST_F(SettingsFile, UpdateValueRules) {
  settings().set_update(5);
  t.dir.write("setup.xml", "update=\n");
  read_settings_file(t.app);
  EXPECT_EQ(settings().update(), 5) << "an empty value keeps the previous one";
  t.dir.write("setup.xml", "update= 2\n");
  read_settings_file(t.app);
  EXPECT_EQ(settings().update(), 2);
  t.dir.write("setup.xml", "update=two\n");
  read_settings_file(t.app);
  EXPECT_EQ(settings().update(), 0);
  t.dir.write("setup.xml", "update=-3x\n");
  read_settings_file(t.app);
  EXPECT_EQ(settings().update(), -3);
  t.dir.write("setup.xml", "update=99999999999999\n");
  read_settings_file(t.app);
  EXPECT_EQ(settings().update(), 2147483647);
}

// Older readers pass the key by; a value that makes no sense falls back to
// the default, and no typo opens hundreds of connections.
TEST_F(SettingsFile, MaxConnectionsWithinItsLimits) {
  EXPECT_EQ(settings().max_connections(), 8);
  const struct {
    const char* line;
    int expected;
  } cases[] = {{"max_connections=3", 3},     {"max_connections=1", 1},  {"max_connections= 4x", 4},
               {"max_connections=0", 8},     {"max_connections=-2", 8}, {"max_connections=many", 8},
               {"max_connections=1000", 32}, {"max_connections =5", 8}};
  for (const auto& c : cases) {
    settings().set_max_connections(8);
    read(std::string("url=u\n") + c.line + "\n");
    EXPECT_EQ(settings().max_connections(), c.expected) << c.line;
    EXPECT_EQ(settings().url(), "u");
  }
  settings().set_max_connections(2);
  read("url=u\n");
  EXPECT_EQ(settings().max_connections(), 2) << "a file without the key keeps the value";
}

// The download cap: a number of KiB per second, anything else no cap; a
// file without the key lifts an earlier cap.
TEST_F(SettingsFile, MaxKbpsCapsOrLeavesUncapped) {
  EXPECT_EQ(settings().max_kbps(), 0);
  const struct {
    const char* line;
    int expected;
  } cases[] = {{"max_kbps=2000", 2000}, {"max_kbps=0", 0},         {"max_kbps=-5", 0},
               {"max_kbps=fast", 0},    {"max_kbps= 64k", 64},     {"max_kbps =64", 0},
               {"max_kbps=", 0},        {"max_kbps=99999999999", 2147483647}};
  for (const auto& c : cases) {
    settings().set_max_kbps(7);
    read(std::string("url=u\n") + c.line + "\n");
    EXPECT_EQ(settings().max_kbps(), c.expected) << c.line;
  }
  settings().set_max_kbps(300);
  read("url=u\n");
  EXPECT_EQ(settings().max_kbps(), 0);
}

TEST_F(SettingsFile, LongLinesAreReadWholeNeverSplit) {
  // A value past the old 255-character buffer must not spill into a line of its own.
  const std::string padding(300, 'p');
  read("game_url=" + padding + "url=smuggled\n");
  EXPECT_EQ(settings().game_url(), padding + "url=smuggled");
  EXPECT_EQ(settings().url(), "");
}

TEST(KeyFile, FirstMatchingLineWins) {
  testing::TestApp t;
  t.dir.write("url.xml", "xurl=no\nurl=first\nurl=second");
  EXPECT_EQ(read_key_from_file(t.app, t.dir / "url.xml", "url"), "first");
  t.dir.write("url.xml", " url=spaced\nurl=last-without-newline");
  EXPECT_EQ(read_key_from_file(t.app, t.dir / "url.xml", "url"), "last-without-newline");
  t.dir.write("url.xml", "other=1\n");
  EXPECT_EQ(read_key_from_file(t.app, t.dir / "url.xml", "url"), "");
  EXPECT_TRUE(t.message_box.shown().empty());
}

TEST(KeyFile, MissingFileShowsMessageBox) {
  testing::TestApp t;
  EXPECT_EQ(read_key_from_file(t.app, t.dir / "url.xml", "url"), "");
  EXPECT_EQ(t.message_box.shown(),
            (std::vector<RecordingMessageBox::Shown>{{"File access Problem", "ERROR!!"}}));
}

TEST(ConfigValue, ReadsChildrenOfTheFirstElement) {
  testing::TestApp t;
  t.dir.write("Config.xml",
              "<?xml version=\"1.0\"?>\n<!-- c -->\n<config><ServerURL>http://h/s</ServerURL>"
              "<Key>k</Key><Nested><b>x</b></Nested><Empty/></config>");
  EXPECT_EQ(read_config_value(t.app, "ServerURL"), "http://h/s");
  EXPECT_EQ(read_config_value(t.app, "Key"), "k");
  EXPECT_EQ(read_config_value(t.app, "Nested"), "not found");
  EXPECT_EQ(read_config_value(t.app, "Empty"), "not found");
  EXPECT_EQ(read_config_value(t.app, "serverurl"), "not found");
}

TEST(ConfigValue, WhiteSpaceIsTrimmedAndCollapsed) {
  testing::TestApp t;
  t.dir.write("Config.xml",
              "<?xml version=\"1.0\"?>\r\n<config>\r\n"
              "  <ServerURL>\r\n    http://h/s/request.php\r\n  </ServerURL>\r\n"
              "\t<Key> k1 </Key>\n"
              "  <LoginFormText>Tarvel \n\t  Casino</LoginFormText>\n"
              "  <Blank>   \n  </Blank>\n"
              "</config>\n");
  EXPECT_EQ(read_config_value(t.app, "ServerURL"), "http://h/s/request.php");
  EXPECT_EQ(read_config_value(t.app, "Key"), "k1");
  EXPECT_EQ(read_config_value(t.app, "LoginFormText"), "Tarvel Casino");
  EXPECT_EQ(read_config_value(t.app, "Blank"), "not found");
}

TEST(ConfigValue, MissingOrBrokenFileReadsNotFound) {
  testing::TestApp t;
  EXPECT_EQ(read_config_value(t.app, "ServerURL"), "not found");
  t.dir.write("Config.xml", "<config><ServerURL>x</Server");
  EXPECT_EQ(read_config_value(t.app, "ServerURL"), "not found");
  t.dir.write("Config.xml", "<!-- no element at all -->");
  EXPECT_EQ(read_config_value(t.app, "ServerURL"), "not found");
}

TEST(ConfigValue, ReadAfreshOnEveryCall) {
  testing::TestApp t;
  t.dir.write("Config.xml", "<c><Key>one</Key></c>");
  EXPECT_EQ(read_config_value(t.app, "Key"), "one");
  t.dir.write("Config.xml", "<c><Key>two</Key></c>");
  EXPECT_EQ(read_config_value(t.app, "Key"), "two");
}

class DefaultLanguage : public ::testing::Test {
 protected:
  std::string load(const std::string& languages, const std::string& file) {
    if (!languages.empty()) t.dir.write("Config.xml", "<c><Languages>" + languages + "</Languages></c>");
    if (!file.empty()) t.dir.write("app-popup/abb_language.xml", file);
    load_default_language(t.app);
    return t.app.settings().default_language();
  }
  testing::TestApp t;
};

TEST_F(DefaultLanguage, TwoCharactersAfterTheFirstQuote) {
  EXPECT_EQ(load("de,en", "<langs>\n\n<item lang=\"en\" label=\"English\"/>\n"
                          "<item lang=\"de\" label=\"Deutsch\"/>\n"),
            "de");
  // The word is found anywhere in a line, so "de" also matches inside "code".
  EXPECT_EQ(load("de", "<lang code=\"en\"/>\n"), "en");
}

TEST_F(DefaultLanguage, LineWithoutQuoteGivesItsFirstTwoCharacters) {
  EXPECT_EQ(load("fr", "xx\nfrench fr\n"), "fr");
  EXPECT_EQ(load("q", "q\n"), "q");
}

TEST_F(DefaultLanguage, NothingFoundLeavesItEmpty) {
  EXPECT_EQ(load("", "<lang code=\"en\"/>\n"), "") << "no Languages value";
  std::filesystem::remove(t.dir / "app-popup/abb_language.xml");
  t.app.settings().set_default_language("zz");
  EXPECT_EQ(load("it", ""), "") << "no language file";
  EXPECT_EQ(load("it", "<lang code=\"en\"/>\n"), "") << "no line with the word";
}

TEST(Defaults, ApplyDefaultsResetsTheDocumentedValues) {
  Settings s;
  s.set_url("x");
  s.set_update(3);
  s.set_restart_pending(1);
  s.set_language_changed(true);
  s.set_game_url("kept");
  apply_defaults(s);
  const SettingsValues v = s.snapshot();
  EXPECT_EQ(v.url, "");
  EXPECT_EQ(v.version, "$version-1.1");
  EXPECT_EQ(v.common_install, "common_install.xml");
  EXPECT_EQ(v.common_update, "common_update.xml");
  EXPECT_EQ(v.update, 0);
  EXPECT_EQ(v.error_file_name, "error.txt");
  EXPECT_EQ(v.restart_pending, 0);
  EXPECT_FALSE(v.language_changed);
  EXPECT_EQ(v.game_url, "kept");
  EXPECT_EQ(v.temp_manifest_name, "temp_ver.xml");
  EXPECT_EQ(v.manifest_suffix, ".xml");
}

}  // namespace
}  // namespace tarvel
