#include "screens/error_screen.hpp"

#include "core/status.hpp"

namespace tarvel {

CError::CError(App& app, int code)
    : FlashScreen(app, kClassName, OnActivation::nothing), code_(code) {}

void CError::show_modal(App& app, int code) {
  app.log().note("error screen with code " + std::to_string(code));
  CError screen(app, code);
  (void)screen.show_modal_as_main();
}

WindowId CError::show_modeless(App& app, int code) {
  app.log().note("error screen with code " + std::to_string(code));
  return open_modeless<CError>(app, app.ui().main_window(), code);
}

ScreenStart CError::start_values() {
  // Before a login no language is selected yet; the movie still needs one.
  std::string language = app().settings().selected_language();
  if (language.empty()) language = app().settings().default_language();
  ScreenStart start;
  start.window = {287, 167};
  start.control = {283, 139};
  start.remove_close = true;
  start.movie_path = app_path(kMovie);
  start.first_text = kLanguagePrefix + language;
  start.timers = {{kTimerId, kTimerPeriodMs}};
  return start;
}

// Repeated for as long as the screen is open: the movie may not be listening
// at the first ticks.
void CError::on_timer(int timer_id) {
  (void)timer_id;
  if (code_ != 0) send_text_to_movie(error_text(code_));
}

void CError::on_command(const std::string& command, const std::string& argument) {
  (void)command;
  (void)argument;
  ui().enable(ui().top_level_parent(window()), true);
  destroy_window();
}

}  // namespace tarvel
