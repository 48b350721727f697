#include "screens/login_screen.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "core/settings_readers.hpp"
#include "screens/transferring_form.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;
using Strings = std::vector<std::string>;
using testing::login_answer;
using testing::RequestServiceDouble;

// The login screen of a launcher whose Config.xml is pretty-printed (the
// request service's address on a line of its own, indented) and whose
// request service is a double on the loopback. The game installation screen
// it hands over to closes as soon as it has started; the packages its worker
// asks for come from an address on this machine that refuses them.
struct Login {
  explicit Login(const std::string& public_host = "localhost") : t(public_host) {
    apply_defaults(t.app.settings());
    t.app.settings().set_default_language("en");
    t.app.settings().set_game_url(nowhere.address() + "/g/");
    t.app.settings().set_common_url(nowhere.address() + "/c/");
    config(service.address("/svc/request.php"));
    t.dir.write("app-popup/transfer.swf", "prefix lang= -> command exit\n");
  }

  void config(const std::string& server_url) {
    testing::write_config(t.app.settings().application_directory(),
                          {{"ServerURL", server_url}, {"LoginFormText", "Tarvel Casino"}},
                          testing::ConfigLayout::values_on_own_lines);
  }
  void movie(const std::string& script) { t.dir.write("app-popup/login.swf", script); }
  void run() {
    t.loop_clock.set_limit_ms(10'000);
    CCorvaneDlg screen(t.app);
    (void)screen.show_modal_as_main();
  }

  [[nodiscard]] Strings received() const {
    return t.transcript.texts(Kind::received, CCorvaneDlg::kClassName);
  }
  // When the game installation screen opened; nothing when it did not.
  [[nodiscard]] std::optional<std::uint64_t> installation_opened_at() const {
    for (const auto& e : t.transcript.entries()) {
      if (e.kind == Kind::window && e.screen == TransferringForm::kClassName &&
          e.text == "created") {
        return e.time_ms;
      }
    }
    return std::nullopt;
  }

  testing::RefusingAddress nowhere;
  RequestServiceDouble service;
  testing::TestApp t;
};

TEST(LoginScreen, ValidateOutcomesAsTheMovieSeesThem) {
  struct Case {
    const char* what;
    const char* answer;  // the service's whole answer; null: the service cannot be reached
    Strings sent;        // what the movie receives after "lang=en"
    bool installation_opens;
  };
  const std::string refused = login_answer("1", testing::kTicketedRest);
  const std::string double_zero = login_answer("00", testing::kTicketedRest);
  // The result token is "<<": cut at "<", it has no first piece.
  const std::string only_angles = login_answer("<<>", testing::kTicketedRest);
  const std::string accepted = login_answer("0", testing::kTicketedRest);
  const std::string short_answer = "<a><b><c>";
  const Case cases[] = {
      {"refused", refused.c_str(), {"Err=404"}, false},
      {"result 00 is not a login", double_zero.c_str(), {"Err=404"}, false},
      {"result token without a value", only_angles.c_str(), {"Err=404"}, false},
      {"answer without a result", short_answer.c_str(), {"Err=403"}, false},
      {"unreachable service", nullptr, {"Err=404", "Err=403"}, false},
      {"accepted", accepted.c_str(), {}, true},
  };
  for (const Case& c : cases) {
    Login l;
    testing::RefusingAddress refusing;
    if (c.answer == nullptr) {
      l.config(refusing.address());
    } else {
      l.service.answer({200, c.answer, {}});
    }
    l.movie("prefix lang= -> call validate player secret de\nafter 1000 -> command exit\n");
    l.run();

    Strings expected{"lang=en"};
    expected.insert(expected.end(), c.sent.begin(), c.sent.end());
    EXPECT_EQ(l.received(), expected) << c.what;
    if (c.installation_opens) {
      EXPECT_EQ(l.installation_opened_at(), 200u) << c.what << ": at the next tick";
    } else {
      EXPECT_EQ(l.installation_opened_at(), std::nullopt) << c.what;
    }
    // The service's address came from a pretty-printed Config.xml.
    if (c.answer != nullptr) {
      EXPECT_EQ(l.service.received().size(), 1u) << c.what;
    }
    const bool in = c.installation_opens;
    const SettingsValues v = l.t.app.settings().snapshot();
    EXPECT_EQ(v.game_language_address, in ? l.nowhere.address() + "/g/language/de/" : "") << c.what;
    EXPECT_EQ(v.common_language_address, in ? l.nowhere.address() + "/c/language/de/" : "")
        << c.what;
  }
}

TEST(LoginScreen, IncompleteValidateAsksNothingOfTheService) {
  struct Case {
    const char* what;
    const char* call;
    const char* language_after;
  };
  const Case cases[] = {
      {"empty password", "call validate u \"\" en", "en"},
      {"empty user name", "call validate \"\" secret fr", "fr"},
      {"two arguments", "call validate u secret", ""},
      {"another request", "call lobby u secret en", ""},
      {"an exit request", "call exit", ""},
  };
  for (const Case& c : cases) {
    Login l;
    l.service.answer({200, login_answer("0", testing::kTicketedRest), {}});
    l.movie(std::string("prefix lang= -> ") + c.call + "\nafter 1000 -> command exit\n");
    l.run();
    EXPECT_EQ(l.received(), (Strings{"lang=en"})) << c.what;
    EXPECT_TRUE(l.service.received().empty()) << c.what;
    EXPECT_EQ(l.t.app.settings().selected_language(), c.language_after) << c.what;
    EXPECT_EQ(l.installation_opened_at(), std::nullopt) << c.what;
  }
}

TEST(LoginScreen, OfflineEveryRequestButExitIsAnsweredWith402) {
  Login l("offline.invalid");
  l.movie(
      "prefix lang= -> call validate player secret en\n"
      "prefix lang= -> call exit\n"
      "prefix lang= -> call lobby\n"
      "after 1000 -> command exit\n");
  l.run();
  EXPECT_EQ(l.received(), (Strings{"lang=en", "Err=402", "Err=402"}));
  EXPECT_TRUE(l.service.received().empty());
  EXPECT_EQ(l.t.app.settings().user_name(), "") << "nothing of the request was taken";
}

// Keys pressed first close nothing: the screen goes at the command.
TEST(LoginScreen, ExitEndsTheRunAnyOtherCommandMovesOnWithoutALoginNoKeyCloses) {
  struct Case {
    const char* command;
    bool installation_opens;
  };
  for (const Case& c : {Case{"exit", false}, Case{"skip", true}, Case{"", true}}) {
    Login l;
    l.t.ui.schedule(kNoWindow, 100, [&] {
      for (const int key : {kKeyEscape, kKeyEnter, kKeyCancel}) l.t.ui.synthesize_key({key, true});
    });
    l.movie(std::string("after 300 -> command \"") + c.command + "\"\n");
    l.run();
    EXPECT_EQ(l.t.loop_clock.now_ms(), 300u) << c.command;
    EXPECT_FALSE(l.t.ui.exists(l.t.ui.windows_of(CCorvaneDlg::kClassName).at(0))) << c.command;
    EXPECT_EQ(l.installation_opened_at().has_value(), c.installation_opens) << c.command;
  }
}

}  // namespace
}  // namespace tarvel
