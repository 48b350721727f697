#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/download.hpp"
#include "update/sums.hpp"

namespace tarvel {

class App;

// Name under which the server's copy of setup.xml is kept.
inline constexpr const char* kServerSettingsCopyName = "glo_stp.xml";

// One file of a package: where it goes and where it comes from.
struct ManifestEntry {
  std::string file_name;      // after the last "/" or "\" of the source path
  std::string target_folder;  // relative to the application directory, white space removed
  std::string remote_path;    // the source path with "\" turned into "/"
  bool operator==(const ManifestEntry&) const = default;
};

using EntryList = std::vector<ManifestEntry>;

// --- Readers (a file that cannot be opened reads as empty) ---

// Label of the last line holding "$version" (from there to the line's end), or "".
[[nodiscard]] std::string read_version_label(App& app, const std::string& path);
// The same for "$versionm".
[[nodiscard]] std::string read_mandatory_label(App& app, const std::string& path);
// Text after the first "=" of the first line holding "version_type" and "=", or "".
[[nodiscard]] std::string read_version_type(App& app, const std::string& path);

// Sets the item count to the number of lines holding "," and the item index to 0.
void count_entries(App& app, const std::string& path);

// The same readers over text already in memory.
[[nodiscard]] std::string last_label(std::string_view text, std::string_view marker);
[[nodiscard]] std::string version_label(std::string_view text);
[[nodiscard]] std::string version_type_of(std::string_view text);
[[nodiscard]] int count_entry_lines(std::string_view text);

// A text as a terminal can show it: control characters and bytes outside
// printable ASCII written as \xNN, so a hostile line cannot drive the
// terminal. Backslashes stay as they are, so the line can be found in the
// manifest.
[[nodiscard]] std::string printable(std::string_view line);

// --- Names, folders, entries ---

// prefix + "_" + package + "_" + kind + ".xml", each part with spaces turned
// into "_" and lowered; an empty part is left out with its "_".
[[nodiscard]] std::string build_manifest_name(const std::string& prefix, const std::string& package,
                                              const std::string& kind);

// Every "\"-terminated prefix of the folder, in order, without empty ones:
// "a\b\" gives "a\" and "a\b\" (as "a" and "a\b"); what follows the last "\"
// is not a folder.
[[nodiscard]] std::vector<std::string> target_folder_prefixes(std::string_view folder);

// Creates the folders of target_folder_prefixes under the application
// directory; failures are ignored. A folder that would lie outside the
// application directory is never created.
void create_target_folders(App& app, const std::string& folder);

// True when a target folder or file name stays inside the application
// directory: no ".." component, not absolute, no drive or stream colon.
[[nodiscard]] bool stays_inside(std::string_view relative);

// The entry one manifest line (holding a ",") stands for, as the installers
// read it, or nothing when the line adds none: no file name after the
// source's last separator, or a folder or name that leads outside the
// application directory.
[[nodiscard]] std::optional<ManifestEntry> read_entry_line(std::string_view line);

// Adds the entry of one manifest line (which holds a ","), creating its
// target folders first. A line whose source path has no file name adds
// nothing. False when the line is refused: it points outside the application
// directory, through a symbolic link in it, or holds a control character;
// such a line adds nothing and creates nothing.
[[nodiscard]] bool handle_entry_line(App& app, std::string_view line, EntryList& entries);

// Where an entry is fetched from and written to.
using EntryTransfer = FileDownload;

// "COMMON" source paths come from common_url, "GAMES" ones from game_url, the
// rest from address_base; the local path is local_base + folder + file name.
[[nodiscard]] EntryTransfer entry_transfer(const ManifestEntry& entry,
                                           const std::string& common_url,
                                           const std::string& game_url,
                                           const std::string& local_base,
                                           const std::string& address_base);

// The transfers of a list of entries, in the same order, with the address
// settings of the record.
[[nodiscard]] std::vector<EntryTransfer> entry_transfers(App& app, const EntryList& entries,
                                                         const std::string& local_base,
                                                         const std::string& address_base);

// --- Installation ---

// Whether the line's version label (from its first "$version" on) is exactly
// label: "$version-1.1" is not held by "$version-1.10". Every line holds the
// empty label, so without an installed version the first line counts as its
// header.
[[nodiscard]] bool holds_label(std::string_view line, std::string_view label);
// Whether any line of the manifest holds the label.
[[nodiscard]] bool manifest_holds_label(App& app, const std::string& manifest_path,
                                        std::string_view label);

// Empties the list and fills it with every entry of the manifest. False, with
// the list empty and the reason on standard error, when a line is refused or
// the manifest is larger than the launcher reads (32 MiB).
[[nodiscard]] bool read_full_entries(App& app, const std::string& manifest_path,
                                     EntryList& entries);
// Empties the list and fills it with the entries after the first version
// header that follows the first line holding installed_label. False as above.
[[nodiscard]] bool read_delta_entries(App& app, const std::string& manifest_path,
                                      const std::string& installed_label, EntryList& entries);

// Downloads every entry of the manifest; false at the first failed download,
// and before any download when the manifest is refused (status 401).
// With sums, every file must match its sum (see release_check.hpp).
[[nodiscard]] bool install_full_manifest(App& app, EntryList& entries,
                                         const std::string& manifest_path,
                                         const std::string& local_base,
                                         const std::string& address_base,
                                         const Sums* sums = nullptr);

// Downloads what the update manifest lists after the installed version;
// nothing when the two labels are equal. With sums, what the release no
// longer holds is left out (see entries_still_released). False at the first
// failed download, or when the manifest is refused as above.
[[nodiscard]] bool install_manifest_delta(
    App& app, EntryList& entries, const std::string& manifest_path, const std::string& local_base,
    const std::string& address_base, const std::string& installed_label,
    const std::string& server_label, const Sums* sums = nullptr);

// Fetches the server's settings copy as "glo_stp.xml" and answers its version
// type when its version line differs from the version setting, else "".
[[nodiscard]] std::string check_launcher_update(App& app);

}  // namespace tarvel
