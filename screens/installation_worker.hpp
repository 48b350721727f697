#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class App;

// What every lobby writes into the record's current screen marker: once it is
// there, installation work comes from a lobby instead of the login.
inline constexpr const char* kLobbyMarker = "INDEX_FORM";

// How the lobby's game commands begin: an RNG game ("rnggame" and one
// separator before the game name) or any other game ("game_" and its name).
inline constexpr std::string_view kRngGameRequest = "rnggame";
inline constexpr std::string_view kGameRequest = "game_";

// The prefixes of the game status text: the first pass after login, a game
// installed on request from a lobby, an RNG game installed on request.
inline constexpr const char* kGameStatusPrefix = "game_status==";
inline constexpr const char* kGameInstallPrefix = "game_install==";
inline constexpr const char* kRngInstallPrefix = "game_rnginstall==";

// True for an RNG game request: longer than "rnggame" and its separator.
[[nodiscard]] bool is_rng_request(std::string_view request);

// One game of the lobby's list and the state the lobby shows for it.
struct GameState {
  std::string name;
  std::string state;
  bool operator==(const GameState&) const = default;
};

// The game status document the lobby movie reads: every game with its state,
// then every installed language, inside one character-data section. Empty
// when there are no games. Names and states go in as they are.
[[nodiscard]] std::string game_status_document(const std::vector<GameState>& games,
                                               const std::vector<std::string>& languages);

// One installation run, as its worker and the screen that started it share
// it; both read and write it under the settings record's lock only. Each
// screen learns whether its own run finished, however many runs came after
// it, and a run whose screen has gone leaves the installation-screen-open
// flag to whichever screen is open now.
struct InstallationRun {
  bool ended = false;        // the worker is done with it, finished or not
  bool finished = false;     // it left its result in the status pair
  bool screen_gone = false;  // the screen that started it has closed
};

// The installation worker, run on its own thread: brings the common packages
// (after login, or after a language change) and the requested game up to
// date, works out every game's state and leaves the game status text in the
// status pair (203), with the run finished. It reaches the screens only
// through the settings record. On a failure (the requested game's own
// package included) it probes connectivity and ends, leaving 401 or 402 in
// the status pair for the screen to show.
void run_installation(App& app, InstallationRun& run);

// The answer a lobby is owed for a request whose installation screen went
// without one (the player left it after a failure): every game's state as it
// is now, with the prefix the request asks for, as a 203 for the lobby.
// Installs nothing.
void report_game_states(App& app);

}  // namespace tarvel
