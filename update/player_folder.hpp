#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class Files;
class Shell;

// What a brand's package brings its players: read only, never written.
struct PackagedClient {
  std::string seed;      // the client folder a new player starts with
  std::string launcher;  // the launcher program
  std::string version;   // that program's version
};

// What the player's folder knows of the launcher in it, as last seen by the
// start command: its version and SHA-256. The name holds ".dat", so a purge
// of the folder keeps it.
inline constexpr const char* kLauncherSeenName = "launcher-seen.dat";

struct LauncherRecord {
  std::string version;
  std::string sha256;
  bool operator==(const LauncherRecord&) const = default;
};

[[nodiscard]] std::optional<LauncherRecord> parse_launcher_record(std::string_view text);
[[nodiscard]] std::string launcher_record_text(const LauncherRecord& record);

// The version a program names on its --version line: the first word that
// starts with a digit ("tarvel 1.4.2" gives "1.4.2"), or "".
[[nodiscard]] std::string version_in(std::string_view line);

// Whether version a is later than b, dotted numbers compared as numbers
// ("1.10" is later than "1.9"; a missing part counts as 0).
[[nodiscard]] bool later_version(std::string_view a, std::string_view b);

// The launcher the player's folder holds, when the start command looks.
struct PlayerLauncher {
  bool present = false;
  std::string sha256;
  std::optional<LauncherRecord> record;
};

struct LauncherChoice {
  bool take_package = false;
  // The player's launcher's version as far as it is known ("" when not).
  std::string player_version;
  // Whether that came from asking the launcher itself.
  bool asked = false;
};

// Which launcher runs: the package's when the folder has none, or when the
// package's is later than the folder's. A launcher the record describes has
// the record's version; one replaced since (by a self-update) is at least as
// new as the one it replaced, and is asked its version (ask) only when the
// package's is later than that. A launcher that cannot tell its version
// gives way to the package's.
[[nodiscard]] LauncherChoice choose_launcher(const std::string& package_version,
                                             const PlayerLauncher& player,
                                             const std::function<std::string()>& ask);

// Asks a launcher program for its --version line.
using VersionQuery = std::function<std::optional<std::string>(const std::string& program)>;

struct PlayerFolder {
  std::string launcher;            // the program to start, inside the folder
  std::vector<std::string> notes;  // what was done, for the player to read
  std::string error;               // why the folder is not ready; "" when it is
};

// Readies the player's own client folder (native path): made from the
// package's seed when it does not exist yet or is empty (whole, or not at
// all), then
// given the package's launcher under the name its setup.xml's exe_name
// gives, unless the one it holds is as new. Nothing of the package is
// written.
[[nodiscard]] PlayerFolder prepare_player_folder(Files& files, Shell& shell,
                                                 const PackagedClient& package,
                                                 const std::string& folder,
                                                 const VersionQuery& ask);

// Removes the player's folder (a link in its place goes, not what it points
// to), and whatever interrupted first starts left beside it. True when neither
// is there afterwards.
[[nodiscard]] bool remove_player_folder(Files& files, Shell& shell, const std::string& folder);

}  // namespace tarvel
