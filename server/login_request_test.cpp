#include "server/login_request.hpp"

#include <gtest/gtest.h>

#include "core/settings_readers.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using testing::login_answer;
using testing::RequestServiceDouble;

const std::string kTicketed = testing::kTicketedRest;

class LoginRequest : public ::testing::Test {
 protected:
  LoginRequest() {
    apply_defaults(t.app.settings());
    t.app.settings().set_user_name("player");
    t.app.settings().set_password("secret");
    t.app.settings().set_selected_language("en");
    testing::write_config(dir(), {{"ServerURL", service.address("/svc/request.php")}});
    t.dir.write("app-popup/abb_language.xml",
                "<list>\r\n\r\n<item id=\"de\" lang=\"language/de\">Deutsch</item>\r\n"
                "<item id=\"en\" lang=\"language/en\">English</item>\r\n</list>\r\n");
  }

  std::string dir() { return t.app.settings().application_directory(); }
  bool login(const std::string& answer) {
    service.answer({200, answer, {}});
    return send_login_request(t.app, request);
  }

  testing::TestApp t;
  RequestServiceDouble service;
  ServerRequest request;
};

TEST_F(LoginRequest, SendsTheRegistrationDocumentWithEscapedCredentials) {
  ASSERT_TRUE(login(""));
  t.app.settings().set_user_name("a<b>&\"c'");
  t.app.settings().set_password("</properties>");
  ASSERT_TRUE(login(""));

  const auto received = service.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].body,
            "<?xml version='1.0'?><request action = \"registration\"><element id=\"id001\">"
            "<properties name=\"username\">player</properties>"
            "<properties name=\"password\">secret</properties>"
            "<properties name=\"interfaceid\">7</properties></element></request>");
  EXPECT_EQ(received[1].body,
            "<?xml version='1.0'?><request action = \"registration\"><element id=\"id001\">"
            "<properties name=\"username\">a&lt;b&gt;&amp;&quot;c&apos;</properties>"
            "<properties name=\"password\">&lt;/properties&gt;</properties>"
            "<properties name=\"interfaceid\">7</properties></element></request>");
}

TEST_F(LoginRequest, ResultZeroBuildsThePropertiesDocument) {
  ASSERT_TRUE(login(login_answer("0", kTicketed)));

  EXPECT_EQ(request.tokens.size(), 20u);
  EXPECT_EQ(request.tokens[14], "0</properties");
  EXPECT_EQ(request.tokens.back(), "\n");
  EXPECT_EQ(request.language_path, "language/en");
  EXPECT_FALSE(request.response_text.has_value()) << "released after the analysis";
  const std::string root = service.address("/");
  EXPECT_EQ(t.app.settings().login_properties(),
            "<![CDATA[<request><properties name =\"TicketID\">A1B2</properties>"
            "<properties name=\"App_Path\">" +
                dir() +
                "</properties>"
                "<properties name=\"server_name\">" +
                root +
                "</properties>"
                "<properties name=\"langselected\">en</properties>"
                "<properties name=\"lang_Path\">" +
                dir() +
                "language/en\\\\</properties>"
                "</request>]]>");
  EXPECT_EQ(
      t.dir.read("response.xml"),
      "<?xml version=\"1.0\"?>\r\n<response action=\"registration\">\r\n"
      "<element id=\"id001\">\r\n"
      "<properties name=\"a\">\r\nv</properties>\r\n<properties name=\"b\">\r\nv</properties>\r\n"
      "<properties name=\"c\">\r\nv</properties>\r\n<properties name=\"d\">\r\nv</properties>\r\n"
      "<properties name=\"e\">\r\nv</properties>\r\n"
      "<properties name=\"result\">\r\n0</properties>\r\n"
      "<properties name=\"ticket\">\r\nA1B2</properties>\r\n</element>\r\n</response>\r\n");
  EXPECT_EQ(t.dir.read("XMLFile/error.txt"), "<missing>");
}

TEST_F(LoginRequest, ShortAnswerLeavesTheErrorFileAndStillReportsTrue) {
  std::string answer = login_answer("0", "");
  answer.resize(answer.rfind("<properties name=\"result\">") + 3);  // 13 tokens and "<pr"
  ASSERT_TRUE(t.files.create_directory("XMLFile"));
  t.dir.write("XMLFile/error.txt", "earlier contents, longer than the new ones");

  EXPECT_TRUE(login(answer));
  EXPECT_EQ(request.tokens.size(), 14u);
  EXPECT_EQ(t.dir.read("XMLFile/error.txt"), "&result=invaild user&");
  EXPECT_EQ(t.app.settings().login_properties(), "");
}

TEST_F(LoginRequest, ShortAnswerWithoutTheErrorFolderWritesNothing) {
  EXPECT_TRUE(login("<a><b>"));
  EXPECT_FALSE(t.dir.exists("XMLFile"));
  EXPECT_EQ(t.dir.read("response.xml"), "<a>\r\n<b>\r\n");
}

