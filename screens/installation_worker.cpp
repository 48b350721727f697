#include "screens/installation_worker.hpp"

#include <array>
#include <optional>

#include "core/app.hpp"
#include "core/language_list.hpp"
#include "core/probe.hpp"
#include "core/settings_readers.hpp"
#include "server/cut_at.hpp"
#include "update/common_package.hpp"
#include "update/game_package.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

constexpr const char* kAssetKind = "asset";
constexpr const char* kGameKind = "Game";
constexpr const char* kCommonGroup = "common";
// The common package's files for one language, and the casino's shared files.
constexpr const char* kCommonLanguagePackage = "common";
constexpr const char* kCasinoPackage = "casino";
// Game families an RNG request may need before its own package.
constexpr std::array<std::string_view, 2> kGameFamilies = {"slot", "videopoker"};
constexpr const char* kLinkLabel = "linkLabel";
// The installation mode that installs missing games, and the one that also
// installs every game in every language.
constexpr int kInstallMissing = 1;
constexpr int kInstallEveryLanguage = 2;

constexpr std::string_view kDocumentOpen = "<![CDATA[<main>";
constexpr std::string_view kDocumentClose = "</main>]]>";
constexpr std::string_view kGameOpen = "<game type=\"";
constexpr std::string_view kGameVersion = "\" version=\"";
constexpr std::string_view kGameClose = "\"></game>\n";
constexpr std::string_view kLanguageOpen = "<lang install=\"";
constexpr std::string_view kLanguageClose = "\"></lang>\n";

// What one run works on, read from the record as it starts.
struct Run {
  bool from_lobby = false;
  bool common_stage = false;
  bool rng_request = false;
  std::string game_name;
  int mode = 0;
  // False for a report of the states alone: nothing is installed.
  bool installs = true;
};

void set_progress(App& app, const char* kind, int index, std::optional<int> count = {}) {
  app.settings().locked([&](SettingsValues& v) {
    v.package_kind = kind;
    v.item_index = index;
    if (count) v.item_count = *count;
  });
}

bool tearing_down(App& app) { return app.workers().stop_requested(); }

// The game name of a request: after "rnggame" and its separator, or after
// "game_"; "" for no request.
std::string game_name_of(const std::string& request, bool rng) {
  const std::size_t skip = rng ? kRngGameRequest.size() + 1 : kGameRequest.size();
  return request.size() > skip ? request.substr(skip) : std::string();
}

Run begin_run(App& app) {
  return app.settings().locked([](SettingsValues& v) {
    v.package_kind = kCommonPackageKind;
    // What an earlier run counted is not this run's progress.
    v.item_count = 0;
    v.item_index = 0;
    Run run;
    run.from_lobby = v.current_screen_marker == kLobbyMarker;
    run.common_stage = !run.from_lobby || v.language_changed;
    run.rng_request = is_rng_request(v.game_request);
    run.game_name = game_name_of(v.game_request, run.rng_request);
    run.mode = v.update;
    return run;
  });
}

bool common_stage(App& app) {
  if (!install_common_package(app)) return false;
  set_progress(app, kAssetKind, 0);
  return install_game_package(app, kCommonLanguagePackage, "", kSourceCommonLanguage) &&
         install_game_package(app, kCasinoPackage, kCommonGroup, kSourceLauncherUrl);
}

// An RNG game of a family needs the family's packages; they are a bonus, and
// a failure here is not the run's failure.
void game_families(App& app, const std::string& game_name) {
  for (const std::string_view family : kGameFamilies) {
    const auto at = game_name.find(family);
    if (at == std::string::npos || at == 0) continue;
    const std::string package(family);
    (void)install_game_package(app, package, kCommonGroup, kSourceGameUrl);
    (void)install_game_package(app, package, "", kSourceGameLanguage);
  }
}

// The game the player asked for: its package failing is the run's failure,
// which the player sees on the installation screen and may retry.
bool single_game_stage(App& app, const std::string& game_name) {
  set_progress(app, kGameKind, 0);
  if (!install_game_package(app, game_name, kCommonGroup, kSourceGameUrl)) return false;
  app.settings().set_package_kind(kAssetKind);
  return install_game_package(app, game_name, "", kSourceGameLanguage);
}

// The languages whose common language pack is installed, in file order.
std::vector<std::string> installed_languages(App& app, const std::vector<LanguageEntry>& list) {
  std::vector<std::string> installed;
  for (const LanguageEntry& entry : list) {
    const std::string manifest = build_manifest_name(entry.name, kCommonGroup, kInstallKind);
    if (is_plain_file_name(manifest) && can_be_opened(app, manifest)) {
      installed.push_back(entry.name);
    }
  }
  return installed;
}

bool install_every_language(App& app, const std::vector<LanguageEntry>& list,
                            const std::vector<std::string>& games) {
  const int count = static_cast<int>(games.size());
  for (const LanguageEntry& entry : list) {
    for (int j = 0; j < count; ++j) {
      if (tearing_down(app)) return false;
      app.settings().set_selected_language(entry.name);
      if (!install_game_package(app, games[j], "", kSourceGameLanguage)) return false;
      set_progress(app, kGameKind, j, count);
      if (!install_game_package(app, games[j], kCommonGroup, kSourceGameUrl)) return false;
    }
  }
  return true;
}

// Every game in every language, with the player's language back in place
// afterwards, also when the pass stops: a retry, the cashier and the next
// run all go on in the player's language.
bool language_pass(App& app, const std::vector<LanguageEntry>& list,
                   const std::vector<std::string>& games) {
  const std::string players_language = app.settings().selected_language();
  const bool done = install_every_language(app, list, games);
  app.settings().set_selected_language(players_language);
  return done;
}

