#include "screens/html_browser.hpp"

#include <gtest/gtest.h>

#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

struct HtmlBrowserTest : ::testing::Test {
  testing::TestApp t;

  void SetUp() override {
    testing::write_config(t.dir.path() + "/",
                          {{"IconImage", "app-popup\\icon.ico"}, {"LoginFormText", "Tarvel"}});
  }
  // Where each browser window was sent, in order.
  [[nodiscard]] std::vector<std::string> navigations(WindowId window) const {
    std::vector<std::string> addresses;
    for (const TranscriptEntry& e : t.transcript.entries()) {
      if (e.kind == Kind::browser && e.window == window) addresses.push_back(e.text);
    }
    return addresses;
  }
};

TEST_F(HtmlBrowserTest, PageSizeGivesTheWindowSizeOnlyWhenBothSidesAreGiven) {
  struct Case {
    int width;
    int height;
    Rect window;
    Rect page;
  };
  const Rect default_window{0, 0, 1005, 707};
  const Rect default_page{0, 0, 1000, 675};
  const Case cases[] = {
      {800, 600, {0, 0, 805, 632}, {0, 0, 800, 600}},
      {800, 0, default_window, default_page},
      {0, 600, default_window, default_page},
      {0, 0, default_window, default_page},
      // Taken as they come, as long as neither is 0.
      {-10, -20, {0, 0, -5, 12}, {0, 0, -10, -20}},
      {-10, 0, default_window, default_page},
  };
  for (const Case& c : cases) {
    const WindowId id =
        HtmlBrowser::open(t.app, kNoWindow, "http://127.0.0.1:1/pay?", c.width, c.height);
    const WindowState& w = *t.ui.window(id);
    Rect centred = c.window;
    centred.x = (HeadlessUi::kScreenWidth - c.window.width) / 2;
    centred.y = (HeadlessUi::kScreenHeight - c.window.height) / 2;
    EXPECT_EQ(w.rect, centred) << c.width << "x" << c.height;
    EXPECT_EQ(w.control, c.page) << c.width << "x" << c.height;
    EXPECT_EQ(w.title, "Tarvel");
    EXPECT_EQ(w.icon, "app-popup\\icon.ico");
    EXPECT_TRUE(w.shown);
    EXPECT_EQ(navigations(id), (std::vector<std::string>{"navigate http://127.0.0.1:1/pay?"}));
  }
}

TEST_F(HtmlBrowserTest, ResizingKeepsThePagesMarginsAndClosingDestroysIt) {
  const WindowId id = HtmlBrowser::open(t.app, kNoWindow, "about:blank", 800, 600);
  EXPECT_TRUE(t.ui.window(id)->resizable);
  t.ui.move_control(id, {4, 10, 800, 600});
  t.ui.resize_client(id, 1000, 700);
  EXPECT_EQ(t.ui.window(id)->control, (Rect{4, 10, 1000 - 8, 700 - 14}));
  t.ui.press_close(id);
  EXPECT_FALSE(t.ui.exists(id)) << "closing destroys it";
}

}  // namespace
}  // namespace tarvel
