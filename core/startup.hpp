#pragma once

#include <functional>
#include <string>

namespace tarvel {

class App;

// The name the single-instance guard claims.
inline constexpr const char* kInstanceName = "{8E5DFB08-80A9-405B-A5B9-C1CFBC9CD17E}";
inline constexpr const char* kRelocationFileName = "url.xml";

// What start-up opens and fetches, given by the program (core knows no
// screens and no downloader).
struct StartupParts {
  // Shows the error screen with a code, modally, as the main window.
  std::function<void(App&, int code)> error_screen;
  // Shows the first screen modally, as the main window; every later screen
  // runs while this call is in progress.
  std::function<void(App&)> first_screen;
  // Downloads an address to a local path; true on success.
  std::function<bool(App&, const std::string& address, const std::string& local_path)> download;
  // The proxy the system names for an address, for the log ("" for none);
  // without it the log does not say.
  std::function<std::string(const std::string& address)> proxy_for = nullptr;
  // Finishes the installs a crash cut short in their last step, before
  // anything reads what is installed.
  std::function<bool(App&)> finish_installs = nullptr;
};

// The launcher's start: settings, application directory, the single-instance
// guard, the installs a crash cut short, the connectivity probe, relocation,
// the cleanup of leftovers, then the first screen. Always false: when it
// returns the process is to end.
[[nodiscard]] bool run_startup(App& app, const StartupParts& parts);

// Notes in the support log what a support person asks first (the
// application directory, the settings that decide where the launcher goes,
// the proxy), and says on standard error what is wrong with setup.xml or
// Config.xml before anything goes wrong because of it.
void note_start(App& app, const StartupParts& parts);

// Moves to the download server that url.xml names when the current one does
// not answer (only when the aurl setting asks for it).
void relocate(App& app, const StartupParts& parts);

// The folder name the server's address ends in: what follows the last "/"
// once every trailing "/" is gone.
[[nodiscard]] std::string server_folder_name(const std::string& url);

// Deletes the files of the application directory named exe_name + "_" +
// anything, read-only and hidden ones included. Nothing when exe_name is
// empty. Gives the number deleted.
int clear_leftovers(App& app);

}  // namespace tarvel
