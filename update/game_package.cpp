#include "update/game_package.hpp"

#include "core/app.hpp"
#include "update/download.hpp"
#include "update/install_journal.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"

namespace tarvel {
namespace {

// The server's update manifest as the last status query fetched it.
constexpr const char* kStatusCopyPrefix = "tmp_";
constexpr std::string_view kRngName = "rng";

// Everything one installation call works with, read once from the record.
struct GamePackage {
  std::string prefix;
  std::string package_name;
  std::string install_name;
  PackageSource source;
};

// The version the package's files are at: that of the last update applied
// when the server's history still names it as a whole label, so that an
// update fetches only what changed since; else the installation's, as
// before any update (a label the history does not know then installs the
// whole package afresh).
std::string installed_label(App& app, const GamePackage& package, const std::string& update_name,
                            const std::string& server_manifest) {
  const std::string applied = read_version_label(app, update_name);
  if (!applied.empty() && manifest_holds_label(app, server_manifest, applied)) return applied;
  return read_version_label(app, package.install_name);
}

bool update_installed(App& app, const GamePackage& package) {
  const std::string update_name =
      build_manifest_name(package.prefix, package.package_name, kUpdateKind);
  const std::string temp = app.settings().temp_manifest_name();
  // No update manifest on the server: the package counts as current.
  if (!download_optional_file(app, package.source.manifest_base + update_name, temp)) return true;
  return apply_package_update(app, package.source, package.install_name, update_name,
                              installed_label(app, package, update_name, temp));
}

}  // namespace

std::string listed_game_name(const std::string& game) {
  return game.size() > kRngName.size() && game.starts_with(kRngName) ? game.substr(kRngName.size())
                                                                     : game;
}

std::string package_base_address(App& app, int source_code) {
  Settings& settings = app.settings();
  switch (source_code) {
    case kSourceCommonUrl:
      return settings.common_url();
    case kSourceGameUrl:
      return settings.game_url();
    case kSourceGameLanguage:
      return settings.game_language_address();
    case kSourceCommonLanguage:
      return settings.common_language_address();
    default:
      return settings.url();
  }
}

const char* decide_package_status(const PackageLabels& labels) {
  if (!labels.server_reached) return kPackageUpToDate;
  if (labels.server_mandatory != labels.installed_mandatory) {
    return labels.server_mandatory != labels.applied_mandatory ? kPackageMandatoryUpdate
                                                               : kPackageUpToDate;
  }
  if (labels.server == labels.installed) return kPackageUpToDate;
  if (labels.server != labels.applied) return kPackageUpdate;
  return kPackageUpToDate;
}

bool install_game_package(App& app, const std::string& package_name, const std::string& group,
                          int source_code) {
  // A commit a crash cut short is finished first: the labels below are read after it.
  (void)finish_interrupted_commits(app);
  GamePackage package;
  package.prefix = group.empty() ? app.settings().selected_language() : group;
  package.package_name = package_name;
  package.install_name = build_manifest_name(package.prefix, package_name, kInstallKind);
  if (!is_plain_file_name(package.install_name)) {
    return install_failed(app, "the package \"" + printable(package_name) + "\" makes no plain " +
                                   "manifest name (\"" + printable(package.install_name) +
                                   "\"), refused");
  }
  package.source = {package_base_address(app, source_code), app.settings().application_directory(),
                    app.settings().url()};
  if (!can_be_opened(app, package.install_name)) {
    return install_package_from_scratch(app, package.source, package.install_name);
  }
  return update_installed(app, package);
}

std::string game_package_status(App& app, const std::string& group, const std::string& package_name,
                                int source_code) {
  const std::string install_name = build_manifest_name(group, package_name, kInstallKind);
  if (!is_plain_file_name(install_name)) return kPackageInstall;
  if (!can_be_opened(app, install_name)) return kPackageInstall;
  PackageLabels labels;
  labels.installed = read_version_label(app, install_name);
  labels.installed_mandatory = read_mandatory_label(app, install_name);
  const std::string update_name = build_manifest_name(group, package_name, kUpdateKind);
  labels.applied = read_version_label(app, update_name);
  labels.applied_mandatory = read_mandatory_label(app, update_name);
  const std::string server_copy = kStatusCopyPrefix + update_name;
  labels.server_reached = download_optional_file(
      app, package_base_address(app, source_code) + update_name, server_copy);
  labels.server = read_version_label(app, server_copy);
  labels.server_mandatory = read_mandatory_label(app, server_copy);
  return decide_package_status(labels);
}

}  // namespace tarvel
