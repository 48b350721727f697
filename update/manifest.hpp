#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class App;

// One file of a package: where it goes and where it comes from.
struct ManifestEntry {
  std::string file_name;      // after the last "/" or "\" of the source path
  std::string target_folder;  // relative to the application directory, white space removed
  std::string remote_path;    // the source path with "\" turned into "/"
  bool operator==(const ManifestEntry&) const = default;
};

using EntryList = std::vector<ManifestEntry>;

// What a manifest lists for an installation: its entries in file order, and
// the folders its entry lines name (those of lines that add no entry too),
// each once, a folder after the folders it lies in.
struct ManifestEntries {
  EntryList entries;
  std::vector<std::string> folders;  // as target_folder_prefixes() gives them
  int entry_lines = 0;               // lines holding "," in the whole manifest (count_entries)
};

// --- Readers (a file that cannot be opened reads as empty) ---

// Label of the last line holding "$version" (from there to the line's end), or "".
[[nodiscard]] std::string read_version_label(App& app, const std::string& path);
// The same for "$versionm".
[[nodiscard]] std::string read_mandatory_label(App& app, const std::string& path);
// Text after the first "=" of the first line holding "version_type" and "=", or "".
[[nodiscard]] std::string read_version_type(App& app, const std::string& path);

// The text those readers read: "" when the file cannot be opened or is
// larger than the launcher reads (32 MiB).
[[nodiscard]] std::string manifest_file_text(App& app, const std::string& path);

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

// True when a target folder or file name stays inside the application
// directory: no ".." component, not absolute, no drive or stream colon.
[[nodiscard]] bool stays_inside(std::string_view relative);

// The entry one manifest line (holding a ",") stands for, as the installers
// read it, or nothing when the line adds none: no file name after the
// source's last separator, or a folder or name that leads outside the
// application directory.
[[nodiscard]] std::optional<ManifestEntry> read_entry_line(std::string_view line);

// Reads one manifest line (which holds a ",") as the readers below read
// each, the look at its folders included: read receives its entry (none when
// the source path has no file name) and its folders. False when the line is
// refused: it points outside the application directory, through a symbolic
// link in it, or holds a control character.
[[nodiscard]] bool read_entry_line(App& app, std::string_view line, ManifestEntries& read);

// Where an entry is fetched from and written to.
struct EntryTransfer {
  std::string address;
  std::string local_path;  // launcher form, absolute or relative to the application directory
  bool operator==(const EntryTransfer&) const = default;
};

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

// --- Reading a manifest for an installation ---

// Whether the line's version label (from its first "$version" on) is exactly
// label: "$version-1.1" is not held by "$version-1.10". Every line holds the
// empty label, so without an installed version the first line counts as its
// header.
[[nodiscard]] bool holds_label(std::string_view line, std::string_view label);
// Whether any line of the manifest holds the label.
[[nodiscard]] bool manifest_holds_label(App& app, const std::string& manifest_path,
                                        std::string_view label);

// Every entry of the manifest. Nothing on disk changes: the folders are
// only looked at (a symbolic link on the way refuses the line). False, with
// nothing read and the reason on standard error, when a line is refused or
// the manifest is larger than the launcher reads (32 MiB).
[[nodiscard]] bool read_full_entries(App& app, const std::string& manifest_path,
                                     ManifestEntries& read);
// The entries after the first version header that follows the first line
// holding installed_label. False as above.
[[nodiscard]] bool read_delta_entries(App& app, const std::string& manifest_path,
                                      const std::string& installed_label, ManifestEntries& read);

// The same, for the entries alone; the list is emptied first.
[[nodiscard]] bool read_full_entries(App& app, const std::string& manifest_path,
                                     EntryList& entries);
[[nodiscard]] bool read_delta_entries(App& app, const std::string& manifest_path,
                                      const std::string& installed_label, EntryList& entries);

}  // namespace tarvel
