#include "platform/headless/headless_ui.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// A window whose handlers are whatever the test gives it.
struct TestWindow : WindowHandler {
  std::function<void()> init;
  std::function<void(int)> timer;
  std::function<void(Activation)> activated;
  std::function<void()> destroyed;
  KeyRoute route = KeyRoute::dialog;
  int cancels = 0;
  int oks = 0;
  bool* deleted = nullptr;

  ~TestWindow() override {
    if (deleted != nullptr) *deleted = true;
  }
  void on_init() override {
    if (init) init();
  }
  void on_timer(int id) override {
    if (timer) timer(id);
  }
  void on_activate(Activation how) override {
    if (activated) activated(how);
  }
  KeyRoute pre_translate(const KeyMessage&) override { return route; }
  void on_cancel() override { ++cancels; }
  void on_ok() override { ++oks; }
  void on_destroyed() override {
    if (destroyed) destroyed();
  }
};

struct Kernel {
  testing::TempDir dir;
  PosixFiles files{dir.path()};
  TestLoopClock clock;
  RecordingTranscript transcript;
  ScriptedMovieHost movies{files};
  HeadlessUi ui{clock, movies, transcript};

  // Lets the loop run everything waiting, and the clock move on by ms.
  void advance(std::uint64_t ms) {
    const std::uint64_t until = clock.now_ms() + ms;
    ui.schedule(kNoWindow, ms, [] {});
    ASSERT_TRUE(ui.run_until([&] { return clock.now_ms() >= until; }));
  }
};

TEST(HeadlessModalLoops, NestedHandOversUnwindInnermostFirst) {
  Kernel k;
  TestWindow first, second, third;
  const WindowId a = k.ui.create_window(first, "First");
  const WindowId b = k.ui.create_window(second, "Second");
  const WindowId c = k.ui.create_window(third, "Third");
  std::vector<std::string> returned;
  // Each screen hands over from its timer: next becomes main, self goes,
  // then the next runs modally inside this handler.
  const auto hand_over = [&](WindowId self, WindowId next, const char* name) {
    k.ui.kill_timer(self, 1);
    k.ui.set_main_window(next);
    k.ui.destroy(self);
    EXPECT_TRUE(k.ui.run_modal(next));
    returned.push_back(name);
  };
  first.init = [&] { k.ui.set_timer(a, 1, 200); };
  first.timer = [&](int) { hand_over(a, b, "second"); };
  second.init = [&] { k.ui.set_timer(b, 1, 200); };
  second.timer = [&](int) { hand_over(b, c, "third"); };
  third.init = [&] { k.ui.schedule(c, 1000, [&] { k.ui.destroy(c); }); };

  k.ui.set_main_window(a);
  EXPECT_TRUE(k.ui.run_modal(a));
  EXPECT_EQ(returned, (std::vector<std::string>{"third", "second"}));
  EXPECT_EQ(k.clock.now_ms(), 1400u);
  EXPECT_EQ(k.ui.main_window(), kNoWindow);
  for (const WindowId id : {a, b, c}) EXPECT_FALSE(k.ui.exists(id));
}

TEST(HeadlessModalLoops, LoopWithNothingLeftToHappenGivesUpWithWindowOpen) {
  Kernel k;
  TestWindow blank;
  const WindowId w = k.ui.create_window(blank, "Blank");
  EXPECT_FALSE(k.ui.run_modal(w));
  EXPECT_TRUE(k.ui.exists(w));
}

