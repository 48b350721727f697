// The stage's request service as the launcher's own login and transfer
// requests meet it.
#include "operator/request_service.hpp"

#include <gtest/gtest.h>

#include "core/settings_readers.hpp"
#include "operator/stage_server.hpp"
#include "server/login_request.hpp"
#include "server/transfer_request.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

// The ticket the lobby gets from the login properties document.
std::string ticket_in(const std::string& document) {
  const std::string opening = "name =\"TicketID\">";
  const auto at = document.find(opening);
  if (at == std::string::npos) return {};
  const auto start = at + opening.size();
  return document.substr(start, document.find("</properties>", start) - start);
}

class StageRequestService : public ::testing::Test {
 protected:
  StageRequestService() {
    EXPECT_TRUE(stage.bind());
    stage.start(service);
    apply_defaults(t.app.settings());
    t.app.settings().set_selected_language("en");
    configure("the-key");
  }

  void configure(const std::string& key) {
    testing::write_config(t.app.settings().application_directory(),
                          {{"ServerURL", stage.url("request")}, {"Key", key}});
  }

  ServerRequest login(const std::string& name, const std::string& password) {
    t.app.settings().set_user_name(name);
    t.app.settings().set_password(password);
    t.app.settings().set_login_properties("");
    ServerRequest request;
    EXPECT_TRUE(send_login_request(t.app, request));
    return request;
  }

  std::string cashier_link() {
    ServerRequest request;
    EXPECT_TRUE(send_transfer_request(t.app, request));
    return build_game_link(t.app, request, "http://cashier/?");
  }

  testing::TestApp t;
  RequestService service{{{"demo", "demo"}, {"a<b&\"c", "p w:d"}}, "the-key"};
  StageServer stage{{t.dir.path()}, [](auto&) {}};
};

TEST_F(StageRequestService, AcceptsKnownPlayersWithATicketAndRefusesOthers) {
  struct Case {
    const char* name;
    const char* password;
    const char* result;
  };
  const Case cases[] = {
      {"demo", "demo", "0"},
      {"a<b&\"c", "p w:d", "0"},
      {"demo", "Demo", "1"},
      {"nobody", "demo", "1"},
  };
  for (const Case& c : cases) {
    const ServerRequest request = login(c.name, c.password);
    EXPECT_EQ(login_result_value(request), c.result) << c.name << "/" << c.password;
    EXPECT_EQ(ticket_in(t.app.settings().login_properties()).size(),
              std::string(c.result) == "0" ? 16u : 0u)
        << t.app.settings().login_properties();
  }
}

TEST_F(StageRequestService, GivesATransferTicketOnlyForTheRightSign) {
  t.app.settings().set_user_name("demo");
  const std::string link = cashier_link();
  EXPECT_TRUE(link.starts_with("http://cashier/?ticket=")) << link;
  EXPECT_EQ(link.size(),
            std::string("http://cashier/?ticket=&username=demo&lang_code=en").size() + 16)
      << link;

  configure("another-key");
  EXPECT_EQ(cashier_link(), "http://cashier/?ticket=&username=demo&lang_code=en");
  configure("the-key");
  t.app.settings().set_user_name("nobody");
  EXPECT_EQ(cashier_link(), "http://cashier/?ticket=&username=nobody&lang_code=en");
}

TEST(RequestService, RefusesTransfersWithoutAKeyAndSignsFromAnotherDay) {
  const auto day = std::chrono::sys_days(std::chrono::year(2017) / 3 / 5);
  RequestService keyless({{"demo", "x"}}, "");
  RequestService keyed({{"demo", "x"}}, "k", [day] { return day; });
  const auto transfer = [](RequestService& service, const std::string& date) {
    return service.answer(
        "<request action = \"transfer\"><element><properties name=\"username\">"
        "demo</properties><properties name=\"date\">" +
        date +
        "</properties><properties name=\"sign\">0123</properties>"
        "</element></request>");
  };
  EXPECT_EQ(transfer(keyless, "20170305").note, "transfer demo: refused (the stage has no key)");
  EXPECT_EQ(transfer(keyed, "20170307").note, "transfer demo: refused (date not current)");
  EXPECT_EQ(transfer(keyed, "20170304").note, "transfer demo: refused (wrong sign)");
  EXPECT_EQ(keyed.answer("hello").status, 400);
}

TEST(RequestService, ReadsAccountsAndEscapedText) {
  std::string error;
  const auto accounts = parse_accounts("# players\r\ndemo:demo\r\n\nx:a:b\n:nameless\n", error);
  EXPECT_FALSE(accounts);
  EXPECT_EQ(error, "line 5: not name:password");
  const auto good = parse_accounts("demo:demo\r\nx:a:b\nempty:\n", error);
  ASSERT_TRUE(good);
  EXPECT_EQ(*good, (Accounts{{"demo", "demo"}, {"x", "a:b"}, {"empty", ""}}));

  EXPECT_EQ(xml_unescape("a&lt;b&gt;&amp;&quot;&apos;&#65;&#x42;&#300;&#;&bogus;&"),
            "a<b>&\"'AB&#300;&#;&bogus;&");
}

}  // namespace
}  // namespace tarvel
