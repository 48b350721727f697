#pragma once

#include <string>

#include "core/app.hpp"

namespace tarvel {

// A first installation fetches the installation manifest under this prefix
// and gives it its own name only when every file it lists has arrived, so
// the manifest's presence always means "installed".
inline constexpr const char* kFirstInstallPrefix = "temp_";

inline constexpr const char* kInstallKind = "install";
inline constexpr const char* kUpdateKind = "update";

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
[[nodiscard]] bool install_failed(App& app);
// The same, after telling why on standard error and in the log.
[[nodiscard]] bool install_failed(App& app, const std::string& why);

// For a manifest name that setup.xml's key gives and that is not a plain
// file name (or no name at all): says which and fails as install_failed.
[[nodiscard]] bool refused_setting(App& app, const char* key, const std::string& value);

// The name of the record of what was installed of a package (see
// release_check.hpp), beside its installation manifest.
[[nodiscard]] std::string installed_record_name(const std::string& install_name);

// Where one package's manifests come from and where its files go.
struct PackageSource {
  std::string manifest_base;  // address the package's manifests are fetched from
  std::string directory;      // the application directory, with its trailing separator
  std::string url;            // address base of entries without a COMMON or GAMES prefix
};

// Installs a package that is not there yet: fetches its installation
// manifest and every file it lists, then keeps the manifest as install_name.
// Where the server publishes sums (or the update key asks for them), each
// file must match its sum, and the record of what was installed is kept.
// False when a download failed or the manifest could not take its name; the
// package then still reads as not installed.
[[nodiscard]] bool install_package_from_scratch(App& app, const PackageSource& source,
                                                const std::string& install_name);

// Brings an installed package from installed_label to the version of the
// server's update manifest, already fetched to the temporary manifest name:
// fetches what it lists after the installed version, then keeps it as
// update_name, the record of the version now installed. When no line of it
// names the installed version, the whole package is installed afresh from
// install_name instead. Nothing is fetched when the labels are equal. False
// when a download failed, a manifest was refused or could not take its name;
// update_name is then left as it was.
[[nodiscard]] bool apply_package_update(App& app, const PackageSource& source,
                                        const std::string& install_name,
                                        const std::string& update_name,
                                        const std::string& installed_label);

}  // namespace tarvel
