#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/sums.hpp"

namespace tarvel {

class App;

// The Config.xml value that holds the launcher's update key: an Ed25519
// public key, base64 of its 32 bytes.
inline constexpr const char* kUpdateKeyName = "UpdateKey";

// The record the launcher keeps of what it installed of one package (named
// by installed_record_name()), so that the tree can be checked and repaired
// later without the server.
struct InstalledFile {
  std::string address;  // where it was fetched from
  FileSum sum;
  bool operator==(const InstalledFile&) const = default;
};

struct InstalledRecord {
  std::string version;
  std::uint64_t serial = 0;
  // By local path, relative to the application directory ("\" separators).
  std::map<std::string, InstalledFile> files;
  bool operator==(const InstalledRecord&) const = default;
};

[[nodiscard]] std::optional<InstalledRecord> parse_installed_record(std::string_view text);
[[nodiscard]] std::string installed_record_text(const InstalledRecord& record);

// The update key from Config.xml: nothing when Config.xml names none. An
// element that is there names a key, even when it holds no usable one (it
// is empty, white space or a comment): such a key refuses every release.
[[nodiscard]] std::optional<std::string> configured_update_key(App& app);

// What the sums of a release must agree with.
struct ExpectedRelease {
  std::string package;          // the installation manifest's name; "setup.xml" for the launcher
  std::string manifest_sha256;  // of the manifest fetched
  std::string version;          // its version label
  std::uint64_t installed_serial = 0;
  bool signed_release = false;  // an update key vouched for the sums
};

// Why the sums do not vouch for the release, or nothing when they do: they
// name another package, describe another manifest or version, or are older
// than the release installed (a downgrade). Sums of the first form name no
// package; they are taken only where no key asks for signed sums, since
// then nothing vouches for where they come from anyway.
[[nodiscard]] std::optional<std::string> sums_refusal(const Sums& sums,
                                                      const ExpectedRelease& expected);

// Fetches the sums published beside a manifest that was fetched from
// manifest_address into manifest_path, and checks them: with an update key,
// their signature (sums and signature must be there); always, as
// sums_refusal says, against the package (its installation manifest's name)
// and the installed record. Without a key, sums are asked for only when the
// manifest announces them; sums stays empty when it does not, which
// installs as before. False when refused: the reason goes to standard error
// and the status pair says the download failed.
[[nodiscard]] bool fetch_release_sums(App& app, const std::string& package,
                                      const std::string& manifest_address,
                                      const std::string& manifest_path,
                                      const std::string& record_name, std::optional<Sums>& sums);

// The sum of the file an entry of the manifest stands for; nothing, named
// on standard error, when the sums give none: nothing vouches for that file.
[[nodiscard]] std::optional<FileSum> sum_of_entry(App& app, const Sums& sums,
                                                  const ManifestEntry& entry,
                                                  const std::string& manifest_path);

// The entries of an update that the release still holds. The update
// manifest keeps the lines of every earlier release; a file changed in one
// of them and removed later has no sum today, and nothing to fetch: the
// release does without it (the installation manifest no longer lists it).
[[nodiscard]] EntryList entries_still_released(const Sums& sums, const EntryList& entries);

// The cheaper ways to a file that the sums announce (key: its source path),
// best first: a patch against the file installed (launcher form) when that
// is the patch's base, then the compressed copy. Each is published beside
// the file's own address.
[[nodiscard]] std::vector<CodedDownload> coded_downloads(App& app, const Sums& sums,
                                                         const std::string& key,
                                                         const std::string& address,
                                                         const std::string& installed);

}  // namespace tarvel
