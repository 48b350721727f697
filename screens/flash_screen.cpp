#include "screens/flash_screen.hpp"

#include "screens/window_layout.hpp"

namespace tarvel {

FlashScreen::FlashScreen(App& app, const std::string& class_name, OnActivation activation)
    : FlashWindow(app.ui(), class_name),
      app_(app),
      class_name_(class_name),
      activation_(activation) {}

bool FlashScreen::show_modal_as_main() {
  ui().set_main_window(window());
  return ui().run_modal(window());
}

std::string FlashScreen::app_path(const std::string& relative) const {
  return app_.settings().application_directory() + relative;
}

void FlashScreen::on_init() {
  app_.log().note("screen " + class_name_ + " opened");
  const ScreenStart start = start_values();
  set_icon_and_title(app_, window());
  place(start);
  load_movie(start.movie_path);
  send_text_to_movie(start.first_text);
  play();
  for (const ScreenStart::Timer& timer : start.timers) {
    ui().set_timer(window(), timer.id, timer.period_ms);
  }
  on_started();
}

void FlashScreen::place(const ScreenStart& start) {
  if (start.window) {
    ui().move_window(window(), {0, 0, start.window->width, start.window->height});
  }
  if (start.control) {
    ui().move_control(window(), {0, 0, start.control->width, start.control->height});
  }
  if (start.window) ui().centre(window());
  if (start.remove_close) ui().remove_close_command(window());
}

void FlashScreen::on_destroyed() { app_.log().note("screen " + class_name_ + " closed"); }

// The injected Escape reaches the movie through the key filter, never the
// dialog: it tells the movie its window came to the front.
void FlashScreen::on_activate(Activation how) {
  if (activation_ == OnActivation::escape_to_movie && how == Activation::plain) {
    ui().synthesize_key({kKeyEscape, true});
  }
}

// No key is a dialog key here: Escape, Cancel and Enter would close a plain
// dialog, and the movie needs them.
KeyRoute FlashScreen::pre_translate(const KeyMessage& key) {
  (void)key;
  return KeyRoute::focus;
}

}  // namespace tarvel
