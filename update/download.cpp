#include "update/download.hpp"

#include <algorithm>
#include <optional>

#include "core/app.hpp"
#include "core/failure_words.hpp"
#include "core/probe.hpp"
#include "core/settings_readers.hpp"
#include "platform/http_get.hpp"

namespace tarvel {
namespace {

constexpr const char* kClientUserAgent = "GetWebFile/1.0";
constexpr long kClientConnectTimeoutMs = 5000;
constexpr long kDirectConnectTimeoutMs = 30000;
// A server that says nothing for this long after being asked has gone away.
constexpr std::chrono::milliseconds kFirstByteLimit{15'000};
// A body under way that stays below the client's floor for this long has stalled.
constexpr long kStallSeconds = 60;
// However many tries a file takes, the player never waits longer than this
// without a byte of it.
constexpr std::chrono::milliseconds kQuietLimit{90'000};
constexpr long kHttpOk = 200;
constexpr std::uint64_t kBytesPerKib = 1024;
constexpr long kHttpNotFound = 404;
constexpr long kHttpGone = 410;
constexpr std::size_t kDocumentLimitBytes = std::size_t{64} << 20;
// The settings file is never deleted ahead of its download: a failed fetch
// must leave the launcher's settings in place.
constexpr const char* kSettingsFile = "setup.xml";

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

// One more item of the list done. The index never passes the count: the
// documents fetched after a list (update manifests, status queries) add to
// it too, and a line like "6,5" would show more than all of it done.
void count_item(SettingsValues& v) {
  if (v.item_count > 0 && v.item_index < v.item_count) ++v.item_index;
}

void count_success(Settings& settings) { settings.locked(count_item); }

// What a download writes: one of the documents the launcher reads its
// labels and settings from (manifests, the status query's copy, the
// relocation and settings files), or a file of a package.
enum class Target { document, package_file };

// Which targets a failed download leaves absent. A document goes: its
// readers take a missing one as empty, which is how a failed fetch of a
// manifest reads as "no labels"; only setup.xml stays, so that the launcher
// keeps its settings. A package's file keeps its installed content until the
// new content has arrived whole and checked: a failed update must not break
// a game the player could play before.
bool failure_removes(Target target, const std::string& local_path) {
  return target == Target::document && local_path.find(kSettingsFile) == std::string::npos;
}

// How a failed download is told: its cause on standard error and in the
// support log, or in the log alone.
enum class OnFailure { tell, log_only };

// A failure with the network up is a download failure; without it the probe
// has already reported the missing connection.
void report_failure(App& app, const std::string& address, const HttpResult& result,
                    bool message_box, OnFailure on_failure = OnFailure::tell) {
  // A launcher that is ending stopped the transfer itself: there is no one
  // left to tell, and neither the probe's wait nor a message box may hold up
  // the player's exit.
  if (app.workers().stop_requested()) return;
  const std::string line = failure_line(address, result.cause);
  if (on_failure == OnFailure::tell) {
    app.log().cause(line);
  } else {
    app.log().note("GET " + line);
  }
  if (public_host_probe(app)) {
    app.settings().set_status(kStatusDownloadFailed, error_text(kStatusDownloadFailed));
  }
  if (message_box) app.message_box().show(address, kErrorCaption);
}

// Every transfer ends soon after the launcher starts to tear down, so that
// closing it never waits for a slow server.
// Each base address with the mirrors the settings give it ("a,b": commas
// between them, white space around them dropped).
std::vector<std::vector<std::string>> mirror_groups(Settings& settings) {
  std::vector<std::vector<std::string>> groups;
  const std::pair<std::string, std::string> bases[] = {
      {settings.url(), settings.url_mirrors()},
      {settings.common_url(), settings.common_url_mirrors()},
      {settings.game_url(), settings.game_url_mirrors()}};
  for (const auto& [base, mirrors] : bases) {
    std::vector<std::string> group{base};
    std::size_t start = 0;
    while (start < mirrors.size()) {
      const std::size_t end = std::min(mirrors.find_first_of(", \t", start), mirrors.size());
      if (end > start) group.push_back(mirrors.substr(start, end - start));
      start = end + 1;
    }
    if (!base.empty() && group.size() > 1) groups.push_back(std::move(group));
  }
  return groups;
}

HttpGetOptions transfer_options(App& app, DownloadMode::Method method) {
  HttpGetOptions options;
  if (method == DownloadMode::Method::client) {
    options.user_agent = kClientUserAgent;
    options.connect_timeout_ms = kClientConnectTimeoutMs;
    options.wanted_status = kHttpOk;
  } else {
    options.connect_timeout_ms = kDirectConnectTimeoutMs;
  }
  options.first_byte_limit = kFirstByteLimit;
  options.stall_seconds = kStallSeconds;
  options.quiet_limit = kQuietLimit;
  options.max_receive_rate = static_cast<std::uint64_t>(app.settings().max_kbps()) * kBytesPerKib;
  options.cancel = &app.workers().stop_flag();
  options.confined_to = app.files().working_directory();
  options.mirrors = mirror_groups(app.settings());
  return options;
}

// What the direct method appends to every address to get past caches.
std::string request_suffix(App& app, DownloadMode::Method method) {
  return method == DownloadMode::Method::direct ? direct_query(app.clock().utc_now()) : "";
}

// Counts the files of a list as they complete and keeps the first failure.
class ListProgress final : public BatchObserver {
 public:
  ListProgress(Settings& settings, std::size_t total) : settings_(settings), total_(total) {}

  bool finished(std::size_t index, const HttpResult& result) override {
    if (!result.ok()) {
      failed_ = index;
      failure_ = result;
      return false;
    }
    const bool more = ++done_ < total_;
    settings_.locked([&](SettingsValues& v) {
      if (v.item_count <= 0) return;
      count_item(v);
      // What a list fetched one by one shows before each further file.
      if (more) v.status = {kStatusProgress, progress_line(v)};
    });
    return true;
  }
  [[nodiscard]] std::optional<std::size_t> failed() const { return failed_; }
  [[nodiscard]] const HttpResult& failure() const { return failure_; }

 private:
  Settings& settings_;
  const std::size_t total_;
  std::size_t done_ = 0;
  std::optional<std::size_t> failed_;
  HttpResult failure_;
};

// Keeps a document in memory up to a limit: a hostile server's endless one
// must not take the player's memory with it.
class LimitedSink final : public HttpSink {
 public:
  bool open(std::uint64_t offset, const std::string& /*validator*/) override {
    body_.clear();
    return offset == 0;
  }
  bool write(const char* data, std::size_t size) override {
    if (body_.size() + size > kDocumentLimitBytes) return false;
    body_.append(data, size);
    return true;
  }
  bool commit() override { return true; }
  void abandon() override { body_.clear(); }
  [[nodiscard]] FailureCause failure() const override {
    return {.kind = FailureCause::Kind::too_large};
  }
  std::string& body() { return body_; }

 private:
  std::string body_;
};

// download_file, with the failure told as asked.
bool download_told(App& app, const std::string& address, const std::string& local_path,
                   OnFailure on_failure) {
  if (failure_removes(Target::document, local_path)) app.files().remove_file(local_path);
  post_progress(app.settings());
  const DownloadMode mode = download_mode(app.settings().first_log());
  const std::string target = app.files().native_path(local_path);
  const HttpResult result = app.http_get().get_file(address + request_suffix(app, mode.method),
                                                    transfer_options(app, mode.method), target);
  if (!result.ok()) {
    report_failure(app, address, result, mode.message_box, on_failure);
    return false;
  }
  app.log().note("GET " + address + ": saved as " + local_path);
  count_success(app.settings());
  return true;
}

}  // namespace

Fetched fetch_document(App& app, const std::string& address, std::string& body,
                       std::string* why) {
  const DownloadMode mode = download_mode(app.settings().first_log());
  LimitedSink sink;
  const HttpResult result = app.http_get().get(address + request_suffix(app, mode.method),
                                               transfer_options(app, mode.method), sink);
  if (result.ok()) {
    app.log().note("GET " + address + ": " + std::to_string(sink.body().size()) + " bytes");
    body = std::move(sink.body());
    return Fetched::found;
  }
  app.log().note("GET " + failure_line(address, result.cause));
  if (why != nullptr) *why = failure_words(result.cause);
  const bool missing = result.outcome == HttpResult::Outcome::status &&
                       (result.status == kHttpNotFound || result.status == kHttpGone);
  return missing ? Fetched::missing : Fetched::failed;
}

DownloadMode download_mode(const std::string& first_log) {
  using Method = DownloadMode::Method;
  if (first_log == "1" || first_log == "2") return {Method::client, true};
  if (first_log == "3") return {Method::direct, false};
  if (first_log == "4") return {Method::direct, true};
  return {Method::client, false};
}

std::string direct_query(const UtcTime& now) {
  // Appended one by one: GCC 12 at -O3 warns falsely about the chain of + (-Wrestrict).
  std::string query = "?";
  for (const int part : {now.year, now.month, now.day, now.minute, now.second}) {
    query += std::to_string(part);
  }
  return query;
}

bool download_file(App& app, const std::string& address, const std::string& local_path) {
  return download_told(app, address, local_path, OnFailure::tell);
}

bool download_optional_file(App& app, const std::string& address, const std::string& local_path) {
  return download_told(app, address, local_path, OnFailure::log_only);
}

bool download_files(App& app, const std::vector<FileDownload>& files) {
  if (files.empty()) return true;
  const DownloadMode mode = download_mode(app.settings().first_log());
  const std::string suffix = request_suffix(app, mode.method);
  std::vector<FileTransfer> transfers;
  transfers.reserve(files.size());
  for (const FileDownload& file : files) {
    FileTransfer transfer{file.address + suffix, app.files().native_path(file.local_path),
                          file.check};
    for (const CodedDownload& coded : file.coded) {
      transfer.coded.push_back({coded.address + suffix, coded.check,
                                coded.base.empty() ? "" : app.files().native_path(coded.base)});
    }
    transfers.push_back(std::move(transfer));
  }
  ListProgress progress(app.settings(), files.size());
  if (app.http_get().get_files(transfers, transfer_options(app, mode.method),
                               app.settings().max_connections(), progress)) {
    app.log().note("GET " + counted(files.size(), "file") + ", the first " + files.front().address);
    return true;
  }
  const std::optional<std::size_t> failed = progress.failed();
  if (failed && failure_removes(Target::package_file, files[*failed].local_path)) {
    app.files().remove_file(files[*failed].local_path);
  }
  report_failure(app, failed ? files[*failed].address : std::string(), progress.failure(),
                 mode.message_box);
  return false;
}

}  // namespace tarvel