TEST(HeadlessTimers, PeriodsAreKeptOnTheTestClock) {
  Kernel k;
  TestWindow window;
  const WindowId w = k.ui.create_window(window, "Timed");
  std::vector<std::pair<int, std::uint64_t>> ticks;
  window.init = [&] {
    k.ui.set_timer(w, 1, 200);
    k.ui.set_timer(w, 2, 10'000);
  };
  window.timer = [&](int id) {
    ticks.emplace_back(id, k.clock.now_ms());
    if (k.clock.now_ms() == 1000) k.ui.kill_timer(w, 1);
    if (id == 2 && k.clock.now_ms() == 20'000) k.ui.destroy(w);
  };
  EXPECT_TRUE(k.ui.run_modal(w));
  std::size_t short_ticks = 0;
  for (const auto& [id, at] : ticks) {
    if (id == 1) {
      EXPECT_EQ(at, 200 * ++short_ticks);
    }
  }
  EXPECT_EQ(short_ticks, 5u) << "timer 1 stops when killed at 1000 ms";
  EXPECT_EQ(ticks.back(), (std::pair<int, std::uint64_t>{2, 20'000}));
  EXPECT_EQ(ticks.size(), 7u);
}

TEST(HeadlessTimers, WakesFromAnotherThreadOnTheRealClock) {
  testing::TempDir dir;
  PosixFiles files(dir.path());
  RealLoopClock clock;
  RecordingTranscript transcript;
  ScriptedMovieHost movies(files);
  HeadlessUi ui(clock, movies, transcript);
  TestWindow window;
  const WindowId w = ui.create_window(window, "Waiting");
  std::thread poster;
  // No timer at all: only the post can end the wait.
  window.init = [&] { poster = std::thread([&] { ui.post(w, [&] { ui.destroy(w); }); }); };
  EXPECT_TRUE(ui.run_modal(w));
  poster.join();
}

TEST(HeadlessWindows, OwnersActivationAndKeptAliveScreens) {
  Kernel k;
  TestWindow owner;
  std::vector<Activation> owner_activations;
  owner.activated = [&](Activation how) { owner_activations.push_back(how); };
  const WindowId o = k.ui.create_window(owner, "Owner");
  k.ui.show_modeless(o, kNoWindow);

  bool deleted = false;
  auto popup = std::make_unique<TestWindow>();
  popup->deleted = &deleted;
  const WindowId p = k.ui.create_window(*popup, "Popup");
  k.ui.show_modeless_owned(p, o, std::move(popup));
  EXPECT_EQ(k.ui.top_level_parent(p), o);
  EXPECT_EQ(k.ui.active_window(), p);

  k.ui.activate(o, Activation::click);
  k.ui.enable(o, false);
  k.ui.activate(p, Activation::plain);
  k.ui.activate(o, Activation::click);  // a disabled window takes no click
  EXPECT_EQ(k.ui.active_window(), p);
  k.ui.enable(o, true);
  k.ui.destroy(p);  // the owner comes back to the front
  EXPECT_EQ(k.ui.active_window(), o);
  EXPECT_EQ(owner_activations,
            (std::vector<Activation>{Activation::plain, Activation::inactive, Activation::click,
                                     Activation::inactive, Activation::plain}));
  EXPECT_FALSE(deleted) << "released by the loop, not inside destroy";
  k.advance(1);
  EXPECT_TRUE(deleted);
}

TEST(HeadlessWindows, DestroyingAnOwnerTakesItsWindowsAlong) {
  Kernel k;
  TestWindow owner, owned, stranger;
  const WindowId o = k.ui.create_window(owner, "Owner");
  const WindowId w = k.ui.create_window(owned, "Owned");
  const WindowId s = k.ui.create_window(stranger, "Stranger");
  k.ui.show_modeless(o, kNoWindow);
  k.ui.show_modeless(w, o);
  k.ui.show_modeless(s, kNoWindow);
  k.ui.destroy(o);
  EXPECT_FALSE(k.ui.exists(w));
  EXPECT_TRUE(k.ui.exists(s));
}

TEST(HeadlessWindows, OwnershipNeverLoopsAndATeardownRunsOnce) {
  Kernel k;
  TestWindow first, second, third;
  const WindowId a = k.ui.create_window(first, "A");
  const WindowId b = k.ui.create_window(second, "B");
  const WindowId c = k.ui.create_window(third, "C");
  k.ui.show_modeless(a, kNoWindow);
  k.ui.show_modeless(b, a);
  k.ui.show_modeless(c, b);
  k.ui.show_modeless(a, c);  // A would own its own owner's owner: refused
  EXPECT_EQ(k.ui.window(a)->owner, kNoWindow);
  EXPECT_EQ(k.ui.top_level_parent(c), a);
  EXPECT_EQ(k.ui.top_level_parent(a), a);

  // A window going with its owner destroys that owner again from its handler.
  third.destroyed = [&] { k.ui.destroy(a); };
  k.ui.destroy(a);
  EXPECT_FALSE(k.ui.exists(a) || k.ui.exists(b) || k.ui.exists(c));
  EXPECT_EQ(k.transcript.texts(Kind::window, "A"),
            (std::vector<std::string>{"created", "shown modeless", "activated", "shown modeless",
                                      "activated", "destroyed"}))
      << k.transcript.dump();
}

TEST(HeadlessWindows, ClosingADialogWithItsFrontChildBringsItsOwnerBack) {
  Kernel k;
  TestWindow main_window, dialog, child;
  const WindowId m = k.ui.create_window(main_window, "Main");
  const WindowId d = k.ui.create_window(dialog, "Dialog");
  const WindowId c = k.ui.create_window(child, "Child");
  k.ui.show_modeless(m, kNoWindow);
  k.ui.show_modeless(d, m);
  k.ui.show_modeless(c, d);
  ASSERT_EQ(k.ui.active_window(), c);
  k.ui.destroy(d);
  EXPECT_EQ(k.ui.active_window(), m);
  EXPECT_EQ(k.transcript.texts(Kind::window, "Dialog"),
            (std::vector<std::string>{"created", "shown modeless, owned by #1", "activated",
                                      "destroyed"}))
      << "a window on its way out is not brought to the front";
}

TEST(HeadlessKeys, PreTranslationDecidesWhetherTheDialogSeesAKey) {
  Kernel k;
  TestWindow dialog;
  const WindowId w = k.ui.create_window(dialog, "Dialog");
  k.ui.show_modeless(w, kNoWindow);
  const auto type = [&](int key) {
    k.ui.synthesize_key({key, true});
    k.ui.synthesize_key({key, false});
  };
  type(kKeyEscape);
  type(kKeyEnter);
  type(kKeyCancel);
  type('A');
  k.advance(1);
  EXPECT_EQ(dialog.cancels, 2);
  EXPECT_EQ(dialog.oks, 1);

  dialog.route = KeyRoute::focus;
  type(kKeyEscape);
  type(kKeyEnter);
  k.advance(1);
  k.ui.enable(w, false);
  type('B');
  k.advance(1);
  EXPECT_EQ(dialog.cancels, 2);
  EXPECT_EQ(dialog.oks, 1);
  const auto keys = k.transcript.texts(Kind::key);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "27 down reached the movie"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "66 down dropped: no enabled window is active"),
            1);
}

TEST(HeadlessWindows, CloseBoxFollowsTheCloseCommand) {
  Kernel k;
  TestWindow dialog;
  const WindowId w = k.ui.create_window(dialog, "Dialog");
  k.ui.show_modeless(w, kNoWindow);
  k.ui.press_close(w);
  EXPECT_EQ(dialog.cancels, 1);
  k.ui.remove_close_command(w);
  k.ui.press_close(w);
  EXPECT_EQ(dialog.cancels, 1);
}

}  // namespace
}  // namespace tarvel
