#pragma once

#include <string>

namespace tarvel {

class App;

// Source codes that choose where a package's manifests are fetched from;
// any other code (callers use 301) means the url setting.
inline constexpr int kSourceCommonUrl = 302;
inline constexpr int kSourceGameUrl = 303;
inline constexpr int kSourceGameLanguage = 304;
inline constexpr int kSourceCommonLanguage = 305;
inline constexpr int kSourceLauncherUrl = 301;

// What game_package_status answers.
inline constexpr const char* kPackageInstall = "install";
inline constexpr const char* kPackageMandatoryUpdate = "mupdate";
inline constexpr const char* kPackageUpdate = "update";
inline constexpr const char* kPackageUpToDate = "uptodate";

// The package of a game the lobby lists: "rng" in front of a name marks a
// game of the random-number kind, whose package has the name without it.
[[nodiscard]] std::string listed_game_name(const std::string& game);

// Base address of a package's manifests for a source code, from the settings.
[[nodiscard]] std::string package_base_address(App& app, int source_code);

// The labels a status decision compares. server_reached is false when the
// server's update manifest could not be fetched: then nothing is known about
// the server's version and its labels are not compared at all.
struct PackageLabels {
  std::string installed;            // last version label of the installation manifest
  std::string installed_mandatory;  // its last mandatory label
  std::string applied;              // last version label of the local update manifest
  std::string applied_mandatory;    // its last mandatory label
  bool server_reached = true;
  std::string server;            // last version label of the server's update manifest
  std::string server_mandatory;  // its last mandatory label
};

// "mupdate", "update" or "uptodate" for an installed package. A change of the
// mandatory label outranks a change of the version label; a change already
// applied counts as done.
[[nodiscard]] const char* decide_package_status(const PackageLabels& labels);

// Installs the package from scratch, or brings it to the server's version.
// An empty group stands for the selected language code. True when installed,
// updated or current (a server update manifest that cannot be fetched counts
// as current); false when a manifest or a listed file could not be fetched, a
// name is refused or a manifest cannot take its name, always with a failure
// (401 or 402) left in the status pair.
[[nodiscard]] bool install_game_package(App& app, const std::string& package_name,
                                        const std::string& group, int source_code);

// "install", "mupdate", "update" or "uptodate". Note the argument order, group
// first; an empty group is used as it is. Leaves the server's update manifest
// as "tmp_" + its name.
[[nodiscard]] std::string game_package_status(App& app, const std::string& group,
                                              const std::string& package_name, int source_code);

}  // namespace tarvel
