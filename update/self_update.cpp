#include "update/self_update.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "core/app.hpp"
#include "core/listed_names.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/release_check.hpp"

namespace tarvel {
namespace {

constexpr const char* kKeptFileMarks[] = {".exe", ".dll", ".lib", ".dat"};
// The launcher's record of its own release is kept too: a purge must not
// let an older launcher in.
constexpr const char* kKeptFileNames[] = {"Config.xml", "setup.xml", "glo_stp.xml",
                                          kLauncherRecordName};
constexpr const char* kKeptFolderNames[] = {"App_Images", "XMLFile"};

// The server's settings copy is fetched from url + this + the manifest suffix.
constexpr const char* kSettingsCopySource = "setup";

// Config.xml is fetched under this name and renamed over the old one only
// when it arrived, so a failed fetch leaves the configuration in place.
constexpr const char* kConfigDownloadName = "temp_Config.xml";

// The launcher's own shared libraries lie beside it, as its ".dll" files do
// on Windows: "libx.so" and versioned names such as "libx.so.1.2".
constexpr std::string_view kSharedLibrarySuffix = ".so";
constexpr const char* kSharedLibraryVersionMark = ".so.";

bool shared_library(const std::string& name) {
  return name.ends_with(kSharedLibrarySuffix) || contains(name, kSharedLibraryVersionMark);
}

template <typename Texts>
bool equals_any(const std::string& name, const Texts& texts) {
  return std::any_of(std::begin(texts), std::end(texts), [&](const char* t) { return name == t; });
}

// A package's record keeps its release's serial through a purge, without
// the files it listed (they go with the purge): the package installed anew
// afterwards must not be an older release than the one it replaces.
void keep_serial_only(App& app, const std::string& name) {
  const auto text = app.files().read(name);
  auto record = text ? parse_installed_record(*text) : std::nullopt;
  if (!record) {
    (void)app.shell().force_delete_file(name);
    return;
  }
  record->files.clear();
  (void)app.files().write(name, installed_record_text(*record));
}

void purge(App& app) {
  const std::string exe_name = app.settings().exe_name();
  const DirectoryListing listing = list_directory(app, app.settings().application_directory());
  for (const std::string& name : listing.files) {
    if (purge_keeps_file(name, exe_name) || !addressable_name(name)) continue;
    if (name.ends_with(kInstalledSuffix)) {
      keep_serial_only(app, name);
    } else {
      (void)app.shell().force_delete_file(name);
    }
  }
  for (const std::string& name : listing.folders) {
    if (!purge_keeps_folder(name) && addressable_name(name)) {
      (void)app.shell().remove_folder_tree(name);
    }
  }
}

// The names one replacement works with, fixed when it begins.
struct Replacement {
  std::string executable;  // application directory + exe_name
  std::string backup;      // relative to the application directory
  std::string address;     // url + exe_name
  std::string url;
  std::string directory;
  std::string exe_name;
  std::optional<Sums> sums = std::nullopt;  // of the release, when the server publishes them
  std::optional<FileSum> executable_sum = std::nullopt;
};

// Reads the sums published beside the server's settings copy, which stands
// for the launcher's release as a manifest does for a package. False when
// the release is refused. A replacement needs the program's sum as well.
bool check_release(App& app, Replacement& r, bool replaces) {
  const std::string settings_copy = app.settings().server_settings_copy_name();
  if (!is_plain_file_name(settings_copy)) {
    if (!configured_update_key(app)) return true;
    app.log().cause("no settings copy to check the launcher's release with, refused");
    return install_failed(app);
  }
  if (!fetch_release_sums(app, kSettingsFileName, r.url + kSettingsFileName, settings_copy,
                          kLauncherRecordName, r.sums)) {
    return false;
  }
  if (!r.sums || !replaces) return true;
  const auto listed = r.sums->files.find(r.exe_name);
  if (listed == r.sums->files.end()) {
    app.log().cause(std::string(kSettingsFileName) + kSumsSuffix + ": gives no sum for the launcher \"" +
                    printable(r.exe_name) + "\", refused");
    return install_failed(app);
  }
  r.executable_sum = listed->second;
  return true;
}

// The launcher's files are not part of the client tree (the running program
// cannot be repaired under itself): the record keeps the release's serial.
void record_release(App& app, const Replacement& r) {
  if (!r.sums) return;
  InstalledRecord record;
  record.version = r.sums->version;
  record.serial = r.sums->serial;
  (void)app.files().write(kLauncherRecordName, installed_record_text(record));
}

Replacement replacement(App& app) {
  const SettingsValues values = app.settings().snapshot();
  Replacement r;
  r.executable = values.application_directory + values.exe_name;
  r.backup = backup_name(values.exe_name, app.clock().utc_now());
  r.address = values.url + values.exe_name;
  r.url = values.url;
  r.directory = values.application_directory;
  r.exe_name = values.exe_name;
  return r;
}

// Moves the running executable out of the way. A launcher that is not where
// exe_name says has nothing to keep; one that cannot be moved must not be
// replaced, or the download would delete it.
bool set_aside(App& app, const Replacement& r) {
  if (app.files().kind(r.executable) == Files::Kind::missing) return true;
  return app.files().move(r.executable, r.backup);
}

// A file of the launcher's release, checked against its sum when the
// release has sums.
bool fetch_release_file(App& app, const std::string& address, const std::string& target,
                        const std::optional<FileSum>& sum) {
  if (!sum) return download_file(app, address, target);
  return download_files(app, {{address, target, body_check(*sum, address)}});
}

bool fetch_executable(App& app, const Replacement& r) {
  return fetch_release_file(app, r.address, r.executable, r.executable_sum) &&
         app.shell().mark_executable(r.executable);
}

// Leaves the folder as it was before the replacement began.
void put_back(App& app, const Replacement& r) {
  if (app.files().kind(r.backup) == Files::Kind::missing) {
    (void)app.files().remove_file(r.executable);
  } else {
    (void)app.files().move(r.backup, r.executable);
  }
  app.settings().set_restart_pending(0);
}

void fetch_config(App& app, const Replacement& r) {
  std::optional<FileSum> sum;
  if (r.sums) {
    // A release that vouches for its files but not for Config.xml leaves the
    // configuration (and the update key in it) as it is.
    const auto listed = r.sums->files.find(kConfigFileName);
    if (listed == r.sums->files.end()) return;
    sum = listed->second;
  }
  const std::string temp = r.directory + kConfigDownloadName;
  if (fetch_release_file(app, r.url + kConfigFileName, temp, sum)) {
    (void)app.files().move(temp, r.directory + kConfigFileName);
  }
}

void finish_replacement(App& app, const Replacement& r) {
  const std::string settings_copy = app.settings().server_settings_copy_name();
  if (is_plain_file_name(settings_copy)) {
    (void)app.shell().move_replacing(settings_copy, kSettingsFileName);
  }
  fetch_config(app, r);
  record_release(app, r);
  // Where the old program still runs from its file, this delete fails; the
  // start-up cleanup removes the backup on a later start.
  (void)app.files().remove_file(r.backup);
  app.message_box().show(kRestartMessage, kRestartCaption);
  app.settings().set_restart_pending(1);
}

void replace_executable(App& app, const Replacement& r) {
  if (!is_plain_file_name(r.exe_name) || !set_aside(app, r)) {
    app.settings().set_restart_pending(0);
    return;
  }
  if (!fetch_executable(app, r)) {
    put_back(app, r);
    return;
  }
  finish_replacement(app, r);
}

}  // namespace

std::string check_launcher_update(App& app) {
  Settings& settings = app.settings();
  settings.set_server_settings_copy_name(kServerSettingsCopyName);
  const std::string address = settings.url() + kSettingsCopySource + settings.manifest_suffix();
  // A failed fetch leaves no copy, which reads as "current".
  (void)download_file(app, address, kServerSettingsCopyName);
  const std::string copy = manifest_file_text(app, kServerSettingsCopyName);
  const std::string version = settings.version();
  for (const std::string_view line : text_lines(copy)) {
    const auto dollar = line.find('$');
    if (dollar == std::string_view::npos) continue;
    if (line.substr(dollar) != version) return version_type_of(copy);
  }
  return {};
}

DirectoryListing list_directory(App& app, const std::string& directory) {
  DirectoryListing listing;
  for (const Files::Entry& entry : app.files().list(directory)) {
    const std::string& name = entry.name;
    if (name.empty() || name == "." || name == "..") continue;
    (contains(name, ".") ? listing.files : listing.folders).push_back(name);
  }
  return listing;
}

bool purge_keeps_file(const std::string& name, const std::string& exe_name) {
  const bool marked = std::any_of(std::begin(kKeptFileMarks), std::end(kKeptFileMarks),
                                  [&](const char* mark) { return contains(name, mark); });
  return marked || shared_library(name) || equals_any(name, kKeptFileNames) ||
         (!exe_name.empty() && name == exe_name);
}

bool purge_keeps_folder(const std::string& name) {
  return contains(name, "-") || equals_any(name, kKeptFolderNames);
}

std::string backup_name(const std::string& exe_name, const UtcTime& now) {
  return exe_name + "_" + std::to_string(now.year) + "_" + std::to_string(now.month) + "_" +
         std::to_string(now.day) + "_" + std::to_string(now.minute) + "_" +
         std::to_string(now.second);
}

bool apply_launcher_update(App& app, const std::string& version_type) {
  const bool purges = version_type == kReleaseFlash || version_type == kReleaseFull;
  const bool replaces = version_type == kReleaseExe || version_type == kReleaseFull;
  if (!purges && !replaces) return true;
  Replacement r = replacement(app);
  // The release is checked before anything on disk changes: a purge that a
  // refused release started would leave the client gone all the same.
  if (!check_release(app, r, replaces)) {
    app.settings().set_restart_pending(0);
    return true;
  }
  if (purges) purge(app);
  if (replaces) {
    replace_executable(app, r);
  } else {
    record_release(app, r);
  }
  return true;
}

}  // namespace tarvel
