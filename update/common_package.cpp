#include "update/common_package.hpp"

#include <string>

#include "core/app.hpp"
#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

// The settings one call works with, read once.
struct CommonPackage {
  std::string install_name;
  std::string update_name;
  std::string common_url;
  std::string directory;
  std::string url;
};

CommonPackage common_package(App& app) {
  const SettingsValues values = app.settings().snapshot();
  return {values.common_install, values.common_update, values.common_url,
          values.application_directory, values.url};
}

bool first_install(App& app, const CommonPackage& package) {
  const std::string temp = package.directory + kFirstInstallPrefix + package.install_name;
  if (!download_file(app, package.common_url + package.install_name, temp)) return false;
  count_entries(app, temp);
  EntryList entries;
  if (!install_full_manifest(app, entries, temp, package.directory, package.url)) return false;
  // Renamed over the target in one step: the manifest appears only complete.
  return app.files().move(temp, package.directory + package.install_name);
}

// The version installed so far: that of the last update applied, "" before
// the first one.
std::string installed_label(App& app, const CommonPackage& package) {
  if (can_be_opened(app, package.install_name)) {
    return read_version_label(app, package.update_name);
  }
  return read_version_label(app, package.install_name);
}

bool update_installed(App& app, const CommonPackage& package) {
  if (!is_plain_file_name(package.update_name)) return false;
  const std::string temp = app.settings().temp_manifest_name();
  if (!download_file(app, package.common_url + package.update_name, temp)) return false;
  const std::string server_label = read_version_label(app, temp);
  const std::string installed = installed_label(app, package);
  if (installed == server_label) return true;
  count_entries(app, temp);
  EntryList entries;
  if (!install_manifest_delta(app, entries, temp, package.directory, package.url, installed,
                              server_label)) {
    return false;
  }
  // One rename replaces the old record of the installed version: there is no
  // moment without one.
  return app.files().move(temp, package.update_name);
}

}  // namespace

bool install_common_package(App& app) {
  const CommonPackage package = common_package(app);
  // Each branch checks only the names it uses: a setup.xml without a
  // common_update line leaves that name empty, and a first installation
  // never needs it.
  if (!is_plain_file_name(package.install_name)) return false;
  const bool installed = can_be_opened(app, package.install_name);
  app.settings().set_package_kind(kCommonPackageKind);
  return installed ? update_installed(app, package) : first_install(app, package);
}

}  // namespace tarvel
