#include "update/package_files.hpp"

#include "core/settings_readers.hpp"
#include "core/status.hpp"
#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/release_check.hpp"

namespace tarvel {

bool install_failed(App& app) {
  app.settings().set_status(kStatusDownloadFailed, error_text(kStatusDownloadFailed));
  return false;
}

bool install_failed(App& app, const std::string& why) {
  app.log().cause(why);
  return install_failed(app);
}

bool refused_setting(App& app, const char* key, const std::string& value) {
  const std::string settings = kSettingsFileName;
  if (value.empty()) {
    return install_failed(app, settings + " has no " + key + "= line, so the package it names " +
                                   "cannot be installed");
  }
  return install_failed(app, settings + ": " + key + "=" + printable(value) +
                                 " is not a plain file name, refused");
}

std::string installed_record_name(const std::string& install_name) {
  return install_name + kInstalledSuffix;
}

bool install_package_from_scratch(App& app, const PackageSource& source,
                                  const std::string& install_name) {
  const std::string temp = source.directory + kFirstInstallPrefix + install_name;
  const std::string address = source.manifest_base + install_name;
  if (!download_file(app, address, temp)) return false;
  const std::string record = installed_record_name(install_name);
  std::optional<Sums> sums;
  if (!fetch_release_sums(app, install_name, address, temp, record, sums)) return false;
  count_entries(app, temp);
  EntryList entries;
  if (!install_full_manifest(app, entries, temp, source.directory, source.url,
                             sums ? &*sums : nullptr)) {
    return false;
  }
  record_installed(app, record, sums, entries,
                   entry_transfers(app, entries, source.directory, source.url), true);
  // Renamed over the target in one step: the manifest appears only complete.
  if (!app.files().move(temp, source.directory + install_name)) {
    return install_failed(app, install_name + ": the manifest could not be put in place");
  }
  return true;
}

bool apply_package_update(App& app, const PackageSource& source, const std::string& install_name,
                          const std::string& update_name, const std::string& installed_label) {
  const std::string temp = app.settings().temp_manifest_name();
  const std::string server_label = read_version_label(app, temp);
  if (server_label == installed_label) return true;
  if (manifest_holds_label(app, temp, installed_label)) {
    const std::string record = installed_record_name(install_name);
    std::optional<Sums> sums;
    if (!fetch_release_sums(app, install_name, source.manifest_base + update_name, temp, record,
                            sums)) {
      return false;
    }
    count_entries(app, temp);
    EntryList entries;
    if (!install_manifest_delta(app, entries, temp, source.directory, source.url, installed_label,
                                server_label, sums ? &*sums : nullptr)) {
      return false;
    }
    record_installed(app, record, sums, entries,
                     entry_transfers(app, entries, source.directory, source.url), false);
  } else if (!install_package_from_scratch(app, source, install_name)) {
    // The history does not reach back to the installed version (the server
    // dropped old versions, or the local record is from elsewhere): no delta
    // can say what changed since, so the whole package is fetched again.
    return false;
  }
  // One rename replaces the old record of the installed version: there is no
  // moment without one.
  if (!app.files().move(temp, update_name)) {
    return install_failed(app, update_name + ": the manifest could not be put in place");
  }
  return true;
}

}  // namespace tarvel
