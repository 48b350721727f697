#include "server/transfer_request.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "server/md5.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using testing::RequestServiceDouble;

// Answers the queued times in turn, then keeps answering the last one.
class ScriptedClock final : public Clock {
 public:
  explicit ScriptedClock(std::deque<UtcTime> times) : times_(std::move(times)) {}
  [[nodiscard]] UtcTime utc_now() const override {
    const UtcTime now = times_.front();
    if (times_.size() > 1) times_.pop_front();
    return now;
  }
  [[nodiscard]] std::uint64_t tick_ms() const override { return 0; }

 private:
  mutable std::deque<UtcTime> times_;
};

constexpr UtcTime k5March2017{2017, 3, 5, 12, 0, 0, 0};

// A launcher whose clock the test sets, with user "Ab", language "en" and the
// request service double as ServerURL.
struct TransferHarness {
  explicit TransferHarness(std::deque<UtcTime> times = {k5March2017})
      : clock(std::move(times)),
        app(t.services_with([this](Services& s) { s.clock = &clock; })) {
    app.settings().set_application_directory(t.dir.path() + "/");
    app.settings().set_user_name("Ab");
    app.settings().set_selected_language("en");
    config({{"ServerURL", service.address()}, {"Key", "Xy"}});
  }
  void config(const std::vector<std::pair<std::string, std::string>>& elements) {
    testing::write_config(t.dir.path() + "/", elements);
  }

  testing::TestApp t;
  ScriptedClock clock;
  RequestServiceDouble service;
  App app;
  ServerRequest request;
};

TEST(TransferRequest, DateTextIsUtcYearMonthDay) {
  EXPECT_EQ(current_date_text(ScriptedClock({k5March2017})), "20170305");
  EXPECT_EQ(current_date_text(ScriptedClock({{2017, 12, 25, 23, 59, 59, 999}})), "20171225");
}

TEST(TransferRequest, Md5AsLowerCaseHex) {
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_hex("ab20170305xy"), "4c6419b5d20034bb3dc1e0c1f0002f89");
}

TEST(TransferRequest, SignIsOverUserDateAndKeyLowerCased) {
  TransferHarness h;
  EXPECT_EQ(compute_sign(h.app, h.request), "4c6419b5d20034bb3dc1e0c1f0002f89");
  EXPECT_EQ(h.request.sign, "4c6419b5d20034bb3dc1e0c1f0002f89");

  h.config({{"ServerURL", h.service.address()}});  // no Key: its "not found" is signed
  EXPECT_EQ(compute_sign(h.app, h.request), "5fa99bd31714b8d4312287e99e1b4ec0");
}

TEST(TransferRequest, SendsTheTransferDocumentAndKeepsTheAnswer) {
  TransferHarness h;
  h.service.answer({200, "<response><properties name=\"ticket\">T1</properties></response>", {}});
  ASSERT_TRUE(send_transfer_request(h.app, h.request));

  ASSERT_EQ(h.service.received().size(), 1u);
  EXPECT_EQ(h.service.received()[0].body,
            "<?xml version='1.0'?><request action = \"transfer\"><element>"
            "<properties name=\"username\">Ab</properties>"
            "<properties name=\"date\">20170305</properties>"
            "<properties name=\"sign\">4c6419b5d20034bb3dc1e0c1f0002f89</properties>"
            "</element></request>");
  EXPECT_EQ(h.request.transfer_response,
            "<response><properties name=\"ticket\">T1</properties></response>");
  EXPECT_EQ(build_game_link(h.app, h.request, "P?"), "P?ticket=T1&username=Ab&lang_code=en");
  EXPECT_EQ(h.request.transfer_response, "T1</properties></response>");
}

TEST(TransferRequest, UserNameIsEscapedButSignedAsTyped) {
  TransferHarness h;
  h.app.settings().set_user_name("<Ab>");
  ASSERT_TRUE(send_transfer_request(h.app, h.request));
  const std::string body = h.service.received().at(0).body;
  EXPECT_NE(body.find("<properties name=\"username\">&lt;Ab&gt;</properties>"), std::string::npos)
      << body;
  EXPECT_EQ(h.request.sign, md5_hex("<ab>20170305xy"));
}