bool needs_install(const Run& run, const std::string& state) {
  return run.installs && (state == kPackageMandatoryUpdate ||
                          (run.mode == kInstallMissing && state == kPackageInstall));
}

std::string reported_state(const std::string& main_state, const std::string& language_state) {
  if (language_state == kPackageInstall || language_state == kPackageUpdate) return language_state;
  return main_state == kPackageMandatoryUpdate ? kPackageUpToDate : main_state;
}

// One game's state, installing what the mode asks for on the way. States are
// not asked again after an installation: the lobby learns of it next time.
std::optional<GameState> game_state(App& app, const Run& run, const std::string& game) {
  const std::string name = listed_game_name(game);
  const std::string main_state = game_package_status(app, kCommonGroup, name, kSourceGameUrl);
  if (needs_install(run, main_state)) {
    app.settings().set_package_kind(kGameKind);
    if (!install_game_package(app, name, kCommonGroup, kSourceGameUrl)) return std::nullopt;
  }
  const std::string language_state =
      game_package_status(app, app.settings().selected_language(), name, kSourceGameLanguage);
  if (needs_install(run, language_state)) {
    app.settings().set_package_kind(kAssetKind);
    if (!install_game_package(app, name, "", kSourceGameLanguage)) return std::nullopt;
  }
  return GameState{name, reported_state(main_state, language_state)};
}

std::optional<std::vector<GameState>> status_pass(App& app, const Run& run,
                                                  const std::vector<std::string>& games) {
  std::vector<GameState> states;
  const int count = static_cast<int>(games.size());
  for (int j = 0; j < count; ++j) {
    if (tearing_down(app)) return std::nullopt;
    set_progress(app, kGameKind, j, count);
    std::optional<GameState> state = game_state(app, run, games[j]);
    if (!state) return std::nullopt;
    states.push_back(std::move(*state));
  }
  return states;
}

// The games the lobby shows. Without a linkLabel value there are none, not
// one game called "not found".
std::vector<std::string> game_list(App& app) {
  const std::string value = read_config_value(app, kLinkLabel);
  if (value == kConfigNotFound) return {};
  return cut_at(value, ",");
}

const char* status_prefix(const Run& run) {
  if (!run.from_lobby) return kGameStatusPrefix;
  return run.rng_request ? kRngInstallPrefix : kGameInstallPrefix;
}

// The result, for the lobby to relay; a lobby's request is answered.
void post_result(SettingsValues& v, const Run& run, const std::string& document) {
  v.status = {kStatusResult, status_prefix(run) + document};
  if (run.from_lobby) v.lobby_answer_owed = false;
}

// The screen shows what the failure left in the status pair; the probe tells
// a lost connection from a failed download. Nothing is probed once the
// launcher is closing.
void stop(App& app) {
  if (!tearing_down(app)) (void)public_host_probe(app);
}

// The stages before the status pass; false when the run has to stop.
bool install_stages(App& app, const Run& run) {
  if (run.common_stage && !common_stage(app)) return false;
  if (run.rng_request) game_families(app, run.game_name);
  if (tearing_down(app)) return false;
  // Without a game there is nothing to install: an empty name would build the
  // common package's own manifest names.
  if (run.from_lobby && !run.game_name.empty() && !single_game_stage(app, run.game_name)) {
    return false;
  }
  return !tearing_down(app);
}

// Every game's state and the installed languages, as the lobby reads them;
// nothing when the run has to stop.
std::optional<std::string> list_states(App& app, const Run& run) {
  const std::vector<std::string> games = game_list(app);
  const std::vector<LanguageEntry> list =
      read_language_list(app, app.settings().application_directory() + kLanguageFileName);
  const std::vector<std::string> installed = installed_languages(app, list);
  if (run.installs && run.mode == kInstallEveryLanguage && !language_pass(app, list, games)) {
    return std::nullopt;
  }
  const std::optional<std::vector<GameState>> states = status_pass(app, run, games);
  if (!states) return std::nullopt;
  return game_status_document(*states, installed);
}

// The whole run: the document, or nothing after a failure, which stop() has
// left in the status pair for the screen to show.
std::optional<std::string> install_and_list(App& app, const Run& run) {
  std::optional<std::string> document;
  if (install_stages(app, run)) document = list_states(app, run);
  if (!document) stop(app);
  return document;
}

}  // namespace

bool is_rng_request(std::string_view request) {
  return request.size() > kRngGameRequest.size() + 1 && request.starts_with(kRngGameRequest);
}

std::string game_status_document(const std::vector<GameState>& games,
                                 const std::vector<std::string>& languages) {
  if (games.empty()) return {};
  std::string document(kDocumentOpen);
  for (const GameState& game : games) {
    document.append(kGameOpen).append(game.name).append(kGameVersion);
    document.append(game.state).append(kGameClose);
  }
  for (const std::string& language : languages) {
    document.append(kLanguageOpen).append(language).append(kLanguageClose);
  }
  document.append(kDocumentClose);
  return document;
}

void run_installation(App& app, InstallationRun& screen_run) {
  const Run run = begin_run(app);
  const std::optional<std::string> document = install_and_list(app, run);
  app.settings().locked([&](SettingsValues& v) {
    screen_run.ended = true;
    if (!document) return;
    post_result(v, run, *document);
    screen_run.finished = true;
    // A screen that is still there is about to close; one that has gone
    // left the flag to whichever screen opened since.
    if (!screen_run.screen_gone) v.installation_screen_open = false;
  });
}

void report_game_states(App& app) {
  Run run = begin_run(app);
  run.installs = false;
  const std::optional<std::string> document = list_states(app, run);
  if (document) app.settings().locked([&](SettingsValues& v) { post_result(v, run, *document); });
}

}  // namespace tarvel
