#include "app/support_report.hpp"

#include <cstdio>

#include "app/installed_tree_command.hpp"
#include "core/app.hpp"
#include "core/failure_words.hpp"
#include "core/settings_readers.hpp"
#include "platform/posix/posix_log_file.hpp"
#include "server/transfer_request.hpp"
#include "tarvel_version.hpp"
#include "update/manifest.hpp"
#include "update/release_check.hpp"

namespace tarvel {
namespace {

constexpr const char* kReportPrefix = "tarvel-report-";
constexpr const char* kLogsFolder = "logs";
// What the report copies as it is, secrets removed: the files that say
// where the launcher goes.
constexpr const char* kSettingsFiles[] = {kSettingsFileName, "url.xml"};
constexpr std::string_view kInstallSuffix = "_install.xml";
constexpr std::string_view kUpdateSuffix = "_update.xml";

std::string two(int number) { return (number < 10 ? "0" : "") + std::to_string(number); }

std::string report_name(const UtcTime& now) {
  return kReportPrefix + std::to_string(now.year) + two(now.month) + two(now.day) + "-" +
         two(now.hour) + two(now.minute) + two(now.second);
}

std::string file_name_of(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// Every value of the element between its tags becomes ***.
std::string hide_element(std::string text, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::string close = "</" + name + ">";
  for (auto at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const auto start = at + open.size();
    const auto end = text.find(close, start);
    if (end == std::string::npos) break;
    text.replace(start, end - start, kHidden);
  }
  return text;
}

// The text of a file for the report, line by line without secrets.
std::string scrubbed_text(App& app, const std::string& text) {
  std::string out;
  for (std::string_view line : text_lines(text)) out += app.log().scrubbed(line) + "\n";
  return out;
}

// The records of what was installed, and the manifests' versions.
std::string installed_summary(App& app) {
  std::string summary;
  for (const Files::Entry& entry : app.files().list("")) {
    if (entry.kind != Files::Kind::file) continue;
    const std::string& name = entry.name;
    if (name.ends_with(kInstallSuffix) || name.ends_with(kUpdateSuffix)) {
      summary += name + ": " + read_version_label(app, name) + "\n";
    } else if (name.ends_with(kInstalledSuffix)) {
      const auto text = app.files().read(name);
      const auto record = text ? parse_installed_record(*text) : std::nullopt;
      summary += record ? name + ": " + record->version + ", serial " +
                              std::to_string(record->serial) + ", " +
                              counted(record->files.size(), "file") + "\n"
                        : name + ": unreadable\n";
    }
  }
  return summary.empty() ? "nothing installed\n" : summary;
}

bool write_logs(App& app, const std::string& folder, const std::string& log_path) {
  if (!app.files().create_directory(folder + "\\" + kLogsFolder)) return false;
  for (const std::string& file : support_log_files(log_path)) {
    const auto text = app.files().read(file);
    if (text && !app.files().write(folder + "\\" + kLogsFolder + "\\" + file_name_of(file), *text))
      return false;
  }
  return true;
}

bool write_settings(App& app, const std::string& folder) {
  for (const char* name : kSettingsFiles) {
    const auto text = app.files().read(name);
    if (text && !app.files().write(folder + "\\" + name, scrubbed_text(app, *text))) return false;
  }
  const auto config = app.files().read(kConfigFileName);
  return !config || app.files().write(folder + "\\" + kConfigFileName,
                                      scrubbed_text(app, config_without_secrets(*config)));
}

}  // namespace

std::string config_without_secrets(const std::string& text) {
  return hide_element(text, kKeyName);
}

int report_command(App& app, const std::string& log_path) {
  const std::string folder = report_name(app.clock().utc_now());
  const std::string about = std::string("tarvel ") + kTarvelVersion + "\napplication directory " +
                            app.settings().application_directory() + "\nsupport log " +
                            (log_path.empty() ? "(none)" : log_path) + "\n";
  const bool written =
      app.files().create_directory(folder) && app.files().write(folder + "\\about.txt", about) &&
      write_logs(app, folder, log_path) && write_settings(app, folder) &&
      app.files().write(folder + "\\installed.txt", installed_summary(app)) &&
      app.files().write(folder + "\\verify.txt", tree_report_text(verify_installed_tree(app)));
  if (!written) {
    app.log().cause(app.files().native_path(folder) + ": the report could not be written");
    return 1;
  }
  app.log().note("report written to " + app.files().native_path(folder));
  std::printf("%s: send this folder to support (it holds no password, ticket or key)\n",
              app.files().native_path(folder).c_str());
  return 0;
}

}  // namespace tarvel
