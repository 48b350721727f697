#include "core/startup.hpp"

#include "core/app.hpp"
#include "core/listed_names.hpp"
#include "core/probe.hpp"
#include "core/settings_readers.hpp"

namespace tarvel {
namespace {

constexpr const char* kUrlKey = "url";
constexpr const char* kSettingsFileSuffix = "/setup.xml";

void read_settings(App& app) {
  apply_defaults(app.settings());
  read_settings_file(app);
}

// The application directory is where the program was started; every path of
// the launcher begins with it.
void set_application_directory(App& app) {
  app.settings().set_application_directory(app.files().working_directory() + "/");
}

std::string shown(const std::string& value) { return value.empty() ? "(none)" : value; }

void note_settings(App& app) {
  const SettingsValues v = app.settings().snapshot();
  app.log().note("settings: url " + shown(v.url) + ", common_url " + shown(v.common_url) +
                 ", game_url " + shown(v.game_url) + ", aurl " + shown(v.aurl));
  app.log().note("settings: version " + shown(v.version) + ", exe_name " + shown(v.exe_name) +
                 ", common_install " + shown(v.common_install) + ", common_update " +
                 shown(v.common_update) + ", update " + std::to_string(v.update) + ", first_log " +
                 shown(v.first_log) + ", max_connections " + std::to_string(v.max_connections) +
                 ", max_kbps " + std::to_string(v.max_kbps));
  for (const char* name : {"ServerURL", "Languages", "linkLabel", "UpdateKey"}) {
    app.log().note(std::string("Config.xml: ") + name + " " + read_config_value(app, name));
  }
}

// What stops the launcher from reaching its servers, said before it tries.
void check_settings_files(App& app) {
  if (!app.files().read(kSettingsFileName)) {
    app.log().cause(std::string(kSettingsFileName) +
                    " cannot be read: the launcher has no download server to ask");
  } else if (app.settings().url().empty()) {
    app.log().cause(std::string(kSettingsFileName) +
                    " has no url= line: the launcher has no download server to ask");
  }
  const std::string problem = config_file_problem(app);
  if (!problem.empty()) app.log().cause(problem);
}

bool leftover(const Files::Entry& entry, const std::string& prefix) {
  return (entry.kind == Files::Kind::file || entry.kind == Files::Kind::symlink) &&
         entry.name.starts_with(prefix) && addressable_name(entry.name);
}

}  // namespace

void note_start(App& app, const StartupParts& parts) {
  app.log().note("application directory " + app.settings().application_directory());
  note_settings(app);
  const std::string url = app.settings().url();
  if (parts.proxy_for && !url.empty()) {
    const std::string proxy = parts.proxy_for(url);
    app.log().note("proxy for " + url + ": " + (proxy.empty() ? "none, a direct line" : proxy));
  }
  check_settings_files(app);
}

bool run_startup(App& app, const StartupParts& parts) {
  read_settings(app);
  set_application_directory(app);
  note_start(app, parts);
  switch (app.instance_guard().claim(kInstanceName)) {
    case InstanceGuard::Claim::failed:
      return false;
    case InstanceGuard::Claim::already_running:
      app.log().note("another launcher is running: error screen 406");
      parts.error_screen(app, kErrorSecondInstance);
      return false;
    case InstanceGuard::Claim::claimed:
      break;
  }
  // Only the one instance may: another could be in the middle of its own.
  if (parts.finish_installs) (void)parts.finish_installs(app);
  if (!public_host_probe(app)) {
    app.log().cause(app.public_host() +
                    ": name does not resolve, so the launcher counts itself offline");
    parts.error_screen(app, kStatusNoConnectivity);
  }
  relocate(app, parts);
  clear_leftovers(app);
  parts.first_screen(app);
  app.ui().set_main_window(kNoWindow);
  return false;
}

void relocate(App& app, const StartupParts& parts) {
  const std::string current = app.settings().url();
  if (app.settings().aurl().empty()) return;
  if (echo_probe(app, host_extraction(current))) return;
  const std::string directory = app.settings().application_directory();
  if (!parts.download(app, app.settings().aurl(), directory + kRelocationFileName)) return;
  const std::string base = read_key_from_file(app, directory + kRelocationFileName, kUrlKey);
  if (base.empty()) return;
  const std::string address = base + server_folder_name(current) + kSettingsFileSuffix;
  if (parts.download(app, address, directory + kSettingsFileName)) read_settings_file(app);
}

std::string server_folder_name(const std::string& url) {
  const auto last = url.find_last_not_of('/');
  if (last == std::string::npos) return {};
  const std::string trimmed = url.substr(0, last + 1);
  const auto slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

int clear_leftovers(App& app) {
  const std::string exe_name = app.settings().exe_name();
  // Without a name the pattern would match every file starting with "_".
  if (exe_name.empty()) return 0;
  const std::string prefix = exe_name + "_";
  int deleted = 0;
  for (const Files::Entry& entry : app.files().list("")) {
    if (leftover(entry, prefix) && app.files().remove_file(entry.name)) ++deleted;
  }
  return deleted;
}

}  // namespace tarvel
