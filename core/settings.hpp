#pragma once

#include <mutex>
#include <string>

#include "core/status.hpp"

namespace tarvel {

// Transfers at once per host when setup.xml does not say, and the most it may say.
inline constexpr int kDefaultMaxConnections = 8;
inline constexpr int kMostConnections = 32;

// Every value of the launcher's settings record, with its initial value.
// Only Settings touches it, always under its lock.
struct SettingsValues {
  // From setup.xml (the key table). apply_defaults() sets the documented defaults.
  std::string url;
  std::string version;
  std::string common_install;
  std::string common_update;
  std::string common_url;
  std::string exe_name;
  std::string first_log;
  std::string aurl;
  int update = 0;
  std::string game_url;
  // Files of one list fetched at once from one host (1: one after another).
  int max_connections = kDefaultMaxConnections;
  // The most KiB per second all downloads together receive; 0 for no cap.
  int max_kbps = 0;
  // Other addresses that serve what url, common_url and game_url serve,
  // separated by commas, tried in order when one fails.
  std::string url_mirrors;
  std::string common_url_mirrors;
  std::string game_url_mirrors;

  std::string application_directory;
  std::string default_language;
  std::string selected_language;
  std::string user_name;
  std::string password;
  std::string game_language_address;
  std::string common_language_address;

  Status status;
  std::string temp_manifest_name = "temp_ver.xml";
  std::string manifest_suffix = ".xml";
  std::string error_file_name;
  std::string package_kind;
  int item_count = 0;
  int item_index = 0;

  // Coordination values of the update engine, the login and the screens.
  std::string server_settings_copy_name;
  int restart_pending = 0;
  std::string login_properties;
  int update_check_finished = 0;
  std::string current_screen_marker;
  bool installation_screen_open = false;
  bool language_changed = false;
  std::string game_request;
  std::string saved_game_request;
  // A lobby asked for an installation and has not had its game status
  // answer yet.
  bool lobby_answer_owed = false;
};

// Where a language's packages lie below a base address: base + "language/"
// + code + "/".
[[nodiscard]] std::string language_base_address(const std::string& base, const std::string& code);

// Derives the game and the common language address from the selected
// language: base address + "language/" + code + "/". Whoever changes the
// selected language for good calls it, so that every package fetched
// afterwards comes from that language's folder.
void derive_language_addresses(SettingsValues& values);

// The process's settings record. One lock guards every value, so a worker and
// the user-interface thread can share it; the status code and text are one
// pair, written together and taken together.
class Settings {
 public:
  Settings() = default;
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // Runs fn on the values under the lock, for steps that read and write
  // several values at once. fn must not block or call back into Settings.
  template <typename Fn>
  decltype(auto) locked(Fn&& fn) {
    std::lock_guard lock(mutex_);
    return std::forward<Fn>(fn)(values_);
  }

  // A copy of every value, taken under the lock.
  [[nodiscard]] SettingsValues snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
  }

  void set_status(int code, std::string text);
  // Returns the waiting status and resets the pair to 0 and "".
  [[nodiscard]] Status take_status();
  [[nodiscard]] Status status() const;

#define TARVEL_SETTING(type, name)                                                \
  [[nodiscard]] type name() const {                                               \
    std::lock_guard lock(mutex_);                                                 \
    return values_.name;                                                          \
  }                                                                               \
  void set_##name(type value) {                                                   \
    std::lock_guard lock(mutex_);                                                 \
    values_.name = std::move(value);                                              \
  }

  TARVEL_SETTING(std::string, url)
  TARVEL_SETTING(std::string, version)
  TARVEL_SETTING(std::string, common_install)
  TARVEL_SETTING(std::string, common_update)
  TARVEL_SETTING(std::string, common_url)
  TARVEL_SETTING(std::string, exe_name)
  TARVEL_SETTING(std::string, first_log)
  TARVEL_SETTING(std::string, aurl)
  TARVEL_SETTING(int, update)
  TARVEL_SETTING(std::string, game_url)
  TARVEL_SETTING(int, max_connections)
  TARVEL_SETTING(int, max_kbps)
  TARVEL_SETTING(std::string, url_mirrors)
  TARVEL_SETTING(std::string, common_url_mirrors)
  TARVEL_SETTING(std::string, game_url_mirrors)
  TARVEL_SETTING(std::string, application_directory)
  TARVEL_SETTING(std::string, default_language)
  TARVEL_SETTING(std::string, selected_language)
  TARVEL_SETTING(std::string, user_name)
  TARVEL_SETTING(std::string, password)
  TARVEL_SETTING(std::string, game_language_address)
  TARVEL_SETTING(std::string, common_language_address)
  TARVEL_SETTING(std::string, temp_manifest_name)
  TARVEL_SETTING(std::string, manifest_suffix)
  TARVEL_SETTING(std::string, error_file_name)
  TARVEL_SETTING(std::string, package_kind)
  TARVEL_SETTING(int, item_count)
  TARVEL_SETTING(int, item_index)
  TARVEL_SETTING(std::string, server_settings_copy_name)
  TARVEL_SETTING(int, restart_pending)
  TARVEL_SETTING(std::string, login_properties)
  TARVEL_SETTING(int, update_check_finished)
  TARVEL_SETTING(std::string, current_screen_marker)
  TARVEL_SETTING(bool, installation_screen_open)
  TARVEL_SETTING(bool, language_changed)
  TARVEL_SETTING(std::string, game_request)
  TARVEL_SETTING(std::string, saved_game_request)
  TARVEL_SETTING(bool, lobby_answer_owed)
#undef TARVEL_SETTING

 private:
  mutable std::mutex mutex_;
  SettingsValues values_;
};

}  // namespace tarvel
