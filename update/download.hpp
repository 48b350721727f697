#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/http_get.hpp"

namespace tarvel {

class App;

// How a download is made and how a failure is shown, chosen by first_log.
struct DownloadMode {
  enum class Method { client, direct };
  Method method = Method::client;
  bool message_box = false;
  bool operator==(const DownloadMode&) const = default;
};

// "1"/"2": client, message box; "3": direct, silent; "4": direct, message
// box; anything else (compared as exact text): client, silent.
[[nodiscard]] DownloadMode download_mode(const std::string& first_log);

// The cache-defeating query of the direct method: "?" followed by year,
// month, day, minute and second in decimal, no separators, no hour.
[[nodiscard]] std::string direct_query(const UtcTime& now);

// Copies one address to one local path (launcher form, absolute or relative
// to the application directory). True when the whole body arrived and the file
// is in place. Posts progress before the transfer and advances the item index
// after a success; on failure the status pair says why (401 download failed,
// or 402 from the connectivity probe), and the cause is told. For the
// documents it fetches (manifests, settings) a path containing "setup.xml"
// keeps its previous file when the download fails; any other target is gone.
// Once the launcher tears down (its workers are asked to stop), a transfer
// ends within about a second and fails without a report.
[[nodiscard]] bool download_file(App& app, const std::string& address,
                                 const std::string& local_path);

// download_file for a file the caller does well without (a package's update
// manifest, say): a failure does all download_file's failure does, but its
// cause goes to the support log alone.
[[nodiscard]] bool download_optional_file(App& app, const std::string& address,
                                          const std::string& local_path);

// How fetching a small document ended.
enum class Fetched {
  found,    // the whole document
  missing,  // the server has none at the address (404 or 410)
  failed,   // no answer, a broken transfer, another status, or too large
};

// Fetches a small document (at most 64 MiB) into memory, with the transfer
// settings of download_file. Posts no progress and tells nothing beyond the
// log: the caller decides what a missing or failed document means. why,
// when given, gets the cause in words.
[[nodiscard]] Fetched fetch_document(App& app, const std::string& address, std::string& body,
                                     std::string* why = nullptr);

// One file of a list: where it comes from and where it goes.
// A cheaper way to a file that sums announce: its compressed copy, or a
// patch against the installed file (base, launcher form).
struct CodedDownload {
  std::string address;
  std::shared_ptr<BodyCheck> check;  // of the copy's or the patch's own bytes
  std::string base{};
  bool operator==(const CodedDownload&) const = default;
};

struct FileDownload {
  std::string address;
  std::string local_path;  // launcher form, absolute or relative to the application directory
  // What the file must be; a body that differs is a failed transfer (retried).
  std::shared_ptr<BodyCheck> check = nullptr;
  // Tried first, in order; each falls back to the next and the last to the
  // whole file at address. Only with a check.
  std::vector<CodedDownload> coded{};
  bool operator==(const FileDownload&) const = default;
};

// Downloads a list of files, several at once (the max_connections setting;
// 1 fetches them one after another). Each file appears only whole, by
// rename. The item index rises by one as each file completes, and while
// files remain the progress line shows how many are done. The first failure
// stops the list: nothing more starts, transfers still running are
// cancelled, every target keeps what it held (a file appears only whole and
// checked), and the status pair and message box report it as download_file
// does; a
// launcher that tears down ends the list as it ends a single download.
// True when every file arrived.
[[nodiscard]] bool download_files(App& app, const std::vector<FileDownload>& files);

}  // namespace tarvel
