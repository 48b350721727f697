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

bool leftover(const Files::Entry& entry, const std::string& prefix) {
  return (entry.kind == Files::Kind::file || entry.kind == Files::Kind::symlink) &&
         entry.name.starts_with(prefix) && addressable_name(entry.name);
}

}  // namespace

bool run_startup(App& app, const StartupParts& parts) {
  read_settings(app);
  set_application_directory(app);
  switch (app.instance_guard().claim(kInstanceName)) {
    case InstanceGuard::Claim::failed:
      return false;
    case InstanceGuard::Claim::already_running:
      parts.error_screen(app, kErrorSecondInstance);
      return false;
    case InstanceGuard::Claim::claimed:
      break;
  }
  // Only the one instance may: another could be in the middle of its own.
  if (parts.finish_installs) (void)parts.finish_installs(app);
  if (!public_host_probe(app)) parts.error_screen(app, kStatusNoConnectivity);
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