TEST_F(LoginRequest, NonZeroResultBuildsNothing) {
  EXPECT_TRUE(login(login_answer("1", kTicketed)));
  EXPECT_EQ(request.tokens[14], "1</properties");
  EXPECT_EQ(t.app.settings().login_properties(), "");
  EXPECT_FALSE(t.dir.exists("XMLFile"));
  EXPECT_EQ(request.language_path, "");
}

TEST_F(LoginRequest, ResultReadAsANumberDecidesTheDocument) {
  EXPECT_TRUE(login(login_answer("00", kTicketed)));
  EXPECT_NE(t.app.settings().login_properties(), "") << "\"00\" reads as zero";
  EXPECT_EQ(login_result_value(request), "00");

  ServerRequest only_brackets;
  only_brackets.tokens.assign(15, "x");
  only_brackets.tokens[14] = "<<";
  EXPECT_EQ(login_result_value(only_brackets), std::nullopt);
  EXPECT_EQ(login_result_value(ServerRequest{}), std::nullopt);
}

TEST_F(LoginRequest, LineBreakAfterTheTicketTagGivesAnEmptyIdentifier) {
  ASSERT_TRUE(login(login_answer("0", "<properties name=\"ticket\">\nA1B2</properties>")));
  const std::string document = t.app.settings().login_properties();
  EXPECT_TRUE(document.starts_with(
      "<![CDATA[<request><properties name =\"TicketID\"><properties name=\"App_Path\">"))
      << document;
}

TEST_F(LoginRequest, NoTicketLineMeansNoDocument) {
  ASSERT_TRUE(login(login_answer("0", "</element></response>")));
  EXPECT_EQ(t.app.settings().login_properties(), "");
  EXPECT_TRUE(t.dir.exists("XMLFile"));
}

TEST_F(LoginRequest, ACopyThatCannotBeWrittenDoesNotStopTheLogin) {
  ASSERT_TRUE(t.files.create_directory("response.xml"));  // a folder in the file's place
  ASSERT_TRUE(login(login_answer("0", kTicketed)));
  EXPECT_NE(t.app.settings().login_properties().find("A1B2</properties>"), std::string::npos);
}

TEST_F(LoginRequest, FailedExchangeLeavesNothing) {
  testing::write_config(dir(), {});
  EXPECT_FALSE(login(login_answer("0", kTicketed)));
  EXPECT_TRUE(request.tokens.empty());
  EXPECT_FALSE(t.dir.exists("response.xml"));
  EXPECT_EQ(t.app.settings().login_properties(), "");
}

TEST_F(LoginRequest, BrokenLanguageListFailsTheAnalysisButKeepsTheTokens) {
  t.dir.write("app-popup/abb_language.xml", "<item id=\"en\">x lang");
  EXPECT_FALSE(login(login_answer("0", kTicketed)));
  EXPECT_EQ(request.tokens.size(), 20u);
  EXPECT_EQ(t.app.settings().login_properties(), "");
  EXPECT_FALSE(request.response_text.has_value());
}

TEST_F(LoginRequest, MissingLanguageListLeavesTheLanguagePathOut) {
  ASSERT_TRUE(t.files.remove_file("app-popup\\abb_language.xml"));
  ASSERT_TRUE(login(login_answer("0", kTicketed)));
  const std::string document = t.app.settings().login_properties();
  EXPECT_TRUE(document.ends_with("<properties name=\"lang_Path\">" + dir() +
                                 "\\\\</properties></request>]]>"))
      << document;
}

TEST(LanguagePath, FromTheFirstLineThatQuotesTheCode) {
  const std::string list = "<item id=\"en\" lang=\"language/en\">English</item>\n";
  EXPECT_EQ(language_path_in(list, "en"), "language/en");
  EXPECT_EQ(language_path_in(list, "de"), "");
  EXPECT_EQ(language_path_in("\n\n" + list, "en"), "language/en");
  EXPECT_EQ(language_path_in("<item id=\"en\" lang=\"language/en\"", "en"), "")
      << "no \">\" ends the search";
  EXPECT_EQ(language_path_in("<item id=\"en\" lang=\"x>", "en"), "") << "one character left";
  EXPECT_EQ(language_path_in("<item id=\"en\" lang=\">", "en"), "");
  EXPECT_EQ(language_path_in("\"en\" >lang", "en"), std::nullopt) << "line ends after lang";
  EXPECT_EQ(language_path_in("", "en"), "");
}

TEST(LoginText, AppPathAndServerRoot) {
  EXPECT_EQ(escape_backslashes("D:\\A\\"), "D:\\\\A\\\\");
  EXPECT_EQ(escape_backslashes("D:\\Games\\Client\\"), "D:\\\\Games\\\\Client\\\\");
  EXPECT_EQ(escape_backslashes("/opt/tarvel/"), "/opt/tarvel/");
  EXPECT_EQ(server_root("http://service.example/login/request.php"), "http://service.example/");
  EXPECT_EQ(server_root("http://service.example"), "");
  EXPECT_EQ(server_root("not found"), "");
  EXPECT_EQ(server_root("/"), "");
}

}  // namespace
}  // namespace tarvel
