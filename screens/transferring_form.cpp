#include "screens/transferring_form.hpp"

namespace tarvel {
namespace {

constexpr const char* kLanguagePrefix = "lang=";
constexpr const char* kExit = "exit";

}  // namespace

TransferringForm::TransferringForm(App& app)
    : FlashScreen(app, kClassName, OnActivation::nothing) {}

ScreenStart TransferringForm::start_values() {
  ScreenStart start;
  start.window = {303, 324};
  start.control = {297, 300};
  start.remove_close = true;
  start.movie_path = app_path(kMovie);
  start.first_text = kLanguagePrefix + app().settings().selected_language();
  start.timers = {{kStatusTimerId, kStatusTimerPeriodMs},
                  {kConnectivityTimerId, kConnectivityTimerPeriodMs}};
  return start;
}

void TransferringForm::on_command(const std::string& command, const std::string& argument) {
  (void)argument;
  if (command == kExit) destroy_window();
}

}  // namespace tarvel
