#pragma once

#include <string>
#include <string_view>

#include "core/app.hpp"
#include "core/status.hpp"

namespace tarvel {

// A first installation fetches the installation manifest under this prefix
// and gives it its own name only when every file it lists has arrived, so
// the manifest's presence always means "installed".
inline constexpr const char* kFirstInstallPrefix = "temp_";

inline constexpr const char* kInstallKind = "install";
inline constexpr const char* kUpdateKind = "update";

// The record the launcher keeps of what it installed of one package (see
// release_check.hpp), beside its installation manifest, takes the
// manifest's name with this suffix.
inline constexpr const char* kInstalledSuffix = ".installed";

// An installation's own files beside a package's: a file waits for the
// commit hidden beside its target, under a name that follows from the
// target's ("games\slot\a.swf" waits as "games\slot\.a.swf.tarvel-new"), and
// a commit's journal is the installation manifest's name with the second
// suffix. No file of a package may carry such a name: it would be swept
// away, or read as a journal.
inline constexpr std::string_view kStagedSuffix = ".tarvel-new";
inline constexpr std::string_view kJournalSuffix = ".tarvel-journal";

[[nodiscard]] inline std::string staged_name(const std::string& target) {
  const auto separator = target.find_last_of("/\\");
  const std::size_t name_at = separator == std::string::npos ? 0 : separator + 1;
  return target.substr(0, name_at) + "." + target.substr(name_at) + std::string(kStagedSuffix);
}

[[nodiscard]] inline bool is_staged_name(std::string_view file_name) {
  return file_name.size() > kStagedSuffix.size() + 1 && file_name.front() == '.' &&
         file_name.ends_with(kStagedSuffix);
}

[[nodiscard]] inline bool is_install_file_name(std::string_view file_name) {
  return is_staged_name(file_name) || file_name.ends_with(kJournalSuffix);
}

// Whether the file can be opened for reading: how the installers tell an
// installed package from a new one.
[[nodiscard]] inline bool can_be_opened(App& app, const std::string& path) {
  return app.files().read(path).has_value();
}

// True for a name that is one file of the application directory itself: no
// folder part, no drive, nothing that leaves the folder. Manifest names are
// built from settings and package names that a server can influence.
[[nodiscard]] inline bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

// For a false that no download reported (a refused manifest name, a
// manifest that could not be moved into place): sets the status pair to a
// failed download, since the screens show the player only what that pair
// says. Always false.
[[nodiscard]] inline bool install_failed(App& app) {
  app.settings().set_status(kStatusDownloadFailed, error_text(kStatusDownloadFailed));
  return false;
}
// The same, after telling why on standard error and in the log.
[[nodiscard]] inline bool install_failed(App& app, const std::string& why) {
  app.log().cause(why);
  return install_failed(app);
}

// For a manifest name that setup.xml's key gives and that is not a plain
// file name (or no name at all): says which and fails as install_failed.
[[nodiscard]] bool refused_setting(App& app, const char* key, const std::string& value);

// The name of the record of what was installed of a package.
[[nodiscard]] inline std::string installed_record_name(const std::string& install_name) {
  return install_name + kInstalledSuffix;
}

// Where one package's manifests come from and where its files go.
struct PackageSource {
  std::string manifest_base;  // address the package's manifests are fetched from
  std::string directory;      // the application directory, with its trailing separator
  std::string url;            // address base of entries without a COMMON or GAMES prefix
};

}  // namespace tarvel
