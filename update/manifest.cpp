#include "update/manifest.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "platform/leftover_names.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionMarker = "$version";
constexpr std::string_view kMandatoryMarker = "$versionm";
constexpr std::string_view kVersionTypeKey = "version_type";
constexpr std::string_view kCommonPrefix = "COMMON";
constexpr std::string_view kGamesPrefix = "GAMES";

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

// A control character in a name would cut it short or change it on its way
// to the system: "victim\0\\" names "victim".
bool has_control_character(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The C locale's white space, without a call per character.
bool is_white_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string without_white_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (!is_white_space(c)) out.push_back(c);
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

// What the source path of an entry line (the text before its first ",")
// gives: a manifest runs to 100,000 lines, so each is looked at as few times
// as can be.
struct Source {
  std::string_view file_name;  // after the last "/" or "\"; empty without one
  bool accepted = false;       // no control character, and a name that is a file's
};

// Whether a text holds a control character, looked for eight bytes at a
// time: a byte below 0x20 turns on the top bit of its lane in
// (word - 0x20..) & ~word (bytes from 0x80 on never do).
bool holds_control_character(std::string_view text) {
  constexpr std::uint64_t kLanes = 0x0101010101010101ULL;
  constexpr std::uint64_t kTopBits = 0x8080808080808080ULL;
  std::size_t at = 0;
  for (; at + sizeof(std::uint64_t) <= text.size(); at += sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    if (((word - kLanes * 0x20) & ~word & kTopBits) != 0) return true;
  }
  return has_control_character(text.substr(at));
}

// Dots (and spaces) alone name a folder, never a file.
bool only_dots(std::string_view name) {
  for (const char c : name) {
    if (c != '.' && c != ' ') return false;
  }
  return true;
}

// Where the file name of a source path begins: after its last "/" or "\\",
// found eight bytes at a time from the end; 0 when it has neither. A lane
// of (lane & 0x7f) + 0x7f | lane keeps its top bit clear only for a zero
// byte, and no lane carries into another.
std::size_t name_start(std::string_view source) {
  constexpr std::uint64_t kLanes = 0x0101010101010101ULL;
  constexpr std::uint64_t kLow = 0x7f7f7f7f7f7f7f7fULL;
  std::size_t end = source.size();
  // The lanes are told apart by their order in memory.
  const bool by_words = std::endian::native == std::endian::little;
  for (; by_words && end >= sizeof(std::uint64_t); end -= sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, source.data() + end - sizeof word, sizeof word);
    const auto zeros = [&](std::uint64_t bytes) {
      return ~(((bytes & kLow) + kLow) | bytes | kLow);
    };
    const std::uint64_t found = zeros(word ^ (kLanes * '/')) | zeros(word ^ (kLanes * '\\'));
    // The last byte of the word in the text is its most significant.
    if (found != 0) return end - static_cast<std::size_t>(std::countl_zero(found)) / 8;
  }
  while (end > 0 && source[end - 1] != '/' && source[end - 1] != '\\') --end;
  return end;
}

Source read_source(std::string_view source) {
  Source read;
  if (holds_control_character(source)) return read;
  const std::size_t name_at = name_start(source);
  read.accepted = true;
  if (name_at == 0) return read;  // no separator: the line adds no entry
  read.file_name = source.substr(name_at);
  // A name of dots alone ("." included) names a folder, never a file, and a
  // colon a drive or a stream. With dot-only names refused, no folder and
  // name can join into "..". A name like those of a download's leftovers or
  // an installation's own files would be swept away after every
  // installation: installed, then gone, never converging.
  read.accepted = read.file_name.find(':') == std::string_view::npos &&
                  (read.file_name.empty() || !only_dots(read.file_name)) &&
                  !is_leftover_name(read.file_name) && !is_install_file_name(read.file_name);
  return read;
}

std::string remote_path_of(std::string_view source) {
  std::string remote(source);
  if (source.find('\\') != std::string_view::npos) {
    std::replace(remote.begin(), remote.end(), '\\', '/');
  }
  return remote;
}

// One entry line cut into its entry; accepted is false when its folder or
// file name would lead out of the application directory or holds a control
// character. An empty file name adds no entry, though its folders are still
// made.
struct EntryLine {
  ManifestEntry entry;
  bool accepted = false;
};

// A folder named like a download's leftover would be swept away too.
bool folder_accepted(std::string_view folder) {
  return !has_control_character(folder) && stays_inside(folder) && !holds_leftover_name(folder);
}

EntryLine split_entry_line(std::string_view line) {
  const auto comma = line.find(',');
  const Source source = read_source(line.substr(0, comma));
  EntryLine parts;
  parts.entry.target_folder = without_white_space(line.substr(comma + 1));
  parts.accepted = source.accepted && folder_accepted(parts.entry.target_folder);
  if (!parts.accepted || source.file_name.empty()) return parts;
  parts.entry.file_name = source.file_name;
  parts.entry.remote_path = remote_path_of(line.substr(0, comma));
  return parts;
}

