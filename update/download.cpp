#include "update/download.hpp"

#include "core/app.hpp"
#include "core/probe.hpp"
#include "core/settings_readers.hpp"
#include "platform/http_get.hpp"

namespace tarvel {
namespace {

constexpr const char* kClientUserAgent = "GetWebFile/1.0";
constexpr long kClientConnectTimeoutMs = 5000;
constexpr long kDirectConnectTimeoutMs = 30000;
// A server that sends less than a byte a second for this long has stalled.
constexpr long kStallSeconds = 60;
constexpr long kHttpOk = 200;
// The settings file is never deleted ahead of its download: a failed fetch
// must leave the launcher's settings in place.
constexpr const char* kKeptOnFailure = "setup.xml";

std::string progress_line(const SettingsValues& v) {
  return std::to_string(v.item_index) + "," + std::to_string(v.item_count) + "," + v.package_kind +
         "," + v.selected_language;
}

// From the second file of a list on, tells the screens how many are done.
void post_progress(Settings& settings) {
  settings.locked([](SettingsValues& v) {
    if (v.item_count > 0 && v.item_index > 0) v.status = {kStatusProgress, progress_line(v)};
  });
}

void count_success(Settings& settings) {
  settings.locked([](SettingsValues& v) {
    if (v.item_count > 0) ++v.item_index;
  });
}

// A failure with the network up is a download failure; without it the probe
// has already reported the missing connection.
void report_failure(App& app, const std::string& address, bool message_box) {
  if (public_host_probe(app)) {
    app.settings().set_status(kStatusDownloadFailed, error_text(kStatusDownloadFailed));
  }
  if (message_box) app.message_box().show(address, kErrorCaption);
}

// Every transfer ends soon after the launcher starts to tear down, so that
// closing it never waits for a slow server.
HttpGetOptions transfer_options(App& app) {
  HttpGetOptions options;
  options.cancel = &app.workers().stop_flag();
  return options;
}

bool client_transfer(App& app, const std::string& address, const std::string& target) {
  HttpGetOptions options = transfer_options(app);
  options.user_agent = kClientUserAgent;
  options.connect_timeout_ms = kClientConnectTimeoutMs;
  options.stall_seconds = kStallSeconds;
  options.wanted_status = kHttpOk;
  options.confined_to = app.files().working_directory();
  return app.http_get().get_file(address, options, target).ok();
}

bool direct_transfer(App& app, const std::string& address, const std::string& target) {
  HttpGetOptions options = transfer_options(app);
  options.connect_timeout_ms = kDirectConnectTimeoutMs;
  options.stall_seconds = kStallSeconds;
  options.confined_to = app.files().working_directory();
  const std::string query = direct_query(app.clock().utc_now());
  return app.http_get().get_file(address + query, options, target).ok();
}

}  // namespace

DownloadMode download_mode(const std::string& first_log) {
  using Method = DownloadMode::Method;
  if (first_log == "1" || first_log == "2") return {Method::client, true};
  if (first_log == "3") return {Method::direct, false};
  if (first_log == "4") return {Method::direct, true};
  return {Method::client, false};
}

std::string direct_query(const UtcTime& now) {
  return "?" + std::to_string(now.year) + std::to_string(now.month) + std::to_string(now.day) +
         std::to_string(now.minute) + std::to_string(now.second);
}

bool download_file(App& app, const std::string& address, const std::string& local_path) {
  if (local_path.find(kKeptOnFailure) == std::string::npos) app.files().remove_file(local_path);
  post_progress(app.settings());
  const DownloadMode mode = download_mode(app.settings().first_log());
  const std::string target = app.files().native_path(local_path);
  const bool done = mode.method == DownloadMode::Method::direct
                        ? direct_transfer(app, address, target)
                        : client_transfer(app, address, target);
  if (!done) {
    // A launcher that is ending stopped the transfer itself: there is no
    // one left to tell.
    if (!app.workers().stop_requested()) report_failure(app, address, mode.message_box);
    return false;
  }
  count_success(app.settings());
  return true;
}

}  // namespace tarvel
