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

// The installation worker, run on its own thread: brings the common packages
// (after login, or after a language change) and the requested game up to
// date, works out every game's state and leaves the game status text in the
// status pair (203) with installation finished set. It reaches the screens
// only through the settings record. On a failure it probes connectivity and
// ends, leaving 401 or 402 in the status pair for the screen to show.
void run_installation(App& app);

}  // namespace tarvel
