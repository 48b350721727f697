#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/app.hpp"
#include "platform/gtk/gtk_ui.hpp"
#include "platform/headless/transcript.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel::testing {

// How long a desktop test waits for a page before it fails: generous, as
// pages load many times slower under the sanitizers on a busy machine.
inline constexpr int kPatienceMs = 120000;

// Starts a private X display and GTK, once per test process. False, with
// the reason in why, when that cannot be done.
bool start_gtk(std::string* why = nullptr);

// The unpacked Flash emulator of this build ("" when the build has none).
std::string ruffle_directory();
// The source tree, with a "/".
std::string source_directory();
// The sample HTML5 movies, web/movies/ in the source tree, with a "/".
std::string sample_movies_directory();
// The test movies built by the build (haxe), with a "/".
std::string built_test_movies_directory();
// Where tests leave screenshots for people to look at, with a "/".
std::string screenshots_directory();

// What a window shows at one moment.
struct Picture {
  int width = 0;
  int height = 0;
  int colours = 0;             // distinct colours seen
  double off_background = 0;   // share of pixels unlike the top-left one
  std::uint64_t checksum = 0;  // of every pixel: equal pictures, equal sums
  [[nodiscard]] bool blank() const { return colours <= 1; }
};
// Reads the window's client area off the screen; saves it as a PNG under
// screenshots_directory() when name is not empty.
Picture screenshot(GtkUi& ui, WindowId window, const std::string& name = "");
// Waits until the window's picture has stopped changing for a moment (the
// page's latest state has reached the screen), then takes it as above.
Picture settled_screenshot(GtkUi& ui, WindowId window, const std::string& name = "");

// The same for a window of another program on this display: the topmost
// shown window whose role is the screen's class name (the launcher's GTK
// windows carry it). An empty picture when no such window is shown.
Picture screenshot_of(const std::string& role, const std::string& name = "");
Picture settled_screenshot_of(const std::string& role, const std::string& name = "");

// Runs a script in the page of the window's web view, as a person's hands
// and eyes on the page would act, and gives back its answer as text ("" when
// it failed).
std::string run_in_page(GtkUi& ui, WindowId window, const std::string& script);

// Copies a folder's tree into another, creating folders as needed.
void copy_tree(const std::string& from, const std::string& to);

// A launcher in a temporary application directory whose screens are real
// windows; the rest of its services are TestApp's.
struct GtkTestApp {
  GtkTestApp();
  ~GtkTestApp();

  // Runs step every 20 ms from the message loop, modal loops included,
  // until it returns true.
  void every_tick(std::function<bool()> step);
  // Runs the loop until done() holds or the time is up.
  bool wait_until(const std::function<bool()>& done, int timeout_ms = kPatienceMs);
  // Whether the transcript has an entry of this kind with this text.
  [[nodiscard]] bool saw(TranscriptEntry::Kind kind, const std::string& text,
                         const std::string& screen = "") const;
  // Ends every window after timeout_ms, so that a modal loop whose movie
  // never answers returns and the test fails instead of hanging.
  void give_up_after(int timeout_ms);

  TestApp base;
  RecordingTranscript transcript;
  GtkUi ui;
  App app;
  bool gave_up = false;

 private:
  unsigned give_up_source_ = 0;
};

}  // namespace tarvel::testing
