#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

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

// The update key from Config.xml, "" when none is configured.
[[nodiscard]] std::string configured_update_key(App& app);

// Fetches the sums published beside a manifest that was fetched from
// manifest_address into manifest_path, and checks them: with an update key,
// their signature (sums and signature must be there); always, that they
// describe this very manifest and its version, and that their serial is not
// lower than that of the installed record (a downgrade). Without a key,
// sums are asked for only when the manifest announces them; sums stays
// empty when it does not, which installs as before. False when refused: the reason goes to standard
// error and the status pair says the download failed.
[[nodiscard]] bool fetch_release_sums(App& app, const std::string& manifest_address,
                                      const std::string& manifest_path,
                                      const std::string& record_name, std::optional<Sums>& sums);

// The sum of the file an entry of the manifest stands for; nothing, named
// on standard error, when the sums give none: nothing vouches for that file.
[[nodiscard]] std::optional<FileSum> sum_of_entry(const Sums& sums, const ManifestEntry& entry,
                                                  const std::string& manifest_path);

}  // namespace tarvel
