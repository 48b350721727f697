#include "update/manifest.hpp"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "platform/leftover_names.hpp"
#include "update/download.hpp"
#include "update/package_files.hpp"
#include "update/release_check.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionMarker = "$version";
constexpr std::string_view kMandatoryMarker = "$versionm";
constexpr std::string_view kVersionTypeKey = "version_type";
constexpr std::string_view kCommonPrefix = "COMMON";
constexpr std::string_view kGamesPrefix = "GAMES";
constexpr const char* kSettingsCopySource = "setup";

// Manifests are read whole; a hostile server's endless one must not take
// the player's memory with it.
constexpr std::size_t kManifestLimitBytes = std::size_t{32} << 20;
// A package lists thousands of files; a manifest of a million short lines is
// hostile, and its entries alone would take a hundred times its size.
constexpr std::size_t kEntryLimit = 1'000'000;
// Refused lines named on standard error per manifest; a hostile manifest
// could hold millions.
constexpr std::size_t kRefusalsShown = 10;

// The manifest's text: "" when it cannot be opened, nothing when it is
// larger than the launcher reads.
std::optional<std::string> manifest_text(App& app, const std::string& path) {
  std::optional<std::string> text = app.files().read(path, kManifestLimitBytes + 1);
  if (!text) return std::string();
  if (text->size() > kManifestLimitBytes) return std::nullopt;
  return text;
}

// For the readers of labels and counts, an oversized manifest reads as empty;
// the installation routines refuse it outright.
std::string file_text(App& app, const std::string& path) {
  return manifest_text(app, path).value_or(std::string());
}

// A control character in a name would cut it short or change it on its way
// to the system: "victim\0\\" names "victim".
bool has_control_character(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string without_white_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) out.push_back(c);
  }
  return out;
}

