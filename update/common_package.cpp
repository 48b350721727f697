#include "update/common_package.hpp"

#include <string>

#include "core/app.hpp"
#include "update/download.hpp"
#include "update/install_journal.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"

namespace tarvel {
namespace {

// The settings one call works with, read once.
struct CommonPackage {
  std::string install_name;
  std::string update_name;
  PackageSource source;
};

CommonPackage common_package(App& app) {
  const SettingsValues values = app.settings().snapshot();
  return {values.common_install,
          values.common_update,
          {values.common_url, values.application_directory, values.url}};
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
  if (!is_plain_file_name(package.update_name)) {
    return refused_setting(app, "common_update", package.update_name);
  }
  const std::string temp = app.settings().temp_manifest_name();
  if (!download_file(app, package.source.manifest_base + package.update_name, temp)) return false;
  return apply_package_update(app, package.source, package.install_name, package.update_name,
                              installed_label(app, package));
}

}  // namespace

bool install_common_package(App& app) {
  // A commit a crash cut short is finished first: the labels below are read after it.
  (void)finish_interrupted_commits(app);
  const CommonPackage package = common_package(app);
  // Each branch checks only the names it uses: a setup.xml without a
  // common_update line leaves that name empty, and a first installation
  // never needs it.
  if (!is_plain_file_name(package.install_name)) {
    return refused_setting(app, "common_install", package.install_name);
  }
  const bool installed = can_be_opened(app, package.install_name);
  app.settings().set_package_kind(kCommonPackageKind);
  return installed ? update_installed(app, package)
                   : install_package_from_scratch(app, package.source, package.install_name);
}

}  // namespace tarvel