TEST(TransferRequest, DateAndSignAgreeAcrossMidnight) {
  TransferHarness h({{2017, 3, 5, 23, 59, 59, 999}, {2017, 3, 6, 0, 0, 0, 0}});
  ASSERT_TRUE(send_transfer_request(h.app, h.request));
  const std::string body = h.service.received().at(0).body;
  EXPECT_NE(body.find("<properties name=\"date\">20170305</properties>"), std::string::npos);
  EXPECT_EQ(h.request.sign, md5_hex("ab20170305xy"));
}

TEST(TransferRequest, UnreachableServiceStillGivesALinkWithAnEmptyTicket) {
  TransferHarness h;
  testing::RefusingAddress nowhere;
  h.config({{"ServerURL", nowhere.address()}, {"Key", "Xy"}});
  EXPECT_FALSE(send_transfer_request(h.app, h.request));
  EXPECT_EQ(h.request.transfer_response, "");
  EXPECT_EQ(build_game_link(h.app, h.request, "https://cashier.example/pay?"),
            "https://cashier.example/pay?ticket=&username=Ab&lang_code=en");
}

TEST(TransferRequest, NonAsciiAnswerIsNarrowedToTheCodePage) {
  TransferHarness h;
  h.service.answer({200, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB2", {}});
  ASSERT_TRUE(send_transfer_request(h.app, h.request));
  EXPECT_EQ(h.request.transfer_response, "caf\xE9 ? ?");
}

TEST(GameLink, TicketExtraction) {
  TransferHarness h;
  const auto link_for = [&](const std::string& response) {
    h.request.transfer_response = response;
    return build_game_link(h.app, h.request, "P?");
  };
  EXPECT_EQ(link_for("<properties name=\"ticket\">T1</properties>"),
            "P?ticket=T1&username=Ab&lang_code=en");
  EXPECT_EQ(link_for("<properties name=\"ticket\">T2"), "P?ticket=T2&username=Ab&lang_code=en")
      << "no closing tag: up to the end";
  EXPECT_EQ(link_for("xx ticket\">"), "P?ticket=&username=Ab&lang_code=en");
  EXPECT_EQ(link_for("ticket\"."), "P?ticket=&username=Ab&lang_code=en")
      << "fewer than eight characters after the word";
  EXPECT_EQ(link_for("<p name=\"tickets\">A</p><properties name=\"ticket\">T3</properties>"),
            "P?ticket=>A</p><properties name=\"ticket\">T3&username=Ab&lang_code=en")
      << "the first occurrence counts";
  EXPECT_EQ(link_for("no such word"), "P?ticket=&username=Ab&lang_code=en");
}

TEST(GameLink, UserNameAndLanguageAreQueryComponents) {
  TransferHarness h;
  struct Case {
    const char* user;
    const char* language;
    const char* expected_tail;
  };
  const Case cases[] = {
      {"Ab", "en", "&username=Ab&lang_code=en"},
      {"a-b.c_d~9", "pt-BR", "&username=a-b.c_d~9&lang_code=pt-BR"},
      {"tom&jerry", "en", "&username=tom%26jerry&lang_code=en"},
      {"a b+c#d", "en", "&username=a%20b%2Bc%23d&lang_code=en"},
      {"x=1?/%", "e&n", "&username=x%3D1%3F%2F%25&lang_code=e%26n"},
      {"caf\xE9", "", "&username=caf%E9&lang_code="},
  };
  for (const Case& c : cases) {
    h.app.settings().set_user_name(c.user);
    h.app.settings().set_selected_language(c.language);
    h.request.transfer_response = "<properties name=\"ticket\">T1</properties>";
    EXPECT_EQ(build_game_link(h.app, h.request, "P?"), std::string("P?ticket=T1") + c.expected_tail)
        << c.user;
  }
}

}  // namespace
}  // namespace tarvel