std::string normalised_part(std::string_view part) {
  std::string out;
  out.reserve(part.size());
  for (const char c : part) {
    out.push_back(c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

// A component made of dots (and spaces, which some systems drop from the
// end of a name) other than "." itself can climb out of its folder.
bool climbs(std::string_view component) {
  if (component.empty() || component == ".") return false;
  return component.find_first_not_of(". ") == std::string_view::npos;
}

bool has_comma(std::string_view line) { return line.find(',') != std::string_view::npos; }

// A file name of dots alone ("." included) names a folder, never a file.
bool safe_file_name(std::string_view name) {
  return stays_inside(name) &&
         (name.empty() || name.find_first_not_of(". ") != std::string_view::npos);
}

// A file or folder named like a download's leftover would be swept away
// after every installation: installed, then gone, never converging.
bool sweep_keeps(std::string_view folder, std::string_view file_name) {
  return !holds_leftover_name(folder) && !is_leftover_name(file_name);
}

// One entry line cut into its entry; accepted is false when its folder or
// file name would lead out of the application directory or holds a control
// character. An empty file name adds no entry, though its folders are still
// made.
struct EntryLine {
  ManifestEntry entry;
  bool accepted = false;
};

EntryLine split_entry_line(std::string_view line) {
  const auto comma = line.find(',');
  const std::string_view source = line.substr(0, comma);
  EntryLine parts;
  parts.entry.target_folder = without_white_space(line.substr(comma + 1));
  const auto separator = source.find_last_of("/\\");
  const std::string_view file_name =
      separator == std::string_view::npos ? std::string_view() : source.substr(separator + 1);
  // With dot-only names refused, no folder and name can join into "..".
  parts.accepted = !has_control_character(source) &&
                   !has_control_character(parts.entry.target_folder) &&
                   stays_inside(parts.entry.target_folder) && safe_file_name(file_name) &&
                   sweep_keeps(parts.entry.target_folder, file_name);
  if (!parts.accepted || file_name.empty()) return parts;
  parts.entry.file_name = file_name;
  parts.entry.remote_path = source;
  std::replace(parts.entry.remote_path.begin(), parts.entry.remote_path.end(), '\\', '/');
  return parts;
}

// Reads manifest lines into an entry list. Each folder is created once per
// manifest: a package lists hundreds of files per folder, and creating a
// folder is far dearer than remembering that it was made. Lines it refuses
// are kept for the report.
class EntryReader {
 public:
  EntryReader(App& app, EntryList& entries)
      : app_(app), entries_(entries), base_(app.settings().application_directory()) {
    entries_.clear();
  }

  // False when the line is refused: it would write outside the application
  // directory, through a link, or with a name the system would read
  // differently. A refused line adds nothing and creates nothing.
  bool handle(std::string_view line) {
    EntryLine parts = split_entry_line(line);
    if (!parts.accepted || !make_folders(parts.entry.target_folder)) return refuse(line);
    if (parts.entry.file_name.empty()) return true;
    if (entries_.size() == kEntryLimit) {
      too_many_ = true;
      return false;
    }
    entries_.push_back(std::move(parts.entry));
    return true;
  }

  // Names the refused lines on standard error; true when there were none.
  bool report(const std::string& manifest_path) const {
    const std::string manifest = printable(manifest_path);
    for (const std::string& line : shown_) {
      app_.log().cause(manifest + ": refused the line \"" + printable(line) + "\"");
    }
    if (refused_ > shown_.size()) {
      app_.log().cause(manifest + ": refused " + std::to_string(refused_ - shown_.size()) +
                       " more lines");
    }
    if (too_many_) {
      app_.log().cause(manifest + ": lists more than " + std::to_string(kEntryLimit) +
                       " files, refused");
    }
    return refused_ == 0 && !too_many_;
  }

 private:
  bool refuse(std::string_view line) {
    if (shown_.size() < kRefusalsShown) shown_.emplace_back(line);
    ++refused_;
    return false;
  }

  // False when a folder on the way is a link: what is written there would
  // land wherever it points. (The file layer refuses to follow it as well;
  // this names the line before anything is fetched.)
  bool make_folders(const std::string& folder) {
    if (folder.empty()) return true;
    const auto known = folders_.find(folder);
    if (known != folders_.end()) return known->second;
    bool usable = true;
    for (const std::string& prefix : target_folder_prefixes(folder)) {
      if (usable && prefixes_.insert(prefix).second) {
        app_.files().create_directory(base_ + prefix);
      }
      usable = usable && app_.files().kind(base_ + prefix) != Files::Kind::symlink;
    }
    folders_.emplace(folder, usable);
    return usable;
  }

  App& app_;
  EntryList& entries_;
  const std::string base_;
  std::unordered_map<std::string, bool> folders_;
  std::unordered_set<std::string> prefixes_;
  std::vector<std::string> shown_;
  std::size_t refused_ = 0;
  bool too_many_ = false;
};

// Reads a manifest for an installation routine; false (named on standard
// error) when it is too large to read.
bool read_for_install(App& app, const std::string& path, std::string& text) {
  std::optional<std::string> read = manifest_text(app, path);
  if (!read) {
    app.log().cause(printable(path) + ": larger than " + std::to_string(kManifestLimitBytes >> 20) +
                    " MiB, refused");
    return false;
  }
  text = std::move(*read);
  return true;
}

bool download_entries(App& app, const EntryList& entries, const std::string& local_base,
                      const std::string& address_base, const std::string& manifest_path,
                      const Sums* sums) {
  std::vector<EntryTransfer> transfers = entry_transfers(app, entries, local_base, address_base);
  if (sums != nullptr && !attach_body_checks(app, *sums, entries, transfers, manifest_path)) {
    return install_failed(app);
  }
  return download_files(app, transfers);
}

// The rest of a remote path after a prefix and the separator that follows it.
std::string after_prefix(const std::string& remote, std::size_t prefix_size) {
  return remote.size() > prefix_size + 1 ? remote.substr(prefix_size + 1) : std::string();
}

}  // namespace

std::string printable(std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string last_label(std::string_view text, std::string_view marker) {
  std::string_view label;
  for_each_line(text, [&](std::string_view line) {
    const auto at = line.find(marker);
    if (at != std::string_view::npos) label = line.substr(at);
  });
  return std::string(label);
}

std::string version_type_of(std::string_view text) {
  for (const std::string_view line : text_lines(text)) {
    if (!contains(line, kVersionTypeKey)) continue;
    const auto equals = line.find('=');
    if (equals != std::string_view::npos) return std::string(line.substr(equals + 1));
  }
  return {};
}

int count_entry_lines(std::string_view text) {
  int count = 0;
  for_each_line(text, [&](std::string_view line) { count += has_comma(line) ? 1 : 0; });
  return count;
}

std::string read_version_label(App& app, const std::string& path) {
  return version_label(file_text(app, path));
}

std::string version_label(std::string_view text) { return last_label(text, kVersionMarker); }

std::string read_mandatory_label(App& app, const std::string& path) {
  return last_label(file_text(app, path), kMandatoryMarker);
}

std::string read_version_type(App& app, const std::string& path) {
  return version_type_of(file_text(app, path));
}

void count_entries(App& app, const std::string& path) {
  const int count = count_entry_lines(file_text(app, path));
  app.settings().locked([&](SettingsValues& v) {
    v.item_count = count;
    v.item_index = 0;
  });
}

std::string build_manifest_name(const std::string& prefix, const std::string& package,
                                const std::string& kind) {
  std::string name;
  for (const std::string* part : {&prefix, &package}) {
    if (!part->empty()) name += normalised_part(*part) + "_";
  }
  return name + normalised_part(kind) + ".xml";
}

std::vector<std::string> target_folder_prefixes(std::string_view folder) {
  std::vector<std::string> prefixes;
  for (std::size_t at = folder.find('\\'); at != std::string_view::npos;
       at = folder.find('\\', at + 1)) {
    if (at > 0) prefixes.emplace_back(folder.substr(0, at));
  }
  return prefixes;
}

bool stays_inside(std::string_view relative) {
  if (relative.empty()) return true;
  if (relative.front() == '\\' || relative.front() == '/') return false;
  if (contains(relative, ":")) return false;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const auto end = std::min(relative.find_first_of("/\\", start), relative.size());
    if (climbs(relative.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

void create_target_folders(App& app, const std::string& folder) {
  if (!stays_inside(folder)) return;
  const std::string base = app.settings().application_directory();
  for (const std::string& prefix : target_folder_prefixes(folder)) {
    app.files().create_directory(base + prefix);
  }
}

std::optional<ManifestEntry> read_entry_line(std::string_view line) {
  EntryLine parts = split_entry_line(line);
  if (!parts.accepted || parts.entry.file_name.empty()) return std::nullopt;
  return std::move(parts.entry);
}

bool handle_entry_line(App& app, std::string_view line, EntryList& entries) {
  EntryList added;
  EntryReader reader(app, added);
  const bool accepted = reader.handle(line);
  entries.insert(entries.end(), added.begin(), added.end());
  return accepted;
}

EntryTransfer entry_transfer(const ManifestEntry& entry, const std::string& common_url,
                             const std::string& game_url, const std::string& local_base,
                             const std::string& address_base) {
  const std::string& remote = entry.remote_path;
  std::string address;
  if (remote.compare(0, kCommonPrefix.size(), kCommonPrefix) == 0) {
    address = common_url + after_prefix(remote, kCommonPrefix.size());
  } else if (remote.compare(0, kGamesPrefix.size(), kGamesPrefix) == 0) {
    address = game_url + after_prefix(remote, kGamesPrefix.size());
  } else {
    address = address_base + remote;
  }
  return {std::move(address), local_base + entry.target_folder + entry.file_name};
}

std::vector<EntryTransfer> entry_transfers(App& app, const EntryList& entries,
                                           const std::string& local_base,
                                           const std::string& address_base) {
  const std::string common_url = app.settings().common_url();
  const std::string game_url = app.settings().game_url();
  std::vector<EntryTransfer> transfers;
  transfers.reserve(entries.size());
  for (const ManifestEntry& entry : entries) {
    transfers.push_back(entry_transfer(entry, common_url, game_url, local_base, address_base));
  }
  return transfers;
}

bool holds_label(std::string_view line, std::string_view label) {
  if (label.empty()) return true;
  const auto at = line.find(kVersionMarker);
  return at != std::string_view::npos && line.substr(at) == label;
}

bool manifest_holds_label(App& app, const std::string& manifest_path, std::string_view label) {
  bool held = false;
  for_each_line(file_text(app, manifest_path),
                [&](std::string_view line) { held = held || holds_label(line, label); });
  return held;
}

bool read_full_entries(App& app, const std::string& manifest_path, EntryList& entries) {
  std::string text;
  EntryReader reader(app, entries);
  if (!read_for_install(app, manifest_path, text)) return false;
  for_each_line(text, [&](std::string_view line) {
    if (has_comma(line)) (void)reader.handle(line);
  });
  if (reader.report(manifest_path)) return true;
  entries.clear();
  return false;
}

bool read_delta_entries(App& app, const std::string& manifest_path,
                        const std::string& installed_label, EntryList& entries) {
  enum class State { seek_installed, seek_next_header, collect };
  std::string text;
  EntryReader reader(app, entries);
  if (!read_for_install(app, manifest_path, text)) return false;
  State state = State::seek_installed;
  for_each_line(text, [&](std::string_view line) {
    if (state == State::seek_installed) {
      if (holds_label(line, installed_label)) state = State::seek_next_header;
    } else if (state == State::seek_next_header) {
      if (contains(line, kVersionMarker)) state = State::collect;
    } else if (has_comma(line)) {
      (void)reader.handle(line);
    }
  });
  if (reader.report(manifest_path)) return true;
  entries.clear();
  return false;
}

bool install_full_manifest(App& app, EntryList& entries, const std::string& manifest_path,
                           const std::string& local_base, const std::string& address_base,
                           const Sums* sums) {
  if (!read_full_entries(app, manifest_path, entries)) return install_failed(app);
  return download_entries(app, entries, local_base, address_base, manifest_path, sums);
}

bool install_manifest_delta(App& app, EntryList& entries, const std::string& manifest_path,
                            const std::string& local_base, const std::string& address_base,
                            const std::string& installed_label, const std::string& server_label,
                            const Sums* sums) {
  entries.clear();
  if (installed_label == server_label) return true;
  if (!read_delta_entries(app, manifest_path, installed_label, entries)) return install_failed(app);
  if (sums != nullptr) entries = entries_still_released(*sums, entries);
  return download_entries(app, entries, local_base, address_base, manifest_path, sums);
}

std::string check_launcher_update(App& app) {
  Settings& settings = app.settings();
  settings.set_server_settings_copy_name(kServerSettingsCopyName);
  const std::string address = settings.url() + kSettingsCopySource + settings.manifest_suffix();
  // A failed fetch leaves no copy, which reads as "current".
  (void)download_file(app, address, kServerSettingsCopyName);
  const std::string copy = file_text(app, kServerSettingsCopyName);
  const std::string version = settings.version();
  for (const std::string_view line : text_lines(copy)) {
    const auto dollar = line.find('$');
    if (dollar == std::string_view::npos) continue;
    if (line.substr(dollar) != version) return version_type_of(copy);
  }
  return {};
}

}  // namespace tarvel