// Reads the entry lines of a manifest, held in memory, into entries. Each
// target folder is looked at once per manifest, by the text the lines give
// it: a package lists hundreds of files per folder, and a look at the disk
// costs far more than remembering its answer. Nothing on disk changes.
// Lines it refuses are kept for the report.
class EntryReader {
 public:
  EntryReader(App& app, ManifestEntries& read)
      : app_(app), read_(read), base_(app.settings().application_directory()) {
    read_.entries.clear();
    read_.folders.clear();
  }

  // False when the line (which holds a "," at comma) is refused: it would
  // write outside the application directory, through a link, or with a name
  // the system would read differently. A refused line adds nothing.
  bool handle(std::string_view line, std::size_t comma) {
    const Folder& folder = folder_of(line.substr(comma + 1));
    const std::string_view source_text = line.substr(0, comma);
    const Source source = read_source(source_text);
    if (!folder.usable || !source.accepted) return refuse(line);
    if (source.file_name.empty()) return true;
    if (read_.entries.size() == kEntryLimit) {
      too_many_ = true;
      return false;
    }
    read_.entries.push_back(
        {std::string(source.file_name), folder.text, remote_path_of(source_text)});
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
  struct Folder {
    std::string text;  // white space removed
    bool usable = false;
  };

  bool refuse(std::string_view line) {
    if (shown_.size() < kRefusalsShown) shown_.emplace_back(line);
    ++refused_;
    return false;
  }

  // The folders lately asked for wait in a small table, by a cheap sum of
  // the text a line gives: most lines find theirs there without the map's
  // hash and divisions.
  static std::size_t slot_of(std::string_view written) {
    std::uint64_t tail = 0;
    const std::size_t bytes = std::min<std::size_t>(written.size(), sizeof tail);
    std::memcpy(&tail, written.data() + written.size() - bytes, bytes);
    return static_cast<std::size_t>(((tail ^ written.size()) * kSlotMix) >> kSlotShift);
  }

  const Folder& folder_of(std::string_view written) {
    Slot& slot = slots_[slot_of(written)];
    if (slot.folder != nullptr && slot.written == written) return *slot.folder;
    auto [known, added] = folders_.try_emplace(written);
    if (added) known->second = look_at(without_white_space(written));
    slot = {written, &known->second};
    return known->second;
  }

  // Unusable when it leads outside, or a folder on the way is a link: what
  // is written there would land wherever it points. (The file layer refuses
  // to follow it as well; this names the line before anything is fetched.)
  Folder look_at(std::string folder) {
    Folder looked{std::move(folder), false};
    if (!folder_accepted(looked.text)) return looked;
    looked.usable = true;
    for (std::string& prefix : target_folder_prefixes(looked.text)) {
      auto [seen, added] = prefixes_.try_emplace(prefix, true);
      if (added) {
        seen->second = app_.files().kind(base_ + prefix) != Files::Kind::symlink;
        read_.folders.push_back(std::move(prefix));
      }
      looked.usable = looked.usable && seen->second;
    }
    return looked;
  }

  App& app_;
  ManifestEntries& read_;
  const std::string base_;
  // Keyed by the text of the manifest, which outlives the reader's use.
  std::unordered_map<std::string_view, Folder> folders_;
  struct Slot {
    std::string_view written;
    const Folder* folder = nullptr;  // in folders_, whose elements stay where they are
  };
  static constexpr std::uint64_t kSlotMix = 0x9e3779b97f4a7c15ULL;
  static constexpr int kSlotShift = 56;  // 256 slots
  std::array<Slot, std::size_t{1} << (64 - kSlotShift)> slots_{};
  std::unordered_map<std::string, bool> prefixes_;  // whether it may be written through
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

// A line of the text, without its line end (and one "\r" before it).
struct Line {
  std::string_view text;
  std::size_t next = 0;  // where the following line begins; past the text's end after the last
};

Line line_from(std::string_view text, std::size_t start) {
  auto end = text.find('\n', start);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(start, end - start);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return {line, end + 1};
}

// The line that holds the character at a position (not a line end).
Line line_at(std::string_view text, std::size_t at) {
  const auto newline = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
  return line_from(text, newline == std::string_view::npos ? 0 : newline + 1);
}

// Hands every line holding a "," to the reader, from the first line on
// (from == 0) or from where a delta's entries begin; the reader reports.
bool read_entry_lines(EntryReader& reader, std::string_view text, std::size_t from,
                      const std::string& manifest_path, ManifestEntries& read) {
  // Counted first: growing the list step by step would copy it over and over.
  const int listed = count_entry_lines(text.substr(from));
  read.entry_lines = count_entry_lines(text.substr(0, from)) + listed;
  read.entries.reserve(std::min<std::size_t>(static_cast<std::size_t>(listed), kEntryLimit));
  for (std::size_t at = from; at < text.size();) {
    const Line line = line_from(text, at);
    const auto comma = line.text.find(',');
    if (comma != std::string_view::npos) (void)reader.handle(line.text, comma);
    at = line.next;
  }
  if (reader.report(manifest_path)) return true;
  read.entries.clear();
  read.folders.clear();
  return false;
}

// Where the line after the first line holding the label begins (past the
// text's end after the last line); nothing when no line holds it. The text
// is searched for the label itself, not line by line: the history before
// it is most of a manifest.
std::optional<std::size_t> after_line_holding(std::string_view text, std::string_view label) {
  if (text.empty()) return std::nullopt;
  // Every line holds the empty label: the first one counts as its header.
  if (label.empty()) return line_from(text, 0).next;
  for (auto at = text.find(label); at != std::string_view::npos; at = text.find(label, at + 1)) {
    const Line line = line_at(text, at);
    if (holds_label(line.text, label)) return line.next;
  }
  return std::nullopt;
}

// Where a delta's entries begin: the line after the first version header
// that follows the first line holding the installed label; the text's end
// when there is none.
std::size_t delta_start(std::string_view text, const std::string& installed_label) {
  const std::optional<std::size_t> after = after_line_holding(text, installed_label);
  if (!after || *after >= text.size()) return text.size();
  const auto header = text.find(kVersionMarker, *after);
  if (header == std::string_view::npos) return text.size();
  return std::min(line_at(text, header).next, text.size());
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
  // The last line holding the marker holds its last occurrence; the label
  // runs from the line's first one.
  const auto last = text.rfind(marker);
  if (last == std::string_view::npos) return {};
  const std::string_view line = line_at(text, last).text;
  return std::string(line.substr(line.find(marker)));
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
  // From one "," to the end of its line, then to the next ",": two searches
  // an entry line, none for the others.
  int count = 0;
  for (auto comma = text.find(','); comma != std::string_view::npos; ++count) {
    const auto end = text.find('\n', comma);
    comma = end == std::string_view::npos ? end : text.find(',', end + 1);
  }
  return count;
}

// For the readers of labels and counts, an oversized manifest reads as empty;
// the installation routines refuse it outright.
std::string manifest_file_text(App& app, const std::string& path) {
  return manifest_text(app, path).value_or(std::string());
}

std::string read_version_label(App& app, const std::string& path) {
  return version_label(manifest_file_text(app, path));
}

std::string version_label(std::string_view text) { return last_label(text, kVersionMarker); }

std::string read_mandatory_label(App& app, const std::string& path) {
  return last_label(manifest_file_text(app, path), kMandatoryMarker);
}

std::string read_version_type(App& app, const std::string& path) {
  return version_type_of(manifest_file_text(app, path));
}

void count_entries(App& app, const std::string& path) {
  const int count = count_entry_lines(manifest_file_text(app, path));
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

std::optional<ManifestEntry> read_entry_line(std::string_view line) {
  EntryLine parts = split_entry_line(line);
  if (!parts.accepted || parts.entry.file_name.empty()) return std::nullopt;
  return std::move(parts.entry);
}

bool read_entry_line(App& app, std::string_view line, ManifestEntries& read) {
  EntryReader reader(app, read);
  return reader.handle(line, line.find(','));
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
  return after_line_holding(manifest_file_text(app, manifest_path), label).has_value();
}

bool read_full_entries(App& app, const std::string& manifest_path, ManifestEntries& read) {
  std::string text;
  EntryReader reader(app, read);
  if (!read_for_install(app, manifest_path, text)) return false;
  return read_entry_lines(reader, text, 0, manifest_path, read);
}

bool read_delta_entries(App& app, const std::string& manifest_path,
                        const std::string& installed_label, ManifestEntries& read) {
  std::string text;
  EntryReader reader(app, read);
  if (!read_for_install(app, manifest_path, text)) return false;
  return read_entry_lines(reader, text, delta_start(text, installed_label), manifest_path, read);
}

bool read_full_entries(App& app, const std::string& manifest_path, EntryList& entries) {
  ManifestEntries read;
  const bool accepted = read_full_entries(app, manifest_path, read);
  entries = std::move(read.entries);
  return accepted;
}

bool read_delta_entries(App& app, const std::string& manifest_path,
                        const std::string& installed_label, EntryList& entries) {
  ManifestEntries read;
  const bool accepted = read_delta_entries(app, manifest_path, installed_label, read);
  entries = std::move(read.entries);
  return accepted;
}

}  // namespace tarvel
