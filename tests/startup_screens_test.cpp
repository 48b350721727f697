// Start-up with the real error screen on the headless user interface.
#include <gtest/gtest.h>

#include "core/settings_readers.hpp"
#include "core/startup.hpp"
#include "screens/error_screen.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// Names resolve from a table: "localhost" is online, anything else is not.
struct StartupWithScreens {
  explicit StartupWithScreens(std::string public_host)
      : app(t.services_with([this](Services& s) { s.resolver = &resolver; }),
            std::move(public_host)) {
    resolver.add("localhost", {127, 0, 0, 1});
    t.dir.write("app-popup/errorMsg.swf", "prefix Err= #3 -> command ok\n");
    t.dir.write("app-popup/abb_language.xml", "<item id=\"en\" label=\"English\"/>\n");
    t.dir.write("Config.xml", "<Config><Languages>English</Languages></Config>");
  }
  bool run() {
    load_default_language(app);
    const StartupParts parts{CError::show_modal, [this](App&) { first_screen_shown = true; },
                             [](App&, const std::string&, const std::string&) { return false; }};
    return run_startup(app, parts);
  }
  testing::TestApp t;
  testing::TableResolver resolver;
  App app;
  bool first_screen_shown = false;
};

TEST(StartupScreens, SecondInstanceSeesTheErrorScreenWith406) {
  StartupWithScreens second("localhost");
  LockFileInstanceGuard first(second.t.dir / ".run");
  ASSERT_EQ(first.claim(kInstanceName), InstanceGuard::Claim::claimed);
  EXPECT_FALSE(second.run());
  EXPECT_FALSE(second.first_screen_shown);
  EXPECT_EQ(second.t.transcript.texts(Kind::received, CError::kClassName),
            (std::vector<std::string>{"lang=en", "Err=406", "Err=406", "Err=406"}));
}

TEST(StartupScreens, WithoutNetworkThe402ScreenComesFirstThenTheFirstScreen) {
  StartupWithScreens offline("offline.invalid");
  EXPECT_FALSE(offline.run());
  EXPECT_TRUE(offline.first_screen_shown);
  const auto errors = offline.t.ui.windows_of(CError::kClassName);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(offline.t.ui.window(errors[0])->modal);
  EXPECT_EQ(offline.t.transcript.texts(Kind::received, CError::kClassName).at(1), "Err=402");
}

}  // namespace
}  // namespace tarvel
