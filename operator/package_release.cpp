#include "operator/package_release.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "core/text_lines.hpp"
#include "operator/coded_copies.hpp"
#include "operator/command_line.hpp"
#include "operator/publish_rules.hpp"
#include "operator/signing.hpp"
#include "platform/files.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionHeader = "$version-";
constexpr std::string_view kMandatoryHeader = "$versionm-";
constexpr std::string_view kManifestSuffix = ".xml";
constexpr const char* kStateSuffix = ".state";
constexpr const char* kStateComment =
    "# tarvel-manifest: the last release of this package. Keep it beside the manifests.";
constexpr std::string_view kStateVersion = "version ";
constexpr std::string_view kStateMandatory = "mandatory ";
constexpr std::string_view kStateSource = "source ";
constexpr std::string_view kStateTarget = "target ";
constexpr std::string_view kStateFile = "file ";
constexpr std::string_view kStateSerial = "serial ";

// What the previous release left in the state file.
struct State {
  std::string version_header;
  std::string mandatory_header;
  std::string source;
  std::string target;
  std::uint64_t serial = 0;                   // of the sums files; 0 before the first
  std::map<std::string, std::string> hashes;  // relative path -> content hash
};

// One file of the package as this release publishes it.
struct PackageFile {
  std::string relative;  // "/" between folders
  std::string hash;
  std::uint64_t size = 0;
  std::string line;  // its manifest line
};

std::string ending_with(std::string text, char separator) {
  if (!text.empty() && text.back() != separator) text += separator;
  return text;
}

