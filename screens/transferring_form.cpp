#include "screens/transferring_form.hpp"

#include "core/probe.hpp"
#include "screens/index_form.hpp"
#include "screens/installation_worker.hpp"

namespace tarvel {
namespace {

constexpr const char* kExit = "exit";
constexpr const char* kRetry = "retry";

}  // namespace

// Destroyed here, while still this screen, so that on_destroyed runs.
TransferringForm::~TransferringForm() { destroy_window(); }

// Once its run has finished, the run has cleared the flag already, and it
// may belong to a screen the lobby opened since.
void TransferringForm::on_destroyed() {
  app().settings().locked([this](SettingsValues& v) {
    if (run_) run_->screen_gone = true;
    if (!run_ || !run_->finished) v.installation_screen_open = false;
  });
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
  auto run = std::make_shared<InstallationRun>();
  worker_waiting_ =
      !app.workers().start(WorkerKind::installation, [&app, run] { run_installation(app, *run); });
  if (!worker_waiting_) run_ = std::move(run);
}

bool TransferringForm::own_run_working() {
  return worker_waiting_ ||
         app().settings().locked([this](SettingsValues&) { return run_ && !run_->ended; });
}

bool TransferringForm::own_run_finished() {
  return app().settings().locked([this](SettingsValues&) { return run_ && run_->finished; });
}

void TransferringForm::on_timer(int timer_id) {
  if (timer_id == kConnectivityTimerId) {
    if (!error_shown_) (void)public_host_probe(app());
    return;
  }
  // Once its own run has finished, what the pair holds is a later run's.
  if (!error_shown_ && !worker_waiting_ && own_run_finished()) return leave();
  relay_status();
  if (worker_waiting_) start_worker();
}

// A waiting result stays in the pair: it is the lobby's to relay. While this
// screen waits for an earlier screen's run, what that run reports is not
// this screen's to show.
void TransferringForm::relay_status() {
  const Status status = app().settings().locked([](SettingsValues& v) {
    const Status waiting = v.status;
    if (waiting.code != kStatusResult) v.status = {};
    return waiting;
  });
  if (worker_waiting_) return;
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

// A retry that finds the line back clears a shown loss of connection, also
// while the work still runs (the connectivity timer may have seen the line
// drop for a moment); that work then reports in its turn, as a second worker
// over the same files must not start.
void TransferringForm::retry() {
  if (!public_host_probe(app())) return;
  error_shown_ = false;
  if (own_run_working()) return;
  app().settings().locked([](SettingsValues& v) {
    if (!v.saved_game_request.empty()) v.game_request = v.saved_game_request;
  });
  start_worker();
}

}  // namespace tarvel
