#include "screens/index_form.hpp"

#include <cctype>
#include <utility>

#include "core/probe.hpp"
#include "core/settings_readers.hpp"
#include "screens/error_screen.hpp"
#include "screens/html_browser.hpp"
#include "screens/installation_worker.hpp"
#include "screens/transferring_form.hpp"
#include "screens/window_layout.hpp"
#include "server/cut_at.hpp"
#include "server/transfer_request.hpp"

namespace tarvel {
namespace {

constexpr const char* kLoginStatusPrefix = "status205==";
constexpr const char* kMultiStatusPrefix = "status206==<![CDATA[";
constexpr const char* kMultiStatusSuffix = "]]>";

constexpr const char* kExit = "exit";
constexpr std::string_view kAddress = "http";
constexpr const char* kCashier = "cashier";
constexpr const char* kMoreGames = "more_game";
constexpr std::string_view kLanguage = "lang";
// "lang" and two separator characters come before the language code.
constexpr std::size_t kLanguageCodeStart = 6;
constexpr std::string_view kMulti = "multi=";
constexpr std::size_t kMultiTextStart = 6;

constexpr const char* kNoConnection = "No Internet Connection!";

constexpr const char* kCashierUrl = "CashierUrl";
constexpr const char* kCashierSize = "CashierSize";
constexpr const char* kAutoLogin = "AutoLogin";
constexpr const char* kTrue = "true";

std::string upper_ascii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The cashier's address for the language, or the one for every language.
std::string cashier_address(App& app, const std::string& language) {
  std::string address = read_config_value(app, kCashierUrl + upper_ascii(language));
  if (address == kConfigNotFound) address = read_config_value(app, kCashierUrl);
  return address;
}

// Width and height from "width,height"; anything short of two numbers gives
// 0 and 0, the browser's default size.
std::pair<int, int> cashier_size(App& app) {
  const std::vector<std::string> items = cut_at(read_config_value(app, kCashierSize), ",");
  if (items.size() < 2) return {0, 0};
  return {decimal_prefix(items[0]), decimal_prefix(items[1])};
}

}  // namespace

IndexForm::IndexForm(App& app, std::string multi_text)
    : FlashScreen(app, kClassName, OnActivation::escape_to_movie),
      multi_text_(std::move(multi_text)) {
  // The player may make the lobby larger; the movie follows the frame.
  ui().set_resizable(window(), true);
  app.settings().locked([](SettingsValues& v) {
    v.current_screen_marker = kLobbyMarker;
    v.installation_screen_open = false;
  });
}

// The main lobby takes its own size, centred; a secondary one keeps the
// template's size and place.
ScreenStart IndexForm::start_values() {
  ScreenStart start;
  if (multi_text_.empty()) {
    start.window = {1015, 720};
    start.control = {1000, 690};
  }
  start.movie_path = app_path(kMovie);
  start.first_text = kLoginStatusPrefix + app().settings().login_properties();
  start.timers = {{kStatusTimerId, kStatusTimerPeriodMs}};
  return start;
}

// Every tick empties the status pair, except while an installation screen
// is open: its progress and failures are that screen's to show (a failure
// waits there for the player's retry). Results always come here.
void IndexForm::on_timer(int timer_id) {
  (void)timer_id;
  const Status status = app().settings().locked([](SettingsValues& v) -> Status {
    if (v.status.code != kStatusResult && v.installation_screen_open) return {};
    return std::exchange(v.status, Status{});
  });
  if (status.code == kStatusProgress) send_text_to_movie(kProgressPrefix + status.text);
  if (status.code == kStatusResult) send_text_to_movie(status.text);
  if (!multi_text_.empty()) {
    send_text_to_movie(kMultiStatusPrefix + multi_text_ + kMultiStatusSuffix);
    multi_text_.clear();
  }
  answer_left_request();
}

// A request whose installation screen went without a result (the player
// left it after a failure) still gets its answer once no run is left that
// could give it: the states as they are now.
void IndexForm::answer_left_request() {
  const bool owed = app().settings().locked(
      [](const SettingsValues& v) { return v.lobby_answer_owed && !v.installation_screen_open; });
  if (!owed) return;
  App& app = this->app();
  (void)app.workers().start(WorkerKind::installation, [&app] { report_game_states(app); });
}

void IndexForm::on_command(const std::string& command, const std::string& argument) {
  (void)argument;
  if (command == kExit) return destroy_window();
  if (!connected(command)) return;
  if (command.size() > kAddress.size() && command.starts_with(kAddress)) {
    HtmlBrowser::open(app(), window(), command, 0, 0);
  } else if (command == kCashier) {
    open_cashier();
  } else if (command == kMoreGames) {
    open_more_games();
  } else if (command.size() > kLanguageCodeStart && command.starts_with(kLanguage)) {
    change_language(command);
  } else {
    game_or_window_request(command);
  }
}

// Two failed lookups in a row tell the player; a second lookup that works
// still drops the command, which came while the line was down.
bool IndexForm::connected(const std::string& command) {
  if (public_host_probe(app()) || command.empty()) return true;
  if (!public_host_probe(app())) ui().message_box(window(), kNoConnection, kErrorCaption);
  return false;
}

void IndexForm::open_cashier() {
  const std::string language = app().settings().selected_language();
  std::string address = cashier_address(app(), language);
  if (address == kConfigNotFound || language.empty()) return;
  const auto [width, height] = cashier_size(app());
  if (read_config_value(app(), kAutoLogin) == kTrue) {
    // The page opens whatever the service said: without a ticket the
    // cashier asks the player to log in itself.
    ServerRequest request;
    (void)send_transfer_request(app(), request);
    address = build_game_link(app(), request, address);
  }
  HtmlBrowser::open(app(), kNoWindow, address, width, height);
}

void IndexForm::open_more_games() {
  const std::string address = read_config_value(app(), kMoreGames);
  if (address != kConfigNotFound) HtmlBrowser::open(app(), kNoWindow, address, 0, 0);
}

// Refused like a game request while an installation runs: its worker would
// have to wait, and the two would race for the same language setting.
void IndexForm::change_language(const std::string& command) {
  if (app().settings().installation_screen_open()) return refuse_while_installing();
  select_language(command.substr(kLanguageCodeStart));
  open_installation();
}

void IndexForm::game_or_window_request(const std::string& command) {
  const bool installing = app().settings().installation_screen_open();
  const bool game = is_rng_request(command) || command.find(kGameRequest) != std::string::npos;
  if (game && !installing) {
    app().settings().locked([&](SettingsValues& v) {
      v.game_request = command;
      v.saved_game_request = command;
    });
    open_installation();
  } else if (installing) {
    refuse_while_installing();
  } else if (command.find(kMulti) != std::string::npos) {
    open_modeless<IndexForm>(app(), kNoWindow, command.substr(kMultiTextStart));
  }
}

void IndexForm::open_installation() {
  app().settings().set_lobby_answer_owed(true);
  open_modeless<TransferringForm>(app(), window());
}

void IndexForm::refuse_while_installing() {
  ui().enable(window(), false);
  (void)CError::show_modeless(app(), kErrorInstallationBusy);
}

void IndexForm::on_request(const ParsedRequest& request) {
  if (request.name != kLanguage || request.arguments.empty()) return;
  select_language(request.arguments.front());
}

// The language addresses follow the new language: the packages installed
// from now on come from its folders, not from those of the login's.
void IndexForm::select_language(const std::string& code) {
  app().settings().locked([&](SettingsValues& v) {
    v.selected_language = code;
    v.language_changed = true;
    derive_language_addresses(v);
  });
}

// Coming to the front other than by a click also undoes the disabling of a
// refused request.
void IndexForm::on_activate(Activation how) {
  FlashScreen::on_activate(how);
  if (how == Activation::plain) ui().enable(window(), true);
}

void IndexForm::on_size(int client_width, int client_height) {
  fit_control_to_client(ui(), window(), client_width, client_height);
}

}  // namespace tarvel
