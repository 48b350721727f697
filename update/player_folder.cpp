#include "update/player_folder.hpp"

#include <algorithm>
#include <cctype>
#include <random>

#include "core/settings_readers.hpp"
#include "platform/files.hpp"
#include "platform/shell.hpp"
#include "update/package_files.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kSha256Key = "sha256";

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The leading number of a version part ("12rc1" gives 12), capped so that a
// long run of digits cannot overflow.
unsigned long long part_number(std::string_view part) {
  unsigned long long number = 0;
  for (std::size_t i = 0; i < part.size() && is_digit(part[i]) && number < 1000000000ULL; ++i) {
    number = number * 10 + static_cast<unsigned long long>(part[i] - '0');
  }
  return number;
}

std::vector<unsigned long long> version_parts(std::string_view version) {
  std::vector<unsigned long long> parts;
  std::size_t start = 0;
  while (start <= version.size()) {
    const std::size_t dot = std::min(version.find('.', start), version.size());
    parts.push_back(part_number(version.substr(start, dot - start)));
    start = dot + 1;
  }
  return parts;
}

// Where a first start makes the folder: beside it, hidden, and named for
// this start alone, so that two first starts at once never write into each
// other's copy and a half-made folder is never taken for the player's.
std::string partial_prefix(const std::string& folder) {
  const auto slash = folder.find_last_of('/');
  return "." + folder.substr(slash + 1) + ".partial-";
}

std::string parent_of(const std::string& folder) {
  return folder.substr(0, folder.find_last_of('/'));
}

std::string partial_folder(const std::string& folder) {
  std::random_device random;
  return parent_of(folder) + "/" + partial_prefix(folder) + std::to_string(random());
}

// Copies folders and plain files; links and anything else are left behind,
// so nothing outside the seed comes along.
bool copy_tree(Files& files, const std::string& from, const std::string& to) {
  if (!files.create_directory(to)) return false;
  for (const Files::Entry& entry : files.list(from)) {
    const std::string source = from + "/" + entry.name;
    const std::string target = to + "/" + entry.name;
    if (entry.kind == Files::Kind::directory && !copy_tree(files, source, target)) return false;
    if (entry.kind != Files::Kind::file) continue;
    const auto bytes = files.read(source);
    if (!bytes || !files.write(target, *bytes)) return false;
  }
  return true;
}

// The program the folder's setup.xml names (exe_name), or "" when it names
// none that lies in the folder itself.
std::string launcher_name(Files& files, const std::string& folder) {
  const auto settings = files.read(folder + "/" + kSettingsFileName);
  const std::string exe_name = settings ? settings_value(*settings, kExeNameKey) : "";
  return is_plain_file_name(exe_name) ? exe_name : "";
}

std::string no_launcher_named(const std::string& folder) {
  return folder + "/" + kSettingsFileName + " names no launcher program (exe_name)";
}

// Copies the package's launcher into the folder under its name and records
// what it is.
bool take_package_launcher(Files& files, Shell& shell, const PackagedClient& package,
                           const std::string& folder, const std::string& name) {
  const auto bytes = files.read(package.launcher);
  const std::string launcher = folder + "/" + name;
  if (!bytes || !files.write(launcher, *bytes) || !shell.mark_executable(launcher)) return false;
  return files.write(folder + "/" + kLauncherSeenName,
                     launcher_record_text({package.version, sha256_hex(*bytes)}));
}

// The folder appears whole, its launcher in it, or not at all.
std::string make_from_seed(Files& files, Shell& shell, const PackagedClient& package,
                           const std::string& folder) {
  if (files.kind(package.seed + "/" + kSettingsFileName) != Files::Kind::file) {
    return "the package's client " + package.seed + " has no " + kSettingsFileName;
  }
  const std::string name = launcher_name(files, package.seed);
  if (name.empty()) return no_launcher_named(package.seed);
  const std::string partial = partial_folder(folder);
  const bool made = copy_tree(files, package.seed, partial) &&
                    take_package_launcher(files, shell, package, partial, name) &&
                    files.move(partial, folder);
  (void)shell.remove_folder_tree(partial);
  // Another first start may have been quicker: its folder is as good.
  if (made || !files.list(folder).empty()) return {};
  return "could not copy the package's client " + package.seed + " into " + folder;
}

