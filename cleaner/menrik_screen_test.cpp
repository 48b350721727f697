#include "cleaner/menrik_screen.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

TEST(Menrik, EndsOnTheFirstCommandEvenAnEmptyOne) {
  testing::TestApp t;
  t.dir.write("app-popup/clearLogin.swf",
              "after 700 -> command \"\"\n"
              "after 800 -> command exit\n");
  EXPECT_TRUE(run_menrik(t.ui, t.dir.path() + "/"));
  EXPECT_EQ(t.loop_clock.now_ms(), 700u);
  EXPECT_EQ(t.transcript.texts(Kind::command), (std::vector<std::string>{""}));
  const auto windows = t.ui.windows_of(CMenrikDlg::kClassName);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(t.ui.window(windows[0])->title, "Menrik");
  EXPECT_FALSE(t.ui.window(windows[0])->close_command);
  EXPECT_EQ(t.ui.main_window(), kNoWindow);
}

TEST(Menrik, WithoutItsMovieTheScreenStaysBlankAndOpen) {
  testing::TestApp t;
  EXPECT_FALSE(run_menrik(t.ui, t.dir.path() + "/"));
  const auto windows = t.ui.windows_of(CMenrikDlg::kClassName);
  ASSERT_EQ(windows.size(), 1u);
  // Only the end of the test takes the window away, after the loop gave up.
  std::vector<std::string> window_events;
  for (const auto& e : t.transcript.entries()) {
    if (e.kind == Kind::window) window_events.push_back(e.text);
  }
  const auto gave_up = std::find(window_events.begin(), window_events.end(),
                                 "message loop gave up: nothing left that could happen");
  ASSERT_NE(gave_up, window_events.end());
  EXPECT_EQ(std::find(window_events.begin(), gave_up, "destroyed"), gave_up);
  const auto notes = t.transcript.texts(Kind::movie);
  EXPECT_NE(std::find(notes.begin(), notes.end(), "missing: the screen stays blank"), notes.end());
  EXPECT_TRUE(t.transcript.texts(Kind::received).empty()) << "Menrik sends its movie nothing";
}

}  // namespace
}  // namespace tarvel
