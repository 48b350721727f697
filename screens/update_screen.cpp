#include "screens/update_screen.hpp"

#include <utility>

#include "core/probe.hpp"
#include "core/status.hpp"
#include "screens/login_screen.hpp"
#include "update/game_package.hpp"
#include "update/manifest.hpp"
#include "update/self_update.hpp"

namespace tarvel {
namespace {

constexpr const char* kExit = "exit";
constexpr const char* kRetry = "retry";
// The login screen's own package, fetched from beside the launcher's files.
constexpr const char* kLoginPackage = "login";
constexpr const char* kLoginPackageGroup = "update";
// The worker's results. They go into the status pair but the timer never
// relays a result, so this movie never sees them.
constexpr const char* kLauncherCurrent = "status=1";
constexpr const char* kLauncherReleased = "status=2";

// The statuses this movie is shown: progress and failures, text unchanged.
bool relayed(int code) {
  return code == kStatusProgress || code == kStatusDownloadFailed || code == kStatusNoConnectivity;
}

// Runs on the worker thread and reaches the screen only through the settings
// record, whose window may be gone by the time a step ends.
void run_update_check(App& app) {
  Settings& settings = app.settings();
  settings.set_update_check_finished(0);
  // Offline: the probe has posted 402 for the timer; the movie offers a retry.
  if (!public_host_probe(app)) return;
  const std::string release = check_launcher_update(app);
  if (release.empty()) {
    settings.set_status(kStatusResult, kLauncherCurrent);
  } else {
    settings.set_status(kStatusResult, kLauncherReleased);
    (void)apply_launcher_update(app, release);
    // Whatever the release managed, this run no longer logs in: the screen
    // closes once the login package is in place.
    settings.set_restart_pending(1);
  }
  // A release does not skip this: the next start finds the package current.
  if (install_game_package(app, kLoginPackage, kLoginPackageGroup, kSourceLauncherUrl)) {
    settings.set_update_check_finished(1);
  }
}

void start_update_check(App& app) {
  // Refused while a check still runs; the one running reports in its turn.
  (void)app.workers().start(WorkerKind::update_check, [&app] { run_update_check(app); });
}

}  // namespace

Update::Update(App& app) : FlashScreen(app, kClassName, OnActivation::escape_to_movie) {}

void Update::show_modal(App& app) {
  Update screen(app);
  (void)screen.show_modal_as_main();
}

ScreenStart Update::start_values() {
  ScreenStart start;
  start.window = {287, 167};
  start.control = {283, 139};
  start.remove_close = true;
  start.movie_path = app_path(kMovie);
  start.first_text = kLanguagePrefix + app().settings().default_language();
  start.timers = {{kStatusTimerId, kStatusTimerPeriodMs}};
  return start;
}

void Update::on_started() { start_update_check(app()); }

void Update::on_timer(int timer_id) {
  (void)timer_id;
  const Status status = app().settings().take_status();
  if (relayed(status.code)) send_text_to_movie(status.text);
  const auto [finished, restart] = app().settings().locked([](const SettingsValues& v) {
    return std::pair{v.update_check_finished == 1, v.restart_pending == 1};
  });
  if (!finished) return;
  if (restart) {
    // The run ends here; the release finishes its own work.
    destroy_window();
    return;
  }
  hand_over<CCorvaneDlg>();
}

void Update::on_command(const std::string& command, const std::string& argument) {
  (void)argument;
  if (command == kExit) {
    destroy_window();
  } else if (command == kRetry) {
    retry();
  }
}

void Update::retry() {
  // The check still running will report; a second one would race it.
  if (app().workers().running(WorkerKind::update_check)) return;
  if (!public_host_probe(app())) {
    // The probe posted the same failure for the timer: the movie is told
    // once, now.
    (void)app().settings().take_status();
    send_text_to_movie(error_text(kStatusNoConnectivity));
    return;
  }
  start_update_check(app());
}

}  // namespace tarvel