std::string with_separator(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// "common_slot_install.xml" gives "common_slot.state".
std::string state_name_for(const std::string& install_name) {
  const std::string tail = std::string("_") + kInstallKind + std::string(kManifestSuffix);
  return install_name.substr(0, install_name.size() - tail.size()) + kStateSuffix;
}

std::string without_announcement(std::string_view text) {
  std::string out;
  for (const std::string_view line : text_lines(text)) {
    if (line != kSumsAnnouncement) out.append(line).append("\n");
  }
  return out;
}

// Every file below the folder, by path relative to the package folder. A
// link or a device is refused: what it stands for could change unseen. So
// is a folder that cannot be listed: its files would be missing from the
// release without a word.
void collect_files(Files& files, const std::string& root, const std::string& relative,
                   std::vector<std::string>& found, std::vector<std::string>& problems) {
  const auto entries = files.read_folder(joined(root, relative));
  if (!entries) {
    problems.push_back(joined(root, relative) + ": the folder cannot be listed");
    return;
  }
  for (const Files::Entry& entry : *entries) {
    const std::string path = joined(relative, entry.name);
    if (entry.kind == Files::Kind::directory) {
      collect_files(files, root, path, found, problems);
    } else if (entry.kind == Files::Kind::file) {
      found.push_back(path);
    } else {
      problems.push_back(path + ": not a plain file or folder (a link?): publish the file itself");
    }
  }
}

// The manifest line of a file, checked by reading it back the way the
// installers do.
std::optional<std::string> entry_line(const std::string& relative, const std::string& source,
                                      const std::string& target, std::string& problem) {
  if (auto reason = refused_path_reason(relative)) {
    problem = relative + ": " + *reason;
    return std::nullopt;
  }
  const auto slash = relative.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "" : with_separator(relative.substr(0, slash + 1), '/', '\\');
  const std::string name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
  const ManifestEntry expected{name, target + folder, source + relative};
  const std::string line = expected.remote_path + "," + expected.target_folder;
  if (read_entry_line(line) != expected) {
    problem = relative + ": launchers would not read its manifest line \"" + line + "\" as written";
    return std::nullopt;
  }
  return line;
}

std::optional<State> parse_state(std::string_view text, const std::string& name,
                                 std::vector<std::string>& problems) {
  State state;
  for (const std::string_view line : text_lines(text)) {
    if (line.empty() || line.front() == '#') continue;
    const auto value = [&](std::string_view key) { return std::string(line.substr(key.size())); };
    if (line.starts_with(kStateVersion)) {
      state.version_header = value(kStateVersion);
    } else if (line.starts_with(kStateMandatory)) {
      state.mandatory_header = value(kStateMandatory);
    } else if (line.starts_with(kStateSource)) {
      state.source = value(kStateSource);
    } else if (line.starts_with(kStateTarget)) {
      state.target = value(kStateTarget);
    } else if (line.starts_with(kStateSerial)) {
      long long serial = 0;
      if (!read_number(value(kStateSerial), 0, std::numeric_limits<long long>::max(), serial)) {
        problems.push_back(name + ": cannot read the serial \"" + value(kStateSerial) + "\"");
        return std::nullopt;
      }
      state.serial = static_cast<std::uint64_t>(serial);
    } else if (line.starts_with(kStateFile) && line.find(' ', kStateFile.size()) != line.npos) {
      const std::string rest = value(kStateFile);
      const auto space = rest.find(' ');
      state.hashes[rest.substr(space + 1)] = rest.substr(0, space);
    } else {
      problems.push_back(name + ": cannot read the line \"" + std::string(line) + "\"");
      return std::nullopt;
    }
  }
  if (state.version_header.empty()) {
    problems.push_back(name + ": names no version");
    return std::nullopt;
  }
  return state;
}

std::string state_text(const std::string& version_header, const std::string& mandatory_header,
                       const std::string& source, const std::string& target, std::uint64_t serial,
                       const std::vector<PackageFile>& package) {
  std::string text = std::string(kStateComment) + "\n";
  text.append(kStateVersion).append(version_header).append("\n");
  text.append(kStateSerial).append(std::to_string(serial)).append("\n");
  if (!mandatory_header.empty()) text.append(kStateMandatory).append(mandatory_header).append("\n");
  text.append(kStateSource).append(source).append("\n");
  text.append(kStateTarget).append(target).append("\n");
  for (const PackageFile& file : package) {
    text.append(kStateFile).append(file.hash).append(" ").append(file.relative).append("\n");
  }
  return text;
}

// Everything one call works with.
class Publisher {
 public:
  Publisher(Files& files, const PackageRelease& release) : files_(files), release_(release) {
    result_.install_name = build_manifest_name(release.group, release.package, kInstallKind);
    result_.update_name = build_manifest_name(release.group, release.package, kUpdateKind);
    result_.state_name = state_name_for(result_.install_name);
    result_.version_header = std::string(kVersionHeader) + release.version;
    // A ".." that stays inside is folded away; one that climbs out is kept
    // for the check to name.
    source_ = ending_with(folded_path(release.source).value_or(release.source), '/');
    const std::string target = with_separator(release.target, '\\', '/');
    target_ = with_separator(ending_with(folded_path(target).value_or(target), '/'), '/', '\\');
  }

  ReleaseResult run() {
    check_options();
    // The history first: it tells which names beside the files are the
    // copies and patches of the previous release.
    if (result_.ok()) read_history();
    if (result_.ok()) read_package();
    if (!result_.ok()) return std::move(result_);
    compare_with_previous();
    if (result_.ok() && !result_.already_published) write_release();
    if (result_.ok() && result_.already_published) renew_first_form_sums();
    return std::move(result_);
  }

 private:
  void problem(std::string text) { result_.problems.push_back(std::move(text)); }
  std::string mandatory_header() const {
    return release_.mandatory.empty() ? "" : std::string(kMandatoryHeader) + release_.mandatory;
  }
  std::string out_path(const std::string& name) const { return joined(release_.out_dir, name); }
  std::string folder_path(const std::string& folder) const {
    std::string path = files_.native_path(folder);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }

  void check_options() {
    if (release_.package.empty()) problem("--package is empty");
    if (!is_plain_file_name(result_.install_name))
      problem("--package and --group give no file name");
    if (files_.kind(release_.package_dir) != Files::Kind::directory) {
      problem(release_.package_dir + ": not a folder");
    }
    if (auto reason = refused_label_reason(release_.version)) problem("--version " + *reason);
    if (!release_.mandatory.empty()) {
      if (auto reason = refused_label_reason(release_.mandatory)) problem("--mandatory " + *reason);
    }
    if (source_.empty()) problem("--source is empty: launchers need a folder to fetch files from");
    if (auto reason = refused_prefix_reason(source_, "--source")) problem(*reason);
    if (auto reason = refused_prefix_reason(with_separator(target_, '\\', '/'), "--target")) {
      problem(*reason);
    }
  }

  void read_package() {
    std::vector<std::string> found;
    collect_files(files_, release_.package_dir, "", found, result_.problems);
    std::sort(found.begin(), found.end());
    const std::set<std::string> all(found.begin(), found.end());
    const auto is_file = [&](const std::string& relative) {
      return all.contains(relative) || (previous_ && previous_->hashes.contains(relative));
    };
    for (const std::string& relative : found) {
      if (is_own_output(relative)) continue;
      if (is_coded_copy(relative, is_file)) {
        coded_found_.push_back(relative);
        continue;
      }
      std::string refused;
      const auto line = entry_line(relative, source_, target_, refused);
      if (!line) {
        problem(std::move(refused));
        continue;
      }
      const auto sum = file_sum(files_.native_path(joined(release_.package_dir, relative)));
      if (!sum) {
        problem(relative + ": cannot be read");
        continue;
      }
      package_.push_back({relative, sum->sha256, sum->size, *line});
    }
    if (found.empty() && result_.ok()) problem(release_.package_dir + ": no files to publish");
    result_.files = static_cast<int>(package_.size());
  }

  // Manifests written into the package folder itself are not part of it.
  bool is_own_output(const std::string& relative) const {
    const bool same_folder = folder_path(release_.package_dir) == folder_path(release_.out_dir);
    std::string name = relative;
    for (const std::string_view suffix : {kSignatureSuffix, kSumsSuffix}) {
      if (name.ends_with(suffix)) name.resize(name.size() - suffix.size());
    }
    return same_folder && (name == result_.install_name || name == result_.update_name ||
                           relative == result_.state_name ||
                           relative.starts_with(bases_folder_name(result_.state_name) + "/"));
  }

  void read_history() {
    const auto state_text = files_.read(out_path(result_.state_name));
    history_ = files_.read(out_path(result_.update_name));
    if (state_text) {
      previous_ = parse_state(*state_text, result_.state_name, result_.problems);
      if (previous_ && !history_) {
        problem(result_.update_name + " is missing, but " + result_.state_name + " says " +
                previous_->version_header + " was published: restore it, or move " +
                result_.state_name + " away to start the package's history anew");
      }
    } else if (history_) {
      problem(result_.update_name + " exists but " + result_.state_name +
              " does not, so what changed cannot be told: move the old manifests away to start "
              "the package's history anew");
    }
    result_.first_release = !state_text.has_value();
  }

  void compare_with_previous() {
    std::map<std::string, std::string> left;
    if (previous_) left = previous_->hashes;
    const bool moved = previous_ && (previous_->source != source_ || previous_->target != target_);
    for (const PackageFile& file : package_) {
      const auto found = left.find(file.relative);
      if (found == left.end() || found->second != file.hash || moved) {
        result_.changed.push_back(file.relative);
      }
      if (found != left.end()) left.erase(found);
    }
    for (const auto& [relative, hash] : left) result_.removed.push_back(relative);
    if (previous_ && previous_->version_header == result_.version_header) {
      settle_same_label();
    } else if (history_ && contains(*history_, result_.version_header)) {
      problem(result_.update_name + " already holds a line with \"" + result_.version_header +
              "\": launchers look a version up by that text, so give a label that no earlier "
              "one contains");
    }
  }

  // Publishing a label again is fine while nothing changed, as a rerun.
  void settle_same_label() {
    const bool same =
        result_.changed.empty() && result_.removed.empty() &&
        (release_.mandatory.empty() || previous_->mandatory_header == mandatory_header());
    if (same) {
      result_.already_published = true;
    } else {
      problem(result_.version_header + " was published with other files: give a new --version");
    }
  }

  void write_release() {
    const std::string mandatory = mandatory_header();
    const std::string previous_mandatory = previous_ ? previous_->mandatory_header : "";
    const std::string current_mandatory = mandatory.empty() ? previous_mandatory : mandatory;
    // A mandatory header goes before the version header, so the last
    // "$version" line of a manifest stays the version header.
    std::string headers = current_mandatory.empty() ? "" : current_mandatory + "\n";
    headers += result_.version_header + "\n";
    std::string install = headers;
    for (const PackageFile& file : package_) install += file.line + "\n";

    // The history keeps one announcement, at its end.
    std::string update = without_announcement(history_.value_or(""));
    if (!mandatory.empty() && mandatory != previous_mandatory) update += mandatory + "\n";
    update += result_.version_header + "\n";
    // The history starts with a bare header: launchers that installed this
    // release whole have every file of it already.
    for (const PackageFile& file : package_) {
      if (!result_.first_release &&
          std::binary_search(result_.changed.begin(), result_.changed.end(), file.relative)) {
        update += file.line + "\n";
      }
    }
    result_.serial = previous_ ? previous_->serial + 1 : 1;
    write_coded();
    // Launchers ask for the sums of a manifest that says they are published.
    install += std::string(kSumsAnnouncement) + "\n";
    update += std::string(kSumsAnnouncement) + "\n";
    // The state goes last: until it is written, a rerun sees the release as new.
    write(result_.install_name, install);
    write(result_.update_name, update);
    write_sums(result_.install_name, install);
    write_sums(result_.update_name, update);
    write(result_.state_name, state_text(result_.version_header, current_mandatory, source_,
                                         target_, result_.serial, package_));
  }

  // Sums written before they named their package are refused by launchers
  // that hold a key: publishing the same release again renews them, with
  // the same serial, and leaves the manifests as they are.
  void renew_first_form_sums() {
    result_.serial = previous_->serial;
    for (const std::string& manifest_name : {result_.install_name, result_.update_name}) {
      const auto sums = files_.read(out_path(manifest_name + kSumsSuffix));
      const auto manifest = files_.read(out_path(manifest_name));
      std::string error;
      const auto read = sums ? parse_sums(*sums, error) : std::nullopt;
      if (!manifest || (read && read->package == result_.install_name)) continue;
      write_sums(manifest_name, *manifest);
      result_.sums_renewed = true;
    }
  }

  // Compressed copies and patches beside the files, before the sums that list them.
  void write_coded() {
    std::vector<ReleasedFile> released;
    released.reserve(package_.size());
    for (const PackageFile& file : package_) {
      ReleasedFile out{file.relative, sums_key(source_ + file.relative), {file.hash, file.size}, {}};
      const bool changed =
          std::binary_search(result_.changed.begin(), result_.changed.end(), file.relative);
      if (changed && previous_) {
        const auto previous = previous_->hashes.find(file.relative);
        if (previous != previous_->hashes.end()) out.previous_sha256 = previous->second;
      }
      released.push_back(std::move(out));
    }
    coded_ = write_coded_copies(files_, release_.package_dir,
                                out_path(bases_folder_name(result_.state_name)), released,
                                coded_found_);
    for (std::string& text : coded_.problems) problem(std::move(text));
  }

  // Each manifest's sums name every file of the package: an update may
  // fetch any of them, and the launcher records them all.
  void write_sums(const std::string& manifest_name, const std::string& manifest) {
    Sums sums{result_.install_name, sha256_hex(manifest), result_.version_header, result_.serial,
              {}};
    for (const PackageFile& file : package_) {
      sums.files[sums_key(source_ + file.relative)] = {file.hash, file.size};
    }
    sums.compressed = coded_.compressed;
    sums.patches = coded_.patches;
    const std::string name = manifest_name + kSumsSuffix;
    const std::string text = sums_text(sums);
    write(name, text);
    if (release_.signing_key.empty()) return;
    const std::optional<std::string> signature = sign_text(release_.signing_key, text);
    if (!signature) {
      problem(name + ": the signing key is not an Ed25519 private key");
      return;
    }
    write(name + kSignatureSuffix, *signature + "\n");
  }

  void write(const std::string& name, const std::string& text) {
    if (result_.ok() && !files_.write(out_path(name), text)) problem(name + ": cannot be written");
  }

  Files& files_;
  const PackageRelease& release_;
  ReleaseResult result_;
  std::string source_;
  std::string target_;
  std::vector<PackageFile> package_;
  std::optional<State> previous_;
  std::optional<std::string> history_;
  std::vector<std::string> coded_found_;  // copies and patches earlier releases left
  CodedCopies coded_;
};

}  // namespace

ReleaseResult publish_package(Files& files, const PackageRelease& release) {
  return Publisher(files, release).run();
}

}  // namespace tarvel