PlayerLauncher look_at(Files& files, const std::string& folder, const std::string& launcher) {
  PlayerLauncher player;
  if (const auto sum = file_sum(files.native_path(launcher))) {
    player.present = true;
    player.sha256 = sum->sha256;
  }
  if (const auto text = files.read(folder + "/" + kLauncherSeenName)) {
    player.record = parse_launcher_record(*text);
  }
  return player;
}

}  // namespace

std::optional<LauncherRecord> parse_launcher_record(std::string_view text) {
  LauncherRecord record{settings_value(text, kVersionKey), settings_value(text, kSha256Key)};
  if (record.version.empty() || record.sha256.empty()) return std::nullopt;
  return record;
}

std::string launcher_record_text(const LauncherRecord& record) {
  return std::string(kVersionKey) + "=" + record.version + "\n" + std::string(kSha256Key) + "=" +
         record.sha256 + "\n";
}

std::string version_in(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    if (end > start && is_digit(line[start])) return std::string(line.substr(start, end - start));
    start = end + 1;
  }
  return {};
}

bool later_version(std::string_view a, std::string_view b) {
  std::vector<unsigned long long> first = version_parts(a);
  std::vector<unsigned long long> second = version_parts(b);
  const std::size_t size = std::max(first.size(), second.size());
  first.resize(size);
  second.resize(size);
  return first > second;
}

LauncherChoice choose_launcher(const std::string& package_version, const PlayerLauncher& player,
                               const std::function<std::string()>& ask) {
  if (!player.present) return {true, {}, false};
  const auto& record = player.record;
  if (record && record->sha256 == player.sha256) {
    return {later_version(package_version, record->version), record->version, false};
  }
  // Replaced since it was recorded: a self-update brought something at least
  // as new as what it replaced.
  if (record && !later_version(package_version, record->version)) return {false, {}, false};
  const std::string asked = ask();
  return {asked.empty() || later_version(package_version, asked), asked, true};
}

PlayerFolder prepare_player_folder(Files& files, Shell& shell, const PackagedClient& package,
                                   const std::string& folder, const VersionQuery& ask) {
  PlayerFolder result;
  const Files::Kind kind = files.kind(folder);
  // A folder made beforehand, empty (where the player wants the client
  // kept, say), is filled as a missing one is made.
  if (kind == Files::Kind::missing ||
      (kind == Files::Kind::directory && files.list(folder).empty())) {
    result.error = make_from_seed(files, shell, package, folder);
    if (!result.error.empty()) return result;
    result.notes.push_back("made your client folder " + folder + " from " + package.seed);
  } else if (kind != Files::Kind::directory) {
    result.error = folder + " is in the way: it is not a folder";
    return result;
  }
  const std::string name = launcher_name(files, folder);
  if (name.empty()) {
    result.error = no_launcher_named(folder);
    return result;
  }
  result.launcher = folder + "/" + name;
  const PlayerLauncher player = look_at(files, folder, result.launcher);
  const LauncherChoice choice = choose_launcher(package.version, player, [&] {
    const auto line = ask(result.launcher);
    return line ? version_in(*line) : std::string();
  });
  if (choice.take_package) {
    if (!take_package_launcher(files, shell, package, folder, name)) {
      result.error =
          "could not copy the package's launcher " + package.launcher + " into " + folder;
      return result;
    }
    if (player.present) {
      result.notes.push_back("took the package's launcher " + package.version + " in place of " +
                             (choice.player_version.empty()
                                  ? "yours, which could not tell its version"
                                  : "yours (" + choice.player_version + ")"));
    }
  } else if (choice.asked && !choice.player_version.empty()) {
    // Known from now on without asking again.
    (void)files.write(folder + "/" + kLauncherSeenName,
                      launcher_record_text({choice.player_version, player.sha256}));
  }
  return result;
}

bool remove_player_folder(Files& files, Shell& shell, const std::string& folder) {
  bool removed = true;
  for (const Files::Entry& entry : files.list(parent_of(folder))) {
    if (entry.name.starts_with(partial_prefix(folder))) {
      removed = shell.remove_folder_tree(parent_of(folder) + "/" + entry.name) && removed;
    }
  }
  return shell.remove_folder_tree(folder) && removed;
}

}  // namespace tarvel
