#include "screens/login_screen.hpp"

#include "core/probe.hpp"
#include "core/status.hpp"
#include "screens/transferring_form.hpp"
#include "server/login_request.hpp"

namespace tarvel {
namespace {

constexpr const char* kExit = "exit";
constexpr const char* kValidate = "validate";
constexpr std::size_t kValidateArguments = 3;
// The one result value that is a login; "00" or " 0" are not.
constexpr const char* kLoginAccepted = "0";

void store_credentials(Settings& settings, const std::string& user_name,
                       const std::string& password, const std::string& language) {
  settings.locked([&](SettingsValues& v) {
    v.user_name = user_name;
    v.password = password;
    v.selected_language = language;
  });
}

}  // namespace

CCorvaneDlg::CCorvaneDlg(App& app) : FlashScreen(app, kClassName, OnActivation::escape_to_movie) {}

ScreenStart CCorvaneDlg::start_values() {
  ScreenStart start;
  start.window = {303, 324};
  start.control = {297, 300};
  start.movie_path = app_path(kMovie);
  start.first_text = kLanguagePrefix + app().settings().default_language();
  start.timers = {{kTimerId, kTimerPeriodMs}};
  return start;
}

// The hand-over waits for a tick so that the request that logged in has
// returned to the movie first.
void CCorvaneDlg::on_timer(int timer_id) {
  (void)timer_id;
  if (login_succeeded_) hand_over<TransferringForm>();
}

void CCorvaneDlg::on_command(const std::string& command, const std::string& argument) {
  (void)argument;
  // A player who leaves without logging in gets nothing installed and no
  // lobby: the run ends.
  if (command == kExit) {
    destroy_window();
    return;
  }
  hand_over<TransferringForm>();
}

void CCorvaneDlg::on_request(const ParsedRequest& request) {
  if (request.name != kExit && !public_host_probe(app())) {
    // The movie is told here; the 402 the probe posted must not reach the
    // installation screen after a later login, as if that line were down.
    (void)app().settings().take_status();
    send_text_to_movie(error_text(kStatusNoConnectivity));
    return;
  }
  if (request.name != kValidate || request.arguments.size() < kValidateArguments) return;
  validate(request.arguments[0], request.arguments[1], request.arguments[2]);
}

void CCorvaneDlg::validate(const std::string& user_name, const std::string& password,
                           const std::string& language) {
  store_credentials(app().settings(), user_name, password, language);
  app().log().keep_secret(password);
  // The movie checks for empty fields itself; there is nothing to say here.
  if (user_name.empty() || password.empty()) return;
  app().settings().set_login_properties("");
  ServerRequest request;
  if (!send_login_request(app(), request)) send_text_to_movie(error_text(kErrorLoginFailed));
  if (request.tokens.size() <= kResultTokenIndex) {
    send_text_to_movie(error_text(kErrorLoginUnusableAnswer));
    return;
  }
  if (login_result_value(request) != kLoginAccepted) {
    send_text_to_movie(error_text(kErrorLoginFailed));
    return;
  }
  app().settings().locked(derive_language_addresses);
  login_succeeded_ = true;
}

}  // namespace tarvel
