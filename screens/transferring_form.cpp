#include "screens/transferring_form.hpp"

#include <utility>

#include "core/probe.hpp"
#include "screens/index_form.hpp"
#include "screens/installation_worker.hpp"

namespace tarvel {
namespace {

constexpr const char* kExit = "exit";
constexpr const char* kRetry = "retry";

}  // namespace

TransferringForm::TransferringForm(App& app) : FlashScreen(app, kClassName, OnActivation::nothing) {
  app.settings().set_installation_finished(false);
}

// Destroyed here, while still this screen, so that on_destroyed runs.
TransferringForm::~TransferringForm() { destroy_window(); }

void TransferringForm::on_destroyed() {
  app().settings().set_installation_screen_open(false);
  FlashScreen::on_destroyed();
}

void TransferringForm::on_init() {
  app().settings().set_installation_screen_open(true);
  FlashScreen::on_init();
}

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

// The worker gets the App, never this screen: the window may be gone long
// before the work is.
void TransferringForm::start_worker() {
  App& app = this->app();
  app.settings().set_installation_finished(false);
  worker_waiting_ =
      !app.workers().start(WorkerKind::installation, [&app] { run_installation(app); });
}

void TransferringForm::on_timer(int timer_id) {
  if (timer_id == kConnectivityTimerId) {
    if (!error_shown_) (void)public_host_probe(app());
    return;
  }
  relay_status();
  if (worker_waiting_) {
    start_worker();
    return;
  }
  if (error_shown_) return;
  const bool finished = app().settings().locked(
      [](SettingsValues& v) { return std::exchange(v.installation_finished, false); });
  if (finished) leave();
}

// A waiting result stays in the pair: it is the lobby's to relay.
void TransferringForm::relay_status() {
  const Status status = app().settings().locked([](SettingsValues& v) {
    const Status waiting = v.status;
    if (waiting.code != kStatusResult) v.status = {};
    return waiting;
  });
  switch (status.code) {
    case kStatusProgress:
      send_text_to_movie(kProgressPrefix + status.text);
      break;
    case kStatusDownloadFailed:
      send_text_to_movie(status.text);
      break;
    case kStatusNoConnectivity:
      if (error_shown_) break;
      send_text_to_movie(status.text);
      error_shown_ = true;
      break;
    default:
      break;
  }
}

void TransferringForm::leave() {
  if (app().settings().current_screen_marker() != kLobbyMarker) {
    hand_over<IndexForm>();
  } else {
    destroy_window();
  }
}

void TransferringForm::on_command(const std::string& command, const std::string& argument) {
  (void)argument;
  if (command == kRetry) retry();
  if (command == kExit) destroy_window();
}

// A retry while the work still runs would start a second worker over the
// same files: it does nothing until that work has ended.
void TransferringForm::retry() {
  if (worker_waiting_ || app().workers().running(WorkerKind::installation)) return;
  if (!public_host_probe(app())) return;
  error_shown_ = false;
  app().settings().locked([](SettingsValues& v) {
    if (!v.saved_game_request.empty()) v.game_request = v.saved_game_request;
  });
  start_worker();
}

}  // namespace tarvel
