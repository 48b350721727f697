#include "update/manifest.hpp"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "update/download.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionMarker = "$version";
constexpr std::string_view kMandatoryMarker = "$versionm";
constexpr std::string_view kVersionTypeKey = "version_type";
constexpr std::string_view kCommonPrefix = "COMMON";
constexpr std::string_view kGamesPrefix = "GAMES";
constexpr const char* kSettingsCopySource = "setup";

std::string file_text(App& app, const std::string& path) {
  return app.files().read(path).value_or(std::string());
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

// One entry line cut into its entry; inside is false when its folder or file
// name would lead out of the application directory. An empty file name adds
// no entry, though its folders are still made.
struct EntryLine {
  ManifestEntry entry;
  bool inside = false;
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
  parts.inside = stays_inside(parts.entry.target_folder) && safe_file_name(file_name);
  if (!parts.inside || file_name.empty()) return parts;
  parts.entry.file_name = file_name;
  parts.entry.remote_path = source;
  std::replace(parts.entry.remote_path.begin(), parts.entry.remote_path.end(), '\\', '/');
  return parts;
}

// Reads manifest lines into an entry list. Each folder is created once per
// manifest: a package lists hundreds of files per folder, and creating a
// folder is far dearer than remembering that it was made.
class EntryReader {
 public:
  // The list is sized for every entry line of the text up front: growing it
  // step by step would copy and touch several times the memory.
  EntryReader(App& app, EntryList& entries, std::string_view text)
      : app_(app), entries_(entries), base_(app.settings().application_directory()) {
    entries_.clear();
    entries_.reserve(static_cast<std::size_t>(count_entry_lines(text)));
  }

  void handle(std::string_view line) {
    EntryLine parts = split_entry_line(line);
    if (!parts.inside) return;
    make_folders(parts.entry.target_folder);
    if (!parts.entry.file_name.empty()) entries_.push_back(std::move(parts.entry));
  }

 private:
  void make_folders(const std::string& folder) {
    if (folder.empty() || !folders_.insert(folder).second) return;
    for (const std::string& prefix : target_folder_prefixes(folder)) {
      if (prefixes_.insert(prefix).second) app_.files().create_directory(base_ + prefix);
    }
  }

  App& app_;
  EntryList& entries_;
  const std::string base_;
  std::unordered_set<std::string> folders_;
  std::unordered_set<std::string> prefixes_;
};

bool download_entries(App& app, const EntryList& entries, const std::string& local_base,
                      const std::string& address_base) {
  const std::string common_url = app.settings().common_url();
  const std::string game_url = app.settings().game_url();
  for (const ManifestEntry& entry : entries) {
    const EntryTransfer transfer =
        entry_transfer(entry, common_url, game_url, local_base, address_base);
    if (!download_file(app, transfer.address, transfer.local_path)) return false;
  }
  return true;
}

// The rest of a remote path after a prefix and the separator that follows it.
std::string after_prefix(const std::string& remote, std::size_t prefix_size) {
  return remote.size() > prefix_size + 1 ? remote.substr(prefix_size + 1) : std::string();
}

}  // namespace

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
  return last_label(file_text(app, path), kVersionMarker);
}

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
  if (!parts.inside || parts.entry.file_name.empty()) return std::nullopt;
  return std::move(parts.entry);
}

void handle_entry_line(App& app, std::string_view line, EntryList& entries) {
  EntryList added;
  EntryReader reader(app, added, line);
  reader.handle(line);
  entries.insert(entries.end(), added.begin(), added.end());
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

void read_full_entries(App& app, const std::string& manifest_path, EntryList& entries) {
  const std::string text = file_text(app, manifest_path);
  EntryReader reader(app, entries, text);
  for_each_line(text, [&](std::string_view line) {
    if (has_comma(line)) reader.handle(line);
  });
}

void read_delta_entries(App& app, const std::string& manifest_path,
                        const std::string& installed_label, EntryList& entries) {
  enum class State { seek_installed, seek_next_header, collect };
  const std::string text = file_text(app, manifest_path);
  EntryReader reader(app, entries, text);
  State state = State::seek_installed;
  for_each_line(text, [&](std::string_view line) {
    if (state == State::seek_installed) {
      if (contains(line, installed_label)) state = State::seek_next_header;
    } else if (state == State::seek_next_header) {
      if (contains(line, kVersionMarker)) state = State::collect;
    } else if (has_comma(line)) {
      reader.handle(line);
    }
  });
}

bool install_full_manifest(App& app, EntryList& entries, const std::string& manifest_path,
                           const std::string& local_base, const std::string& address_base) {
  read_full_entries(app, manifest_path, entries);
  return download_entries(app, entries, local_base, address_base);
}

bool install_manifest_delta(App& app, EntryList& entries, const std::string& manifest_path,
                            const std::string& local_base, const std::string& address_base,
                            const std::string& installed_label, const std::string& server_label) {
  entries.clear();
  if (installed_label == server_label) return true;
  read_delta_entries(app, manifest_path, installed_label, entries);
  return download_entries(app, entries, local_base, address_base);
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
